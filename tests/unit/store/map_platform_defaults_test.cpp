// Platform defaults and the external management interfaces, against a real
// database and stand-in process tools in a sandbox root.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "store_test_util.hpp"

using namespace config_test;
using strings = std::vector<std::string>;
using ConfigPlatformDefaults = db_test;

namespace {

const strings kBasic11bg = {"11", "5.5", "2", "1"};
const strings kSupported11bg = {"54", "48", "36", "24",  "18", "12",
                                "11", "9",  "6",  "5.5", "2",  "1"};

// description, valid-mode-list, mode and static-channel of a radio
strings radio_settings(const char* radio) {
    strings out;
    for (const char* p : {"description", "valid-mode-list", "mode", "static-channel"}) {
        out.push_back(db_get("radio", radio, p));
    }
    return out;
}

}  // namespace

TEST_F(ConfigPlatformDefaults, TwoRadioTable) {
    make_radios(2);
    // Old rate rows are replaced, not added to.
    pv old_rate{const_cast<char*>("rate"), const_cast<char*>("72"), nullptr, nullptr};
    ASSERT_EQ(lsqlquery_insert_pv("basic-rate", "wlan0", &old_rate), 0);

    std::string out = captured(
        MAP_TRACE_CONFIG, [] { EXPECT_EQ(map_apply_platform_specific_changes("QX_WAP_2R"), 1); });
    EXPECT_EQ(db_get("dot11", nullptr, "status"), "up");
    EXPECT_EQ(radio_settings("wlan0"), (strings{"IEEE 802.11a", "a a-n n-only-a", "a-n", "36"}));
    EXPECT_EQ(radio_settings("wlan1"),
              (strings{"IEEE 802.11b/g", "bg bg-n n-only-g", "bg-n", "6"}));
    EXPECT_EQ(db_column("basic-rate", "wlan0", "rate"), (strings{"24", "12", "6"}));
    EXPECT_EQ(db_column("supported-rate", "wlan0", "rate"),
              (strings{"54", "48", "36", "24", "18", "12", "9", "6"}));
    EXPECT_EQ(db_column("basic-rate", "wlan1", "rate"), kBasic11bg);
    EXPECT_EQ(db_column("supported-rate", "wlan1", "rate"), kSupported11bg);
    EXPECT_TRUE(contains(out, "Success in Deleting class basic-rate for instance wlan0")) << out;
    // dot11 goes down first and up last.
    size_t down = out.find("Success in applying Property- status for class dot11 for instance");
    size_t radio = out.find("Property- description for class radio for instance wlan0");
    size_t up = out.rfind("Success in applying Property- status for class dot11");
    EXPECT_LT(down, radio);
    EXPECT_LT(radio, up);
    EXPECT_NE(up, std::string::npos);
}

TEST_F(ConfigPlatformDefaults, OneRadioTable) {
    make_radios(1);
    EXPECT_EQ(map_apply_platform_specific_changes("QX_WAP"), 1);
    EXPECT_EQ(radio_settings("wlan0"),
              (strings{"IEEE 802.11g", "a bg a-n bg-n n-only-a n-only-g", "bg-n", "6"}));
    EXPECT_EQ(db_column("basic-rate", "wlan0", "rate"), kBasic11bg);
    EXPECT_EQ(db_column("supported-rate", "wlan0", "rate"), kSupported11bg);
    EXPECT_EQ(db_get("radio", "wlan1", "description"), "<absent>");
    EXPECT_EQ(db_get("dot11", nullptr, "status"), "up");
}

TEST_F(ConfigPlatformDefaults, OtherPlatformsAreLeftAloneAndAFailedStepIsPassed) {
    make_radios(2);
    for (const char* platform : {"QX_WA", "qx_wap_2", "AP_QX_WAP", "", (const char*)nullptr}) {
        EXPECT_EQ(map_apply_platform_specific_changes(platform), 0)
            << (platform ? platform : "null");
    }
    EXPECT_EQ(db_get("dot11", nullptr, "status"), "<absent>");
    EXPECT_EQ(db_get("radio", "wlan0", "description"), "<absent>");

    lsqlquery_fail_nth_write(1);  // the first "dot11" write
    std::string out =
        captured(0, [] { EXPECT_EQ(map_apply_platform_specific_changes("QX_WAP1"), 1); });
    EXPECT_TRUE(contains(out, "Error in applying Property- status for class dot11 for instance"))
        << out;
    EXPECT_EQ(db_get("radio", "wlan0", "description"), "IEEE 802.11a");
    EXPECT_EQ(db_get("dot11", nullptr, "status"), "up");
}

