// dmanctl: reads and writes the AP's configuration database from the shell.
//
// Results go to standard output ("dmanctl get" prints the value alone), an
// error is one line on standard error, and the library's own log lines are
// dropped unless --verbose sends them to standard error.
// Exit status: 0 done, 1 failed (or a value absent), 2 bad usage.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dman/dman_schema.hpp"
#include "dman/dman_store.hpp"
#include "dman/dman_text.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

FILE* g_out = stdout;

void usage(FILE* to) {
    fprintf(to,
            "usage: dmanctl [--root DIR] [--verbose] COMMAND ...\n"
            "  get ADDRESS PROPERTY            print the value (exit 1 when absent)\n"
            "  set ADDRESS PROPERTY VALUE [PROPERTY VALUE ...]\n"
            "  insert ADDRESS PROPERTY VALUE [PROPERTY VALUE ...]\n"
            "                                  add a row to a multi-row class\n"
            "  delete ADDRESS [PROPERTY VALUE ...]\n"
            "                                  delete the rows holding these values\n"
            "                                  (every row of the address when none)\n"
            "  show [CLASS]                    list the configuration, grouped by row\n"
            "  dump [--startup] [CLASS]        print it in the text format load reads\n"
            "  load [--merge] FILE             replace the configuration with FILE ('-':\n"
            "                                  standard input); --merge adds to it\n"
            "  save                            copy the running configuration to startup\n"
            "  init                            create the database and /var/run/dman.pid\n"
            "  schema [CLASS]                  list the classes, their instance names and\n"
            "                                  properties (%%d: a number)\n"
            "ADDRESS is CLASS[/INSTANCE][@QUALIFIER]: radio/wlan0, vap/vap0@wlan0 (VAP\n"
            "vap0 of radio wlan0), tx-queue/wlan0@queue=data0.  Without an instance, set\n"
            "writes every instance of the class (or its single instance).\n"
            "  --root DIR     work on the sandbox root DIR instead of the AP's own files\n"
            "  --verbose, -v  show the database library's log lines on standard error\n"
            "  --help, -h     this text\n"
            "Exit status: 0 done, 1 failed (or a value absent), 2 bad usage.\n");
}

int fail(const std::string& message) {
    fprintf(stderr, "dmanctl: %s\n", message.c_str());
    return kFailed;
}

int bad_usage(const std::string& message) {
    fprintf(stderr, "dmanctl: %s (see dmanctl --help)\n", message.c_str());
    return kUsage;
}

bool parse_address(const char* text, dman_text_address& a) {
    std::string error;
    if (dman_text_parse_address(text, a, error) != 0) {
        bad_usage(std::string("bad address '") + text + "': " + error);
        return false;
    }
    return true;
}

// PROPERTY VALUE pairs of the command line.
bool parse_pairs(int argc, char** argv, int first, dman_text_line& line) {
    if ((argc - first) % 2 != 0) {
        bad_usage("properties and values must come in pairs");
        return false;
    }
    for (int i = first; i < argc; i += 2) {
        line.nodes.push_back({argv[i], argv[i + 1]});
    }
    return true;
}

int cmd_get(int argc, char** argv) {
    dman_text_address a;
    if (argc != 3) {
        return bad_usage("get needs an address and a property");
    }
    if (!parse_address(argv[1], a)) {
        return kUsage;
    }
    const char* instance = a.has_instance ? a.instance.c_str() : nullptr;
    pv* v = a.has_qualifier ? lsqlquery_get_pv_q1(a.cls.c_str(), instance, argv[2],
                                                  a.qual_name.c_str(), a.qual_value.c_str())
                            : lsqlquery_get_pv(a.cls.c_str(), instance, argv[2]);
    if (v == nullptr || v->value == nullptr) {
        lsqlquery_destroy_pv(v);
        return fail(std::string("no ") + argv[2] + " in " + argv[1]);
    }
    fprintf(g_out, "%s\n", v->value);
    lsqlquery_destroy_pv(v);
    return 0;
}

