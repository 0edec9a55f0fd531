// The configuration database client library on a sandbox root: addressing,
// grids, multi-row classes, refusals, transactions, processes, the startup copy.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <tuple>

#include "dman/map_dman_lsql_init.hpp"
#include "platform/platform.hpp"
#include "unit/dman/dman_test_util.hpp"

namespace {

using namespace dman_test;

// Two radios, a VAP name on both, rows qualified by "queue", a single instance.
void seed() {
    ASSERT_EQ(set("system", nullptr, "country", "US"), 0);
    ASSERT_EQ(set("radio", "wlan0", "mode", "a-n"), 0);
    ASSERT_EQ(set("radio", "wlan0", "static-channel", "36"), 0);
    ASSERT_EQ(set("radio", "wlan1", "mode", "bg-n"), 0);
    ASSERT_EQ(set("vap", "vap0", "redirect-url", "guest", "radio", "wlan0"), 0);
    ASSERT_EQ(set("vap", "vap0", "redirect-url", "corp", "radio", "wlan1"), 0);
    ASSERT_EQ(set("vap", "vap1", "redirect-url", "lab", "radio", "wlan1"), 0);
    ASSERT_EQ(set("tx-queue", "wlan0", "aifs", "1", "queue", "data0"), 0);
    ASSERT_EQ(set("tx-queue", "wlan0", "aifs", "3", "queue", "data2"), 0);
}

// A transaction item made of a copy of `list`.
lsqlquery_transaction_info* item(const char* cls, const char* instance, const pv* list) {
    pv *copy = nullptr, *tail = nullptr;
    for (; list != nullptr; list = list->next) {
        tail = lsqlquery_new_pv(list->name, list->value, tail);
        copy = copy != nullptr ? copy : tail;
    }
    return lsqlquery_transaction_info_new(LSQLQUERY_OP_SET, cls, instance, copy, 0);
}

TEST(DmanNodes, ListsLinkRowsByPeerAndPropertiesByNext) {
    pv* a = lsqlquery_new_pv("a", "1", nullptr);
    lsqlquery_new_pv("c", "3", a);
    lsqlquery_new_pv("b", "2", a);  // linked after a, before c
    pv* d = lsqlquery_new_pv_with_peer("d", "4", nullptr, a);
    lsqlquery_new_pv("e", nullptr, d);  // a wanted property: no value
    lsqlquery_new_pv_with_peer("f", "6", nullptr, d);
    EXPECT_EQ(take_grid(a), "a=1,b=2,c=3|d=4,e=<null>|f=6");
    EXPECT_EQ(lsqlquery_new_pv_solo(nullptr, "x"), nullptr);
}

TEST_F(Dman, ReadsGridsAndWritesFollowTheirAddress) {
    seed();
    const char* const reads[][5] = {
        // class, instance, property, radio qualifier, value
        {"system", nullptr, "country", nullptr, "US"},
        {"radio", "wlan1", "static-channel", nullptr, kAbsent},
        {"radio", nullptr, "mode", nullptr, "a-n"},  // no instance: the first one
        {"vap", "vap0", "redirect-url", "wlan0", "guest"},
        {"vap", "vap0", "redirect-url", "wlan1", "corp"},
        {"vap", "vap1", "redirect-url", "wlan0", kAbsent},
        {"nothing", nullptr, "x", nullptr, kAbsent},  // unknown names find nothing
    };
    for (const auto& r : reads) {
        EXPECT_EQ(get(r[0], r[1], r[2], r[3]), r[4]) << r[0] << " " << r[2] << " @" << r[3];
    }
    EXPECT_EQ(take_grid(lsqlquery_get_pv_q1("tx-queue", "wlan0", "aifs", "queue", "data2")),
              "aifs=3");
    const char* const grids[][6] = {
        // class, instance, wanted list, qualifier, flag, rows. Flag 1, no
        // instance, no list: the instances (how radios are counted).
        {"radio", nullptr, nullptr, nullptr, "1", "instance=wlan0|instance=wlan1"},
        {"vap", nullptr, nullptr, "radio=wlan1", "1", "instance=vap0|instance=vap1"},
        {"radio", nullptr, nullptr, nullptr, "0", "mode=a-n,static-channel=36|mode=bg-n"},
        // a wanted list picks properties in its order; absent ones are skipped
        {"vap", "vap0", "redirect-url,no,radio", nullptr, "0",
         "redirect-url=guest,radio=wlan0|redirect-url=corp,radio=wlan1"},
        {"vap", nullptr, "redirect-url,no,radio", "radio=wlan1", "1",
         "instance=vap0,redirect-url=corp,radio=wlan1|instance=vap1,redirect-url=lab,radio=wlan1"},
        {"radio", "wlan0", "no", nullptr, "0", kAbsent},
    };
    for (const auto& g : grids) {
        pv* wanted = g[2] != nullptr ? make_rows(g[2]) : nullptr;
        pv* qualifier = g[3] != nullptr ? make_rows(g[3]) : nullptr;
        EXPECT_EQ(take_grid(lsqlquery_get_grid(g[0], g[1], wanted, qualifier, atoi(g[4]))), g[5])
            << g[0] << " flag " << g[4];
        lsqlquery_destroy_pv(wanted);
        lsqlquery_destroy_pv(qualifier);
    }

    // Writes replace in place and, without an instance, reach every one.
    pv* list = make_rows("mode=a,channel-policy=static");  // one write of two nodes
    ASSERT_EQ(lsqlquery_set_pv("radio", "wlan0", list, nullptr), 0);
    lsqlquery_destroy_pv(list);
    EXPECT_EQ(grid("radio", "wlan0"), "mode=a,static-channel=36,channel-policy=static");
    ASSERT_EQ(set("radio", nullptr, "status", "down"), 0);
    EXPECT_EQ(get("radio", "wlan0", "status") + get("radio", "wlan1", "status"), "downdown");
    ASSERT_EQ(set("bss", nullptr, "wpa-allowed", "on"), 0);  // every one of none
    EXPECT_EQ(grid("bss", nullptr), kAbsent);
    // A qualifier that matches nothing makes a new row holding it.
    ASSERT_EQ(set("vap", "vap0", "redirect-url", "third", "radio", "wlan2"), 0);
    EXPECT_EQ(grid("vap", "vap0"),
              "radio=wlan0,redirect-url=guest|radio=wlan1,redirect-url=corp|"
              "radio=wlan2,redirect-url=third");
}

TEST_F(Dman, MultiRowClassesInsertAndDeleteRows) {
    const char* const cases[][4] = {
        // class; rows (in wlan0 and, untouched, wlan1); selection (null:
        // every row, else every node must match); rows left in wlan0
        {"basic-rate", "rate=24|rate=12|rate=6", "rate=12", "rate=24|rate=6"},
        {"basic-rate", "rate=6|rate=6|rate=9", "rate=6", "rate=9"},
        {"tx-queue", "queue=a,aifs=6|queue=b,aifs=6", "aifs=6,queue=b", "queue=a,aifs=6"},
        {"basic-rate", "rate=24|rate=12", nullptr, kAbsent},
    };
    for (const auto& c : cases) {
        pv* rows = make_rows(c[1]);
        ASSERT_EQ(lsqlquery_insert_pv(c[0], "wlan0", rows), 0) << c[1];
        ASSERT_EQ(lsqlquery_insert_pv(c[0], "wlan1", rows), 0) << c[1];
        lsqlquery_destroy_pv(rows);
        EXPECT_EQ(grid(c[0], "wlan0"), c[1]);
        pv* selection = c[2] != nullptr ? make_rows(c[2]) : nullptr;
        EXPECT_EQ(lsqlquery_delete_pv(c[0], "wlan0", selection), 0) << c[1];
        lsqlquery_destroy_pv(selection);
        EXPECT_EQ(grid(c[0], "wlan0") + " " + grid(c[0], "wlan1"), std::string(c[3]) + " " + c[1]);
        ASSERT_EQ(lsqlquery_delete_pv(c[0], nullptr, nullptr), 0);  // every instance
        EXPECT_EQ(grid(c[0], nullptr), kAbsent);
    }
}

TEST_F(Dman, EveryWritePathRefusesBadInputAndUnknownNamesWritingNothing) {
    seed();
    const std::string before = dump();
    std::string long_name(LSQLQUERY_NAME_MAX + 1, 'n');
    std::string long_value(LSQLQUERY_VALUE_MAX + 1, 'v');
    pv mode = node("mode", "a"), foo = node("foo", "1"), mode_foo = node("mode", "a", &foo);
    pv no_value = node("mode", nullptr), no_name = node(nullptr, "v"), empty = node("", "v");
    pv control = node("mo\nde", "v"), too_long = node("mode", long_value.c_str());
    pv url = node("redirect-url", "x"), queue = node("queue", "q"), radio = node("radio", nullptr);
    pv loop = node("mode", "a");
    loop.next = &loop;  // a broken, circular list
    // class, instance, list, qualifier, whether also tried as the second
    // item of a transaction, error text
    const std::tuple<const char*, const char*, pv*, pv*, bool, const char*> cases[] = {
        {"radios", "wlan0", &mode, nullptr, true, "unknown class \"radios\""},
        {"radio", "wlan0", &mode_foo, nullptr, true, "unknown property \"foo\" of class \"radio\""},
        {"system", nullptr, &mode, nullptr, true, "unknown property \"mode\" of class \"system\""},
        {"radio", "wlan0x", &mode, nullptr, true, "unknown instance \"wlan0x\" of class \"radio\""},
        {"basic-rate", "", &mode, nullptr, true, "no instance given for class \"basic-rate\""},
        {"vap", "vap0", &url, &queue, false, "unknown property \"queue\" of class \"vap\""},
        {nullptr, nullptr, &mode, nullptr, false, "bad class name"},
        {long_name.c_str(), nullptr, &mode, nullptr, false, "bad class name"},
        {"radio", long_name.c_str(), &mode, nullptr, false, "bad instance name"},
        {"radio\t", "wlan0", &mode, nullptr, false, "bad class name"},
        {"radio", "wlan0", nullptr, nullptr, false, "no properties"},
        {"radio", "wlan0", &no_value, nullptr, false, "no value for 'mode'"},
        {"radio", "wlan0", &no_name, nullptr, false, "bad property name"},
        {"radio", "wlan0", &empty, nullptr, false, "bad property name"},
        {"radio", "wlan0", &control, nullptr, false, "bad property name"},
        {"radio", "wlan0", &too_long, nullptr, true, "value too long for 'mode'"},
        {"vap", "vap0", &url, &radio, false, "no value for 'radio'"},
        {"radio", "wlan0", &loop, nullptr, false, "property list too long"},
    };
    for (const auto& [cls, instance, list, qualifier, in_transaction, text] : cases) {
        SCOPED_TRACE(text);
        char* error = nullptr;
        int rc = lsqlquery_set_pv_with_error(cls, instance, list, qualifier, &error);
        std::string message = error_of(rc, error);
        EXPECT_NE(message.find(text), npos);
        EXPECT_LE(message.size(), 64u) << "it travels to the switch";
        EXPECT_EQ(lsqlquery_set_pv(cls, instance, list, qualifier), -1);
        if (qualifier == nullptr) {
            rc = lsqlquery_insert_pv_with_error(cls, instance, list, &error);
            EXPECT_NE(error_of(rc, error).find(text), npos);
            EXPECT_EQ(lsqlquery_insert_pv(cls, instance, list), -1);
        }
        if (in_transaction) {  // the good first item is not written either
            auto* t = item("managed-ap", nullptr, &mode);
            ASSERT_EQ(lsqlquery_transaction_info_add(t, item(cls, instance, list)), 0);
            rc = lsqlquery_write_pv_multi(t, &error);
            EXPECT_NE(error_of(rc, error).find(text), npos);
            lsqlquery_transaction_info_delete(t);
        }
    }
    EXPECT_EQ(lsqlquery_delete_pv(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(lsqlquery_get_pv("radio", "wlan0", long_name.c_str()), nullptr);
    EXPECT_EQ(dump(), before) << "nothing of the above reached the database";

    // A value of exactly the limit is written, the error slot cleared.
    long_value.pop_back();
    char* error = reinterpret_cast<char*>(1);
    EXPECT_EQ(lsqlquery_set_pv_with_error("radio", "wlan0", &too_long, nullptr, &error), 0);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(get("radio", "wlan0", "mode"), long_value);
}

TEST_F(Dman, InstanceNamesOfEachFamilyAreTakenNearMissesRefused) {
    const std::string longest(LSQLQUERY_NAME_MAX, 'g');
    // class/instance/property; "-": no instance; "!" before it: refused
    std::vector<std::string> cases = {
        "radio/wlan12/mode",           "radio/!wlan/mode",          "radio/!wlan1 /mode",
        "radio/!xwlan1/mode",          "vap/vap15/status",          "vap/!vap/status",
        "interface/wlan1/ssid",        "interface/wlan1vap15/ssid", "interface/wlan0bssvap3/ssid",
        "interface/wlan0wds3/status",  "interface/brtrunk/stp",     "interface/!wlan0vap/ssid",
        "interface/!wlan0vap1x/ssid",  "interface/!brtrunk0/stp",   "bss/wlan1bssvap15/wpa-allowed",
        "bss/!wlan1vap15/wpa-allowed", "system/-/country",          "system/!wlan0/country",
        "acl/guests/rule-count",       "acl/!-/rule-count"};
    cases.push_back("acl/" + longest + "/rule-count");  // the longest name
    cases.push_back("acl/!" + longest + "g/rule-count");
    for (const auto& c : cases) {
        char cls[16], name[80], property[40];
        ASSERT_EQ(sscanf(c.c_str(), "%15[^/]/%79[^/]/%39s", cls, name, property), 3) << c;
        bool taken = name[0] != '!';
        const char* instance = strcmp(name + !taken, "-") == 0 ? "" : name + !taken;
        const char* radio = strcmp(cls, "vap") == 0 ? "wlan1" : nullptr;
        EXPECT_EQ(set(cls, instance, property, "v", radio ? "radio" : nullptr, radio),
                  taken ? 0 : -1)
            << c;
        EXPECT_EQ(get(cls, instance, property, radio), taken ? "v" : kAbsent) << c;
    }
}

// The six ports of the managed-AP class, one item each, as the daemon writes
// them; the text of a failure, "" on success.
std::string write_ports(int base) {
    const char* names[] = {"ip-base-port", "ip-tnl-udp-port",    "ip-udp-port",
                           "ip-ssl-port",  "ip-capwap-src-port", "ip-capwap-dst-port"};
    lsqlquery_transaction_info* first = nullptr;
    for (int i = 0; i < 6; ++i) {
        std::string value = std::to_string(base + (i == 0 ? 0 : i - 1));
        pv port = node(names[i], value.c_str());
        auto* it = item("managed-ap", nullptr, &port);
        EXPECT_EQ(first == nullptr ? 0 : lsqlquery_transaction_info_add(first, it), 0);
        first = first != nullptr ? first : it;
    }
    char* error = reinterpret_cast<char*>(1);  // cleared by the write
    int rc = lsqlquery_write_pv_multi(first, &error);
    lsqlquery_transaction_info_delete(first);
    return error_of(rc, error);
}

TEST_F(Dman, TransactionsWriteAllItemsOrNothing) {
    ASSERT_EQ(write_ports(57775), "");
    const std::string before = dump();
    EXPECT_EQ(grid("managed-ap", nullptr),
              "ip-base-port=57775,ip-tnl-udp-port=57775,ip-udp-port=57776,ip-ssl-port=57777,"
              "ip-capwap-src-port=57778,ip-capwap-dst-port=57779");
    lsqlquery_fail_nth_write(1);
    EXPECT_EQ(write_ports(60000), "database write failed");
    EXPECT_EQ(dump(), before);
    EXPECT_EQ(write_ports(50000), "") << "the armed failure was used up";
    EXPECT_EQ(get("managed-ap", nullptr, "ip-capwap-dst-port"), "50004");

    // Items that cannot be made free the list they were given (the leak
    // check sees it); an item is chained once.
    pv up = node("mode", "up");
    EXPECT_FALSE(lsqlquery_transaction_info_new(3, "managed-ap", nullptr, make_rows("mode=up"), 0));
    EXPECT_EQ(item("", nullptr, &up), nullptr);
    EXPECT_EQ(item("managed-ap", nullptr, nullptr), nullptr);
    auto *a = item("managed-ap", nullptr, &up), *b = item("managed-ap", nullptr, &up);
    EXPECT_EQ(lsqlquery_transaction_info_add(a, b), 0);
    EXPECT_EQ(lsqlquery_transaction_info_add(a, b), -1);  // would make a loop
    EXPECT_EQ(lsqlquery_transaction_info_add(a, nullptr), -1);
    lsqlquery_transaction_info_delete(a);
    char* error = nullptr;
    int rc = lsqlquery_write_pv_multi(nullptr, &error);  // an empty transaction
    EXPECT_NE(error_of(rc, error), "");
}

TEST_F(Dman, InjectedWriteFailuresChangeNothing) {
    seed();
    const std::string before = dump();
    pv* rows = make_rows("rate=6|rate=9");
    lsqlquery_fail_nth_write(2);  // the second write from now fails, the first does not
    EXPECT_EQ(lsqlquery_insert_pv("basic-rate", "wlan0", rows), 0);
    EXPECT_EQ(lsqlquery_insert_pv("basic-rate", "wlan0", rows), -1);
    lsqlquery_destroy_pv(rows);
    EXPECT_EQ(grid("basic-rate", "wlan0"), "rate=6|rate=9");
    ASSERT_EQ(lsqlquery_delete_pv("basic-rate", nullptr, nullptr), 0);
    lsqlquery_fail_nth_write(1);
    EXPECT_EQ(lsqlquery_delete_pv("radio", nullptr, nullptr), -1);
    EXPECT_EQ(dump(), before);
}

TEST_F(Dman, ForkedChildWritesWhileTheParentReadsAndWrites) {
    ASSERT_EQ(set("radio", "wlan0", "tx-power", "0"), 0);  // the parent's connection is open
    pid_t child = map_platform_fork();
    ASSERT_GE(child, 0);
    int failures = 0;
    for (int i = 1; i <= 1000; ++i) {
        std::string value = std::to_string(i);
        failures += set("radio", child == 0 ? "wlan0" : "wlan1", "tx-power", value.c_str()) != 0;
        failures += child != 0 && get("radio", "wlan0", "tx-power") == kAbsent;
    }
    if (child == 0) {
        lsqlquery_close();
        _exit(failures == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's writes failed";
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(get("radio", "wlan0", "tx-power") + get("radio", "wlan1", "tx-power"), "10001000");
}

TEST_F(Dman, SavingCopiesTheRunningConfigurationToStartup) {
    seed();
    EXPECT_EQ(dump(dman_copy::startup), "");
    ASSERT_EQ(set("config", nullptr, "startup", "running"), 0);
    const std::string saved = dump();
    EXPECT_EQ(dump(dman_copy::startup), saved);
    EXPECT_EQ(saved.find("config"), npos) << "the request itself is not stored";
    // Later changes stay in the running configuration until the next save,
    // and a save that fails leaves the startup copy as it was.
    ASSERT_EQ(set("radio", "wlan0", "mode", "a"), 0);
    EXPECT_EQ(dump(dman_copy::startup), saved);
    lsqlquery_fail_nth_write(1);
    pv save = node("startup", "running");
    char* error = nullptr;
    int rc = lsqlquery_set_pv_with_error("config", nullptr, &save, nullptr, &error);
    EXPECT_EQ(error_of(rc, error), "database write failed");
    EXPECT_EQ(dump(dman_copy::startup), saved);
    EXPECT_EQ(set("config", nullptr, "startup", "running"), 0);
    EXPECT_EQ(dump(dman_copy::startup), dump());
}

TEST_F(Dman, TheSqliteShellReadsAndWritesTheSameDatabase) {
    if (system("command -v sqlite3 >/dev/null") != 0) {
        GTEST_SKIP() << "the sqlite3 shell is not installed";
    }
    seed();
    ASSERT_EQ(set("config", nullptr, "startup", "running"), 0);
    // The query of the documentation; then a value no property may hold (too
    // long), which the library drops with a log line.
    sb.write("/q.sql",
             "SELECT value FROM running WHERE class = 'vap' AND instance = 'vap0' AND property ="
             " 'redirect-url' AND row IN (SELECT row FROM running WHERE property = 'radio' AND"
             " value = 'wlan1');\nSELECT COUNT(*) FROM startup;\nPRAGMA journal_mode;\n"
             "INSERT INTO running (row, class, instance, property, value) VALUES (100, 'ntp', '',"
             " 'status', 'down'), (101, 'ntp', 'x', 'server', hex(zeroblob(1000)));\n");
    FILE* shell =
        popen(("sqlite3 " + sb.path(DMAN_DB_PATH) + " <" + sb.path("/q.sql")).c_str(), "r");
    char out[64] = "";
    EXPECT_EQ(fread(out, 1, sizeof out - 1, shell), 12u) << out;
    EXPECT_EQ(pclose(shell), 0);
    EXPECT_STREQ(out, "corp\n14\nwal\n");
    EXPECT_EQ(get("ntp", nullptr, "status") + get("ntp", "x", "server"), "down<absent>");
}

TEST_F(Dman, InitWaitsForThePidFile) {
    using namespace std::chrono;
    std::thread writer([this] {
        std::this_thread::sleep_for(milliseconds(1500));
        sb.write(DMAN_PID_PATH, "42\n");
    });
    auto start = steady_clock::now();
    EXPECT_EQ(map_dman_lsql_init(), 0);
    double waited = duration<double>(steady_clock::now() - start).count();
    writer.join();
    EXPECT_GE(waited, 1.5);  // tested once a second: found at the second test after it appeared
    EXPECT_LT(waited, 3.5);
    start = steady_clock::now();
    EXPECT_EQ(map_dman_lsql_init(), 0);
    EXPECT_LT(duration<double>(steady_clock::now() - start).count(), 0.5);
}

}  // namespace
