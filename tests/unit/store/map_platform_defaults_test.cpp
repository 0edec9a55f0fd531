// Platform defaults and the external management interfaces, against a real
// database and stand-in process tools in a sandbox root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/map_dman_lsql.hpp"
#include "store_test_util.hpp"

using config_test::captured;
using config_test::db_column;
using config_test::db_get;
using config_test::db_set;
using config_test::make_radios;
using strings = std::vector<std::string>;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

using ConfigPlatformDefaults = config_test::db_test;

TEST_F(ConfigPlatformDefaults, TwoRadioTable) {
    make_radios(2);
    ASSERT_TRUE(db_set("dot11", nullptr, "status", "up"));
    // Old rate rows are replaced, not added to.
    pv* old_rate = lsqlquery_new_pv_solo("rate", "72");
    ASSERT_EQ(lsqlquery_insert_pv("basic-rate", "wlan0", old_rate), 0);
    lsqlquery_destroy_pv(old_rate);

    std::string out = captured(
        MAP_TRACE_CONFIG, [] { EXPECT_EQ(map_apply_platform_specific_changes("QX_WAP_2R"), 1); });
    EXPECT_EQ(db_get("dot11", nullptr, "status"), "up");
    EXPECT_EQ(db_get("radio", "wlan0", "description"), "IEEE 802.11a");
    EXPECT_EQ(db_get("radio", "wlan0", "valid-mode-list"), "a a-n n-only-a");
    EXPECT_EQ(db_get("radio", "wlan0", "mode"), "a-n");
    EXPECT_EQ(db_get("radio", "wlan0", "static-channel"), "36");
    EXPECT_EQ(db_get("radio", "wlan1", "description"), "IEEE 802.11b/g");
    EXPECT_EQ(db_get("radio", "wlan1", "valid-mode-list"), "bg bg-n n-only-g");
    EXPECT_EQ(db_get("radio", "wlan1", "mode"), "bg-n");
    EXPECT_EQ(db_get("radio", "wlan1", "static-channel"), "6");
    EXPECT_EQ(db_column("basic-rate", "wlan0", "rate"), (strings{"24", "12", "6"}));
    EXPECT_EQ(db_column("supported-rate", "wlan0", "rate"),
              (strings{"54", "48", "36", "24", "18", "12", "9", "6"}));
    EXPECT_EQ(db_column("basic-rate", "wlan1", "rate"), (strings{"11", "5.5", "2", "1"}));
    EXPECT_EQ(db_column("supported-rate", "wlan1", "rate"),
              (strings{"54", "48", "36", "24", "18", "12", "11", "9", "6", "5.5", "2", "1"}));

    EXPECT_TRUE(contains(out, "Success in applying Property- status for class dot11 for instance"))
        << out;
    EXPECT_TRUE(contains(out, "Success in Deleting class basic-rate for instance wlan0")) << out;
    EXPECT_TRUE(contains(
        out, "Success in Inserting Property- rate for class supported-rate for instance wlan1"))
        << out;
    // dot11 goes down first and up last.
    size_t down = out.find("Property- status for class dot11");
    size_t radio = out.find("Property- description for class radio for instance wlan0");
    size_t up = out.rfind("Property- status for class dot11");
    EXPECT_LT(down, radio);
    EXPECT_LT(radio, up);
}

TEST_F(ConfigPlatformDefaults, OneRadioTable) {
    make_radios(1);
    EXPECT_EQ(map_apply_platform_specific_changes("QX_WAP"), 1);
    EXPECT_EQ(db_get("radio", "wlan0", "description"), "IEEE 802.11g");
    EXPECT_EQ(db_get("radio", "wlan0", "valid-mode-list"), "a bg a-n bg-n n-only-a n-only-g");
    EXPECT_EQ(db_get("radio", "wlan0", "mode"), "bg-n");
    EXPECT_EQ(db_get("radio", "wlan0", "static-channel"), "6");
    EXPECT_EQ(db_column("basic-rate", "wlan0", "rate"), (strings{"11", "5.5", "2", "1"}));
    EXPECT_EQ(db_column("supported-rate", "wlan0", "rate"),
              (strings{"54", "48", "36", "24", "18", "12", "11", "9", "6", "5.5", "2", "1"}));
    EXPECT_EQ(db_get("radio", "wlan1", "description"), "<absent>");
    EXPECT_EQ(db_get("dot11", nullptr, "status"), "up");
}

