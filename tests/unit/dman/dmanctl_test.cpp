// dmanctl as a person runs it, on a sandbox root: the factory configuration
// against the names the database knows, get/set, rows, refusals, exit codes
// and the schema.  What the tool wrote is also read back through the library.
#include <sys/wait.h>

#include <algorithm>
#include <tuple>

#include "dman/dman_schema.hpp"
#include "unit/dman/dman_test_util.hpp"

namespace {

using namespace dman_test;

struct result {
    int status = -1;  // exit status, -1 when the tool did not exit normally
    std::string out, err;
};

// Runs dmanctl on the sandbox root (a later --root wins).
result dmanctl(const mapd_test::sandbox& sb, const std::vector<std::string>& args) {
    std::string cmd = DMANCTL_BIN + std::string(" --root ") + sb.root;
    for (const auto& a : args) {
        cmd += " '";
        for (char c : a) {
            cmd += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        cmd += "'";
    }
    int rc = system((cmd + " </dev/null >" + sb.root + "/out 2>" + sb.root + "/err").c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, mapd_test::read_file(sb.root + "/out"),
            mapd_test::read_file(sb.root + "/err")};
}

// init and the factory configuration.
void factory(const mapd_test::sandbox& sb) {
    result r = dmanctl(sb, {"init"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(sb.exists(DMAN_PID_PATH));
    r = dmanctl(sb, {"load", FACTORY_CONFIG});
    ASSERT_EQ(r.status, 0) << "a name the database does not know? " << r.err;
}

// Every property the schema gives `cls`, bar `skip`, is held by the rows of
// the instance (null: of the class).
void expect_all(const char* cls, const std::string* instance, const std::string& skip = "",
                const char* qual_name = nullptr, const char* qual_value = nullptr) {
    pv q = node(qual_name, qual_value);
    std::string rows = "," + grid(cls, instance ? instance->c_str() : nullptr, qual_name ? &q : 0);
    std::replace(rows.begin(), rows.end(), '|', ',');
    std::string error;
    for (const char* p : dman_schema_class_of(cls, error)->properties) {
        EXPECT_TRUE(rows.find("," + std::string(p) + "=") != npos || skip.find(p) != npos)
            << cls << "/" << (instance ? *instance : "*") << " " << (qual_value ? qual_value : "")
            << " " << p;
    }
}

TEST_F(Dman, FactoryConfigurationHoldsWhatTheDaemonReadsAndWrites) {
    factory(sb);
    EXPECT_EQ(get("managed-ap", nullptr, "mode"), "up");     // discovery starts
    EXPECT_EQ(get("system", nullptr, "serial-number"), "");  // none yet: the VPD is applied

    // The rule: a class of the AP's own settings (fixed instance families)
    // holds only properties the daemon writes or reads with a factory default,
    // so each needs a factory value, and the radio and VAP apply write theirs
    // on every instance of a two-radio AP with 16 VAPs a radio (4 without
    // "/tmp/bss-max", 16 on the AP and its twin); only the bridge has "stp",
    // only WDS links a "status".  The switch names the client-QoS lists (none
    // at the factory); "config" "startup" is the request to save.
    for (const auto& c : dman_schema_classes()) {
        if (std::string(c.instances[0]) != "*" && std::string(c.name) != "config") {
            expect_all(c.name, nullptr);
        }
    }
    for (std::string radio : {"wlan0", "wlan1"}) {
        expect_all("radio", &radio);
        expect_all("tspec-acm", &radio);
        for (const char* q : {"data0", "data1", "data2", "data3", "vo", "vi", "be", "bk"}) {
            expect_all(q[0] == 'd' ? "tx-queue" : "wme-queue", &radio, "", "queue", q);
        }
        for (int v = 0; v < 16; ++v) {
            std::string vap = "vap" + std::to_string(v), bss = radio + "bss" + vap;
            std::string interface = v == 0 ? radio : radio + vap;
            expect_all("vap", &vap, "", "radio", radio.c_str());
            expect_all("interface", &interface, "stp status");
            expect_all("bss", &bss);
        }
    }
    for (const char* wds : {"wlan0wds0", "wlan0wds1", "wlan0wds2", "wlan0wds3"}) {
        EXPECT_EQ(get("interface", wds, "status"), "down");
    }

    // The file ends by saving itself as the startup configuration.
    EXPECT_EQ(dmanctl(sb, {"dump", "--startup"}).out, dmanctl(sb, {"dump"}).out);
}

TEST_F(Dman, GetSetInsertDeleteShowFromTheShell) {
    factory(sb);
    const std::tuple<std::vector<std::string>, int, const char*> steps[] = {
        {{"set", "vap/vap0@wlan1", "redirect-url", "http://portal/a b"}, 0, ""},
        {{"get", "vap/vap0@wlan1", "redirect-url"}, 0, "http://portal/a b\n"},
        {{"set", "radio", "status", "down"}, 0, ""},  // every radio
        {{"get", "radio/wlan1", "status"}, 0, "down\n"},
        {{"set", "system", "password", "a;b \"c\"\t", "band-plan", "ETSI"}, 0, ""},
        {{"get", "system", "password"}, 0, "a;b \"c\"\t\n"},
        {{"insert", "acl/guest%20list", "acl-type", "ipv4", "rule-count", "0"}, 0, ""},
        {{"get", "acl/guest%20list", "rule-count"}, 0, "0\n"},
        {{"insert", "basic-rate/wlan0", "rate", "54"}, 0, ""},
        {{"delete", "basic-rate/wlan0", "rate", "12"}, 0, ""},
        {{"delete", "basic-rate/wlan1"}, 0, ""},
        {{"show", "basic-rate"},
         0,
         "basic-rate/wlan0 +\n    rate = 24\nbasic-rate/wlan0 +\n    rate = 6\n"
         "basic-rate/wlan0 +\n    rate = 54\n"},
        {{"dump", "acl"}, 0, "acl/guest%20list acl-type = ipv4\nacl/guest%20list rule-count = 0\n"},
        {{"insert", "tx-queue/wlan0@queue=data9", "aifs", "7"}, 0, ""},  // holds its qualifier
        {{"get", "tx-queue/wlan0@queue=data9", "aifs"}, 0, "7\n"},
        {{"delete", "tx-queue/wlan0@queue=data1"}, 0, ""},
        {{"get", "tx-queue/wlan0@queue=data1", "aifs"}, 1, ""},
    };
    for (const auto& [args, status, out] : steps) {
        result r = dmanctl(sb, args);
        EXPECT_EQ(r.status, status) << args[0] << " " << args[1] << ": " << r.err;
        EXPECT_EQ(r.out, out) << args[0] << " " << args[1];
    }
    EXPECT_NE(dmanctl(sb, {"dump", "--startup"}).out, dmanctl(sb, {"dump"}).out);
    EXPECT_EQ(dmanctl(sb, {"save"}).status, 0);
    EXPECT_EQ(dmanctl(sb, {"dump", "--startup"}).out, dmanctl(sb, {"dump"}).out);
}

TEST_F(Dman, ErrorsAreOneLineOnStandardErrorWithTheirExitStatus) {
    factory(sb);
    sb.write("/unknown.txt", "ntp status = down\nradio/wlan0 moed = a\n");
    const std::string before = dmanctl(sb, {"dump"}).out;
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{}, 2, "no command"},
        {{"--root", "/nonexistent/root", "get", "a", "b"}, 2, "not a usable sandbox root"},
        {{"get", "radio/wlan0"}, 2, "get needs an address and a property"},
        {{"get", "radio/wlan0", "nothing"}, 1, "no nothing in radio/wlan0"},
        {{"get", "radio/wlan0/x", "mode"}, 2, "bad address"},
        {{"set", "radio/wlan0", "mode"}, 2, "needs an address, a property and a value"},
        {{"set", "radio/wlan0", "mode", "a", "extra"}, 2, "pairs"},
        {{"set", "radio/wlan0", "moed", "b"}, 1, "set radio/wlan0: unknown property \"moed\""},
        {{"set", "radios/wlan0", "mode", "a"}, 1, "unknown class \"radios\""},
        {{"insert", "basic-rate/wlan0", "rates", "6"}, 1, "basic-rate/wlan0: unknown property"},
        {{"load", "/nonexistent/config.txt"}, 1, "cannot open /nonexistent/config.txt"},
        {{"load", sb.path("/unknown.txt")}, 1, "unknown.txt: line 2: unknown property \"moed\""},
        {{"schema", "radios"}, 1, "unknown class \"radios\""},
    };
    for (const auto& [args, status, err] : cases) {
        result r = dmanctl(sb, args);
        SCOPED_TRACE(err + " / " + r.err);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("dmanctl: ", 0), 0u);
        EXPECT_NE(r.err.find(err), npos);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    }
    EXPECT_EQ(dmanctl(sb, {"dump"}).out, before) << "a refused command changes nothing";
    // A damaged database is named; the library's log only with --verbose.
    sb.write(DMAN_DB_PATH, std::string(4096, 'Z'));
    result r = dmanctl(sb, {"get", "system", "country"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(sb.path(DMAN_DB_PATH)), npos) << r.err;
    EXPECT_NE(dmanctl(sb, {"--verbose", "set", "ntp", "status", "up"}).err.find("Error: dman:"),
              npos);
}

TEST_F(Dman, SchemaListsClassesInstancesAndPropertiesWithoutADatabase) {
    EXPECT_EQ(dmanctl(sb, {"schema", "vap"}).out.rfind("vap vap%d\n    radio\n", 0), 0u);
    result r = dmanctl(sb, {"schema"});
    for (const char* part : {"system (single instance)\n", "\n    serial-number\n",
                             "\ninterface wlan%d wlan%dvap%d ", "\n    wpa-personal-key\n",
                             "\nacl *\n    acl-type\n    rule-count\n", "\npolicy-map *\n"}) {
        EXPECT_NE(r.out.find(part), npos) << part;
    }
    EXPECT_FALSE(sb.exists(DMAN_DB_PATH));
}

}  // namespace