// Statuses of telnet, ssh, snmp and the web server's http and https; any failed
// write stops at once with its message, before a session is ended.
TEST_F(ConfigPlatformDefaults, ExternalInterfacesAndSshSessions) {
    // Stand-ins: ps lists two processes, xargs runs the command on its input,
    // kill records its arguments.
    sb.tool("/bin/ps",
            "echo '  PID USER  COMMAND'\necho '  412 root  /usr/sbin/dropbear -p 22'\n"
            "echo '  415 root  /usr/sbin/httpd'");
    sb.tool("/usr/bin/xargs", "args=$(cat)\n\"$@\" $args");
    sb.tool("/bin/kill", "echo \"$@\" >> \"$MAPD_ROOT/kill.log\"");
    const auto killed = [this] {  // since the last call
        std::string log = mapd_test::read_file(sb.root + "/kill.log");
        std::remove((sb.root + "/kill.log").c_str());
        return log;
    };
    // clang-format off
    const struct {
        int enable, debug_login, keep_ssh; unsigned nth; const char* statuses; const char* killed; const char* error;
    } rows[] = {
        {1, 0, 0, 0, "up up up up up", "<missing>", nullptr},
        {0, 1, 0, 0, "up up down down down", "412\n", nullptr},  // a debug login keeps telnet and SSH
        {1, 1, 0, 0, "up up up up up", "<missing>", nullptr},
        {0, 0, 0, 0, "down down down down down", "412\n", nullptr},  // only the dropbear process
        {1, 0, 1, 0, "up up up up up", "<missing>", nullptr},
        {0, 0, 1, 0, "down down down down down", "<missing>", nullptr},  // the flag keeps SSH sessions
        {1, 0, 0, 1, "down down down down down", "<missing>", "Error in setting the telnet session"},
        {1, 0, 0, 2, "up down down down down", "<missing>", "Error in  setting the SSH session"},
        {1, 0, 0, 3, "up up down down down", "<missing>", "Error in  setting the SNMP session"},
        {1, 0, 0, 4, "up up up down down", "<missing>", "Error in  setting the WEB session"},
        {1, 0, 0, 5, "up up up up down", "<missing>", "Error in  setting the WEB session"},
        {0, 0, 0, 5, "down down down down down", "<missing>", "Error in  setting the WEB session"},
    };
    // clang-format on
    const auto statuses = [] {
        return db_get("telnet", nullptr, "status") + " " + db_get("ssh", nullptr, "status") + " " +
               db_get("snmp", nullptr, "status") + " " +
               db_get("web-server", nullptr, "http-status") + " " +
               db_get("web-server", nullptr, "https-status");
    };
    for (const auto& r : rows) {
        map_global_dont_disable_ssh_session = r.keep_ssh;
        lsqlquery_fail_nth_write(r.nth);
        const std::string status = r.enable == 1 ? "up" : "down";
        std::string out = captured(MAP_TRACE_CONFIG, [&] {
            EXPECT_EQ(map_dman_lsql_external_interfaces_set(r.enable, r.debug_login),
                      r.error ? -1 : 0);
        });
        SCOPED_TRACE(testing::Message() << r.enable << r.debug_login << r.keep_ssh << r.nth);
        EXPECT_EQ(statuses(), r.statuses);
        EXPECT_EQ(killed(), r.killed);
        EXPECT_TRUE(contains(out, "Trying to set the External UI - " + status)) << out;
        EXPECT_EQ(contains(out, "Successful is setting the External UI - " + status), !r.error);
        EXPECT_TRUE(r.error == nullptr || contains(out, r.error)) << out;
    }
}