TEST_F(ConfigPlatformDefaults, OtherPlatformsAreLeftAlone) {
    make_radios(2);
    for (const char* platform :
         {"QX_WA", "qx_wap_2", "AP_QX_WAP", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(map_apply_platform_specific_changes(platform), 0)
            << (platform ? platform : "null");
    }
    EXPECT_EQ(db_get("dot11", nullptr, "status"), "<absent>");
    EXPECT_EQ(db_get("radio", "wlan0", "description"), "<absent>");
}

TEST_F(ConfigPlatformDefaults, AFailedStepIsTracedAndTheNextFollows) {
    make_radios(2);
    lsqlquery_fail_nth_write(1);  // the first "dot11" write
    std::string out =
        captured(0, [] { EXPECT_EQ(map_apply_platform_specific_changes("QX_WAP1"), 1); });
    EXPECT_TRUE(contains(out, "Error in applying Property- status for class dot11 for instance"))
        << out;
    EXPECT_EQ(db_get("radio", "wlan0", "description"), "IEEE 802.11a");
    EXPECT_EQ(db_get("dot11", nullptr, "status"), "up");
}

// ---- external interfaces ------------------------------------------------------------

class ConfigExternalInterfaces : public config_test::db_test {
protected:
    void SetUp() override {
        config_test::db_test::SetUp();
        // Stand-ins of the process tools: ps lists two processes, xargs
        // records its input and runs the command on it, kill records its
        // arguments.
        sb.tool("/bin/ps",
                "echo '  PID USER  COMMAND'\n"
                "echo '  412 root  /usr/sbin/dropbear -p 22'\n"
                "echo '  415 root  /usr/sbin/httpd'");
        sb.tool("/usr/bin/xargs",
                "args=$(cat)\necho \"$args\" >> \"$MAPD_ROOT/xargs.log\"\n\"$@\" $args");
        sb.tool("/bin/kill", "echo \"$@\" >> \"$MAPD_ROOT/kill.log\"");
    }

    std::string killed() const { return mapd_test::read_file(sb.root + "/kill.log"); }

    void expect_statuses(const char* telnet_ssh, const char* rest) {
        EXPECT_EQ(db_get("telnet", nullptr, "status"), telnet_ssh);
        EXPECT_EQ(db_get("ssh", nullptr, "status"), telnet_ssh);
        EXPECT_EQ(db_get("snmp", nullptr, "status"), rest);
        EXPECT_EQ(db_get("web-server", nullptr, "http-status"), rest);
        EXPECT_EQ(db_get("web-server", nullptr, "https-status"), rest);
    }
};

TEST_F(ConfigExternalInterfaces, EnableSetsEverythingUpAndKillsNothing) {
    std::string out = captured(MAP_TRACE_CONFIG,
                               [] { EXPECT_EQ(map_dman_lsql_external_interfaces_set(1, 0), 0); });
    expect_statuses("up", "up");
    EXPECT_EQ(killed(), "<missing>");
    EXPECT_TRUE(contains(out, "Trying to set the External UI - up")) << out;
    EXPECT_TRUE(contains(out, "Successful is setting the External UI - up")) << out;
}

TEST_F(ConfigExternalInterfaces, DisableEndsTheSshSessions) {
    EXPECT_EQ(map_dman_lsql_external_interfaces_set(0, 0), 0);
    expect_statuses("down", "down");
    EXPECT_EQ(killed(), "412\n") << "only the dropbear process";
}

TEST_F(ConfigExternalInterfaces, DebugLoginKeepsTelnetAndSsh) {
    ASSERT_EQ(map_dman_lsql_external_interfaces_set(1, 0), 0);
    EXPECT_EQ(map_dman_lsql_external_interfaces_set(0, 1), 0);
    expect_statuses("up", "down");
    EXPECT_EQ(killed(), "412\n");
}

TEST_F(ConfigExternalInterfaces, TheFlagKeepsSshSessions) {
    map_global_dont_disable_ssh_session = 1;
    EXPECT_EQ(map_dman_lsql_external_interfaces_set(0, 0), 0);
    expect_statuses("down", "down");
    EXPECT_EQ(killed(), "<missing>");
}

TEST_F(ConfigExternalInterfaces, AFailureStopsAtOnce) {
    struct row {
        unsigned failing_write;
        const char* message;
    };
    const row rows[] = {
        {1, "Error in setting the telnet session"}, {2, "Error in  setting the SSH session"},
        {3, "Error in  setting the SNMP session"},  {4, "Error in  setting the WEB session"},
        {5, "Error in  setting the WEB session"},
    };
    for (const auto& r : rows) {
        lsqlquery_fail_nth_write(r.failing_write);
        std::string out =
            captured(0, [] { EXPECT_EQ(map_dman_lsql_external_interfaces_set(0, 0), -1); });
        EXPECT_TRUE(contains(out, r.message)) << r.failing_write << ": " << out;
        EXPECT_FALSE(contains(out, "Successful is setting")) << out;
    }
    EXPECT_EQ(killed(), "<missing>") << "no session is ended after a failure";
}