// set and insert.
int cmd_write(int argc, char** argv, bool insert) {
    dman_text_line line;
    line.blank = false;
    line.insert = insert;
    if (argc < 4) {
        return bad_usage(std::string(argv[0]) + " needs an address, a property and a value");
    }
    if (!parse_address(argv[1], line.address) || !parse_pairs(argc, argv, 2, line)) {
        return kUsage;
    }
    std::string error;
    if (dman_text_apply(line, true, error) != 0) {
        return fail(std::string(argv[0]) + " " + argv[1] + ": " + error);
    }
    return 0;
}

int cmd_delete(int argc, char** argv) {
    dman_text_line line;
    if (argc < 2) {
        return bad_usage("delete needs an address");
    }
    if (!parse_address(argv[1], line.address) || !parse_pairs(argc, argv, 2, line)) {
        return kUsage;
    }
    const dman_text_address& a = line.address;
    if (a.has_qualifier) {
        line.nodes.insert(line.nodes.begin(), {a.qual_name, a.qual_value});
    }
    pv* head = nullptr;
    pv* tail = nullptr;
    for (const auto& n : line.nodes) {
        tail = lsqlquery_new_pv(n.property.c_str(), n.value.c_str(), tail);
        if (tail == nullptr) {
            lsqlquery_destroy_pv(head);
            return fail("out of memory");
        }
        head = head != nullptr ? head : tail;
    }
    int rc =
        lsqlquery_delete_pv(a.cls.c_str(), a.has_instance ? a.instance.c_str() : nullptr, head);
    lsqlquery_destroy_pv(head);
    return rc == 0 ? 0 : fail(std::string("cannot delete from ") + argv[1]);
}

int cmd_show(int argc, char** argv) {
    if (argc > 2) {
        return bad_usage("show takes at most a class");
    }
    std::vector<dman_row> rows;
    std::string error;
    if (dman_store_load(argc == 2 ? argv[1] : nullptr, nullptr, dman_copy::running, rows, error) !=
        0) {
        return fail(error);
    }
    // Rows in creation order, but those of one instance together.
    std::vector<dman_text_row> forms = dman_text_rows(rows);
    std::map<std::pair<std::string_view, std::string_view>, size_t> first_seen;
    for (const auto& f : forms) {
        first_seen.try_emplace({f.row->cls, f.row->instance}, first_seen.size());
    }
    std::stable_sort(forms.begin(), forms.end(), [&](const auto& a, const auto& b) {
        return first_seen[{a.row->cls, a.row->instance}] <
               first_seen[{b.row->cls, b.row->instance}];
    });
    for (const auto& f : forms) {
        fprintf(g_out, "%s%s\n", f.address.c_str(), f.insert ? " +" : "");
        for (const auto& c : f.row->cells) {
            fprintf(g_out, "    %s = %s\n", dman_text_escape_name(c.property).c_str(),
                    dman_text_quote_value(c.value).c_str());
        }
    }
    if (argc == 2 && rows.empty()) {
        return fail(std::string("no class ") + argv[1]);
    }
    return 0;
}

int cmd_dump(int argc, char** argv) {
    dman_copy copy = dman_copy::running;
    int i = 1;
    if (i < argc && strcmp(argv[i], "--startup") == 0) {
        copy = dman_copy::startup;
        ++i;
    }
    if (argc - i > 1) {
        return bad_usage("dump takes at most a class");
    }
    std::string error;
    if (dman_text_dump(g_out, i < argc ? argv[i] : nullptr, copy, error) != 0) {
        return fail(error);
    }
    return 0;
}

int cmd_load(int argc, char** argv) {
    bool replace = true;
    int i = 1;
    if (i < argc && strcmp(argv[i], "--merge") == 0) {
        replace = false;
        ++i;
    }
    if (argc - i != 1) {
        return bad_usage("load needs one file");
    }
    const char* name = argv[i];
    bool from_stdin = strcmp(name, "-") == 0;
    // FILE is a host file named by the person running the tool, not an AP path.
    FILE* in = from_stdin ? stdin : fopen(name, "r");
    if (in == nullptr) {
        return fail(std::string("cannot open ") + name + ": " + strerror(errno));
    }
    std::string error;
    int rc = dman_text_load(in, replace, error);
    if (!from_stdin) {
        fclose(in);
    }
    return rc == 0 ? 0 : fail(std::string(name) + ": " + error);
}

