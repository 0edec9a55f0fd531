// dmanctl as a person runs it, on a sandbox root: the factory configuration,
// get/set, rows, exit codes and the dump/load round trip.  What the tool
// wrote is also read back through the library, from this process.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dman/dman_store.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "unit/dman/dman_test_util.hpp"

extern char** environ;

namespace {

using dman_test::Dman;
using dman_test::take_grid;

struct result {
    int status = -1;  // exit status, -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// Runs dmanctl with the sandbox root; its output is caught in files.
result dmanctl(const mapd_test::sandbox& sb, std::vector<std::string> args, bool with_root = true,
               const std::string& stdin_path = "/dev/null") {
    const std::string out_path = sb.root + "/dmanctl.out";
    const std::string err_path = sb.root + "/dmanctl.err";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, stdin_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all = {DMANCTL_BIN};
    if (with_root) {
        all.insert(all.end(), {"--root", sb.root});
    }
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    result r;
    pid_t pid = -1;
    int rc = posix_spawn(&pid, DMANCTL_BIN, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    if (rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        r.status = WEXITSTATUS(status);
    }
    r.out = mapd_test::read_file(out_path);
    r.err = mapd_test::read_file(err_path);
    return r;
}

// init and the factory configuration.
void factory(const mapd_test::sandbox& sb) {
    result r = dmanctl(sb, {"init"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(sb.exists(DMAN_PID_PATH));
    r = dmanctl(sb, {"load", FACTORY_CONFIG});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(Dman, FactoryConfigurationHoldsWhatTheDaemonReads) {
    factory(sb);
    struct {
        const char* address;
        const char* property;
        const char* want;
    } cases[] = {
        {"managed-ap", "mode", "up"},
        {"managed-ap", "ip-ssl-port", "57777"},
        {"managed-ap", "managed-mode-watchdog", "0"},
        {"system", "country", "US"},
        {"radio/wlan0", "mode", "a-n"},
        {"radio/wlan0", "static-channel", "36"},
        {"radio/wlan0", "description", "IEEE 802.11a"},
        {"radio/wlan1", "mode", "bg-n"},
        {"radio/wlan1", "static-channel", "6"},
        {"radio/wlan1", "status", "up"},
        {"vap/vap0@wlan0", "status", "up"},
        {"vap/vap15@wlan1", "status", "down"},
        {"interface/wlan1vap3", "ssid", "Broadcom VAP3"},
        {"interface/brtrunk", "stp", "off"},
        {"bss/wlan1bssvap15", "open-system-authentication", "on"},
        {"tx-queue/wlan1@queue=data3", "cwmax", "1023"},
        {"wme-queue/wlan0@queue=vo", "txop-limit", "47"},
        {"tspec-acm/wlan0", "tspec-mode", "off"},
        {"map-ap-provisioning", "data-valid", "off"},
        {"client-qos", "mode", "down"},
        {"dot11", "status", "up"},
        {"telnet", "status", "down"},
        {"web-server", "https-status", "up"},
        {"management", "mask", "255.255.255.0"},
        {"ip-route", "gateway", "192.168.1.1"},
        {"untagged-vlan", "vlan-id", "1"},
        {"device-info", "product-id", "WLAN-KOV"},
    };
    for (const auto& c : cases) {
        result r = dmanctl(sb, {"get", c.address, c.property});
        EXPECT_EQ(r.status, 0) << c.address << " " << c.property << ": " << r.err;
        EXPECT_EQ(r.out, std::string(c.want) + "\n") << c.address << " " << c.property;
    }
    EXPECT_EQ(dmanctl(sb, {"get", "system", "serial-number"}).status, 1)
        << "no serial number, so that the unit's own data is applied at first start";

    // Read through the library, as the daemon does.
    EXPECT_EQ(take_grid(lsqlquery_get_grid("radio", nullptr, nullptr, nullptr, 1)),
              "instance=wlan0|instance=wlan1");
    for (const char* radio : {"wlan0", "wlan1"}) {
        pv q{const_cast<char*>("radio"), const_cast<char*>(radio), nullptr, nullptr};
        pv* vaps = lsqlquery_get_grid("vap", nullptr, nullptr, &q, 1);
        int count = 0;
        for (pv* r = vaps; r != nullptr; r = r->peer) {
            EXPECT_EQ(std::string(r->value), "vap" + std::to_string(count)) << radio;
            ++count;
        }
        lsqlquery_destroy_pv(vaps);
        EXPECT_EQ(count, 16) << radio;
    }
    EXPECT_EQ(take_grid(lsqlquery_get_grid("basic-rate", "wlan1", nullptr, nullptr, 0)),
              "rate=11|rate=5.5|rate=2|rate=1");
    EXPECT_EQ(take_grid(lsqlquery_get_grid("supported-rate", "wlan0", nullptr, nullptr, 0)),
              "rate=54|rate=48|rate=36|rate=24|rate=18|rate=12|rate=9|rate=6");
    // The file ends by saving itself as the startup configuration.
    EXPECT_EQ(dmanctl(sb, {"dump", "--startup"}).out, dmanctl(sb, {"dump"}).out);
}

TEST_F(Dman, GetSetInsertDeleteFromTheShell) {
    factory(sb);
    struct {
        std::vector<std::string> args;
        int status;
        const char* out;
    } steps[] = {
        {{"set", "vap/vap0@wlan1", "redirect-url", "http://portal/a b"}, 0, ""},
        {{"get", "vap/vap0@wlan1", "redirect-url"}, 0, "http://portal/a b\n"},
        {{"get", "vap/vap0@wlan0", "redirect-url"}, 0, "\n"},
        {{"set", "interface/wlan1", "ssid", "corp net"}, 0, ""},
        {{"get", "interface/wlan1", "ssid"}, 0, "corp net\n"},
        {{"get", "interface/wlan0", "ssid"}, 0, "Broadcom VAP0\n"},
        {{"set", "radio", "status", "down"}, 0, ""},  // every radio
        {{"get", "radio/wlan0", "status"}, 0, "down\n"},
        {{"get", "radio/wlan1", "status"}, 0, "down\n"},
        {{"set", "system", "password", "", "band-plan", "ETSI"}, 0, ""},
        {{"get", "system", "password"}, 0, "\n"},
        {{"get", "system", "band-plan"}, 0, "ETSI\n"},
        {{"insert", "basic-rate/wlan0", "rate", "54"}, 0, ""},
        {{"delete", "basic-rate/wlan0", "rate", "12"}, 0, ""},
        {{"show", "basic-rate"},
         0,
         "basic-rate/wlan0 +\n    rate = 24\n"
         "basic-rate/wlan0 +\n    rate = 6\n"
         "basic-rate/wlan0 +\n    rate = 54\n"
         "basic-rate/wlan1 +\n    rate = 11\n"
         "basic-rate/wlan1 +\n    rate = 5.5\n"
         "basic-rate/wlan1 +\n    rate = 2\n"
         "basic-rate/wlan1 +\n    rate = 1\n"},
        {{"delete", "basic-rate/wlan1"}, 0, ""},
        {{"dump", "basic-rate"},
         0,
         "basic-rate/wlan0 + rate = 24\nbasic-rate/wlan0 + rate = 6\nbasic-rate/wlan0 + rate = "
         "54\n"},
        {{"delete", "tx-queue/wlan0@queue=data1"}, 0, ""},
        {{"get", "tx-queue/wlan0@queue=data1", "aifs"}, 1, ""},
        {{"get", "tx-queue/wlan0@queue=data2", "aifs"}, 0, "3\n"},
    };
    for (const auto& s : steps) {
        result r = dmanctl(sb, s.args);
        std::string what = s.args[0] + " " + s.args[1];
        EXPECT_EQ(r.status, s.status) << what << ": " << r.err;
        EXPECT_EQ(r.out, s.out) << what;
    }
}

TEST_F(Dman, ErrorsAreOneLineOnStandardErrorWithTheirExitStatus) {
    factory(sb);
    struct {
        std::vector<std::string> args;
        int status;
        const char* err;
    } cases[] = {
        {{}, 2, "no command"},
        {{"frob"}, 2, "unknown command frob"},
        {{"--quiet", "get"}, 2, "unknown option --quiet"},
        {{"get", "radio/wlan0"}, 2, "get needs an address and a property"},
        {{"get", "radio/wlan0", "nothing"}, 1, "no nothing in radio/wlan0"},
        {{"get", "radio/wlan0/x", "mode"}, 2, "bad address"},
        {{"set", "radio/wlan0", "mode"}, 2, "needs an address, a property and a value"},
        {{"set", "radio/wlan0", "mode", "a", "extra"}, 2, "pairs"},
        {{"set", "radio/wlan0", "mode", std::string(LSQLQUERY_VALUE_MAX + 1, 'x')},
         1,
         "value too long"},
        {{"insert", "basic-rate/wlan0", "rate"}, 2, "needs"},
        {{"delete"}, 2, "delete needs an address"},
        {{"load"}, 2, "load needs one file"},
        {{"load", "/nonexistent/config.txt"}, 1, "cannot open /nonexistent/config.txt"},
        {{"dump", "a", "b"}, 2, "at most a class"},
        {{"show", "nothing"}, 1, "no class nothing"},
        {{"init", "now"}, 2, "init takes no arguments"},
    };
    for (const auto& c : cases) {
        result r = dmanctl(sb, c.args);
        std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
        EXPECT_EQ(r.out, "") << what;
        EXPECT_EQ(r.err.rfind("dmanctl: ", 0), 0u) << what << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << what << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
    }
    result r = dmanctl(sb, {"--root", "/nonexistent/root", "get", "a", "b"}, false);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("not a usable sandbox root"), std::string::npos) << r.err;

    r = dmanctl(sb, {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: dmanctl"), std::string::npos);

    // A file with a bad line names it and changes nothing.
    sb.write("/bad.txt", "ntp status = down\nradio/wlan0 mode\n");
    const std::string before = dmanctl(sb, {"dump"}).out;
    r = dmanctl(sb, {"load", sb.path("/bad.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 2: '=' expected"), std::string::npos) << r.err;
    EXPECT_EQ(dmanctl(sb, {"dump"}).out, before);
}

TEST_F(Dman, DumpLoadsBackIntoAnotherDatabase) {
    factory(sb);
    ASSERT_EQ(dmanctl(sb, {"set", "system", "pass-text", "a;b \"c\"\t"}).status, 0);
    ASSERT_EQ(dmanctl(sb, {"set", "vap/vap2@wlan1", "redirect-url", " http://x/?a=b;c "}).status,
              0);
    ASSERT_EQ(
        dmanctl(sb, {"insert", "acl/guest%20list", "acl-type", "ipv4", "rule-count", "0"}).status,
        0);
    result dump = dmanctl(sb, {"dump"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    sb.write("/dump.txt", dump.out);

    mapd_test::sandbox other;
    ASSERT_EQ(dmanctl(other, {"init"}).status, 0);
    result r = dmanctl(other, {"load", sb.path("/dump.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dmanctl(other, {"dump"}).out, dump.out);
    EXPECT_EQ(dmanctl(other, {"get", "vap/vap2@wlan1", "redirect-url"}).out, " http://x/?a=b;c \n");
    EXPECT_EQ(dmanctl(other, {"get", "acl/guest%20list", "rule-count"}).out, "0\n");

    // The same through standard input, merged into an empty database.
    mapd_test::sandbox third;
    r = dmanctl(third, {"load", "--merge", "-"}, true, sb.path("/dump.txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dmanctl(third, {"dump"}).out, dump.out);
}

TEST_F(Dman, ADamagedDatabaseIsNamedInTheError) {
    sb.write(DMAN_DB_PATH, std::string(4096, 'Z'));
    result r = dmanctl(sb, {"get", "system", "country"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(sb.path(DMAN_DB_PATH)), std::string::npos) << r.err;
    r = dmanctl(sb, {"--verbose", "get", "system", "country"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: dman:"), std::string::npos) << "the library's own log: " << r.err;
}

}  // namespace