int cmd_save(int argc, char**) {
    if (argc != 1) {
        return bad_usage("save takes no arguments");
    }
    pv* n = lsqlquery_new_pv_solo("startup", "running");
    char* text = nullptr;
    int rc = n != nullptr ? lsqlquery_set_pv_with_error("config", nullptr, n, nullptr, &text) : -1;
    std::string error = text != nullptr ? text : "out of memory";
    free(text);
    lsqlquery_destroy_pv(n);
    return rc == 0 ? 0 : fail("saving the configuration: " + error);
}

int cmd_init(int argc, char**) {
    if (argc != 1) {
        return bad_usage("init takes no arguments");
    }
    std::string error;
    return dman_store_create(error) == 0 ? 0 : fail(error);
}

int cmd_schema(int argc, char** argv) {
    if (argc > 2) {
        return bad_usage("schema takes at most a class");
    }
    std::string error;
    if (argc == 2 && dman_schema_class_of(argv[1], error) == nullptr) {
        return fail(error);
    }
    for (const auto& c : dman_schema_classes()) {
        if (argc == 2 && strcmp(argv[1], c.name) != 0) {
            continue;
        }
        std::string instances;
        for (const char* i : c.instances) {
            instances += *i == '\0' ? " (single instance)" : std::string(" ") + i;
        }
        fprintf(g_out, "%s%s\n", c.name, instances.c_str());
        for (const char* p : c.properties) {
            fprintf(g_out, "    %s\n", p);
        }
    }
    return 0;
}

struct command {
    const char* name;
    int (*run)(int argc, char** argv);
    bool needs_database = true;
};

constexpr command kCommands[] = {
    {"get", cmd_get},
    {"set", [](int argc, char** argv) { return cmd_write(argc, argv, false); }},
    {"insert", [](int argc, char** argv) { return cmd_write(argc, argv, true); }},
    {"delete", cmd_delete},
    {"show", cmd_show},
    {"dump", cmd_dump},
    {"load", cmd_load},
    {"save", cmd_save},
    {"init", cmd_init},
    {"schema", cmd_schema, false},
};

}  // namespace

int main(int argc, char** argv) {
    bool verbose = false;
    const char* root = nullptr;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        }
        if (strcmp(argv[i], "--verbose") == 0 || strcmp(argv[i], "-v") == 0) {
            verbose = true;
            continue;
        }
        if (strcmp(argv[i], "--root") != 0 || i + 1 >= argc) {
            return bad_usage(std::string("unknown option ") + argv[i]);
        }
        root = argv[++i];
    }
    if (i >= argc) {
        return bad_usage("no command");
    }
    const command* cmd = nullptr;
    for (const auto& c : kCommands) {
        if (strcmp(argv[i], c.name) == 0) {
            cmd = &c;
        }
    }
    if (cmd == nullptr) {
        return bad_usage(std::string("unknown command ") + argv[i]);
    }
    // Results keep standard output.  The library logs on standard output too:
    // its lines go to standard error with --verbose, else nowhere, so that an
    // error is the one line this tool prints.
    fflush(stdout);
    int out_fd = dup(STDOUT_FILENO);
    FILE* out = out_fd >= 0 ? fdopen(out_fd, "w") : nullptr;
    int log_fd = verbose ? STDERR_FILENO : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (out == nullptr || log_fd < 0 || dup2(log_fd, STDOUT_FILENO) < 0) {
        return fail("cannot set up the output");
    }
    g_out = out;
    if (root != nullptr && map_platform_set_root(root) != 0) {
        return bad_usage(std::string(root) + " is not a usable sandbox root");
    }
    std::string error;
    int rc;
    if (cmd->needs_database && dman_store_open(error) != 0) {
        char path[MAP_PLATFORM_PATH_MAX];
        if (map_platform_path(DMAN_DB_PATH, path, sizeof path) != 0) {
            snprintf(path, sizeof path, "%s", DMAN_DB_PATH);
        }
        rc = fail(error + " (" + path + ")");
    } else {
        rc = cmd->run(argc - i, argv + i);
    }
    lsqlquery_close();
    if (fclose(out) != 0 && rc == 0) {
        rc = fail("cannot write the output");
    }
    return rc;
}
