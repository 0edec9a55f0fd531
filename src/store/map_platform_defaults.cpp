// Platform defaults: radio descriptions, modes, channels and rate rows of
// the QX_WAP platforms, written once at start-up.
#include <cstring>

#include "store/map_dman_internal.hpp"
#include "store/map_dman_lsql.hpp"
#include "log/map_log.hpp"

static constexpr char map_log_module[] = "map_dman_lsql";

using map_dman_detail::pv_ptr;
using map_dman_detail::set_one;

namespace {

constexpr int SET = MAP_PLATFORM_OP_SET;
constexpr int DEL = MAP_PLATFORM_OP_DELETE_ALL;
constexpr int INS = MAP_PLATFORM_OP_INSERT;
constexpr int END = MAP_PLATFORM_OP_END;

}  // namespace

// clang-format off
const map_platform_default map_platform_defaults_two_radios[] = {
    {SET, "dot11", nullptr, "status", "down"},
    {SET, "radio", "wlan0", "description", "IEEE 802.11a"},
    {SET, "radio", "wlan0", "valid-mode-list", "a a-n n-only-a"},
    {SET, "radio", "wlan0", "mode", "a-n"},
    {SET, "radio", "wlan0", "static-channel", "36"},
    {DEL, "basic-rate", "wlan0", nullptr, nullptr},
    {INS, "basic-rate", "wlan0", "rate", "24"},
    {INS, "basic-rate", "wlan0", "rate", "12"},
    {INS, "basic-rate", "wlan0", "rate", "6"},
    {DEL, "supported-rate", "wlan0", nullptr, nullptr},
    {INS, "supported-rate", "wlan0", "rate", "54"},
    {INS, "supported-rate", "wlan0", "rate", "48"},
    {INS, "supported-rate", "wlan0", "rate", "36"},
    {INS, "supported-rate", "wlan0", "rate", "24"},
    {INS, "supported-rate", "wlan0", "rate", "18"},
    {INS, "supported-rate", "wlan0", "rate", "12"},
    {INS, "supported-rate", "wlan0", "rate", "9"},
    {INS, "supported-rate", "wlan0", "rate", "6"},
    {SET, "radio", "wlan1", "description", "IEEE 802.11b/g"},
    {SET, "radio", "wlan1", "valid-mode-list", "bg bg-n n-only-g"},
    {SET, "radio", "wlan1", "mode", "bg-n"},
    {SET, "radio", "wlan1", "static-channel", "6"},
    {DEL, "basic-rate", "wlan1", nullptr, nullptr},
    {INS, "basic-rate", "wlan1", "rate", "11"},
    {INS, "basic-rate", "wlan1", "rate", "5.5"},
    {INS, "basic-rate", "wlan1", "rate", "2"},
    {INS, "basic-rate", "wlan1", "rate", "1"},
    {DEL, "supported-rate", "wlan1", nullptr, nullptr},
    {INS, "supported-rate", "wlan1", "rate", "54"},
    {INS, "supported-rate", "wlan1", "rate", "48"},
    {INS, "supported-rate", "wlan1", "rate", "36"},
    {INS, "supported-rate", "wlan1", "rate", "24"},
    {INS, "supported-rate", "wlan1", "rate", "18"},
    {INS, "supported-rate", "wlan1", "rate", "12"},
    {INS, "supported-rate", "wlan1", "rate", "11"},
    {INS, "supported-rate", "wlan1", "rate", "9"},
    {INS, "supported-rate", "wlan1", "rate", "6"},
    {INS, "supported-rate", "wlan1", "rate", "5.5"},
    {INS, "supported-rate", "wlan1", "rate", "2"},
    {INS, "supported-rate", "wlan1", "rate", "1"},
    {SET, "dot11", nullptr, "status", "up"},
    {END, nullptr, nullptr, nullptr, nullptr},
};

const map_platform_default map_platform_defaults_one_radio[] = {
    {SET, "dot11", nullptr, "status", "down"},
    {SET, "radio", "wlan0", "description", "IEEE 802.11g"},
    {SET, "radio", "wlan0", "valid-mode-list", "a bg a-n bg-n n-only-a n-only-g"},
    {SET, "radio", "wlan0", "mode", "bg-n"},
    {SET, "radio", "wlan0", "static-channel", "6"},
    {DEL, "basic-rate", "wlan0", nullptr, nullptr},
    {INS, "basic-rate", "wlan0", "rate", "11"},
    {INS, "basic-rate", "wlan0", "rate", "5.5"},
    {INS, "basic-rate", "wlan0", "rate", "2"},
    {INS, "basic-rate", "wlan0", "rate", "1"},
    {DEL, "supported-rate", "wlan0", nullptr, nullptr},
    {INS, "supported-rate", "wlan0", "rate", "54"},
    {INS, "supported-rate", "wlan0", "rate", "48"},
    {INS, "supported-rate", "wlan0", "rate", "36"},
    {INS, "supported-rate", "wlan0", "rate", "24"},
    {INS, "supported-rate", "wlan0", "rate", "18"},
    {INS, "supported-rate", "wlan0", "rate", "12"},
    {INS, "supported-rate", "wlan0", "rate", "11"},
    {INS, "supported-rate", "wlan0", "rate", "9"},
    {INS, "supported-rate", "wlan0", "rate", "6"},
    {INS, "supported-rate", "wlan0", "rate", "5.5"},
    {INS, "supported-rate", "wlan0", "rate", "2"},
    {INS, "supported-rate", "wlan0", "rate", "1"},
    {SET, "dot11", nullptr, "status", "up"},
    {END, nullptr, nullptr, nullptr, nullptr},
};
// clang-format on

namespace {

// Single-instance classes have no instance name; the traces say "none".
const char* instance_text(const map_platform_default& step) {
    return step.instance != nullptr ? step.instance : "none";
}

void apply_set(const map_platform_default& step) {
    if (set_one(step.cls, step.instance, step.property, step.value) == 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "Success in applying Property- %s for class %s for instance %s",
                  step.property, step.cls, instance_text(step));
    } else {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Error in applying Property- %s for class %s for instance %s",
                  step.property, step.cls, instance_text(step));
    }
}

void apply_delete_all(const map_platform_default& step) {
    if (lsqlquery_delete_pv(step.cls, step.instance, nullptr) == 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "Success in Deleting class %s for instance %s", step.cls,
                  instance_text(step));
    } else {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Error in Deleting class %s for instance %s", step.cls,
                  instance_text(step));
    }
}

void apply_insert(const map_platform_default& step) {
    pv_ptr row(lsqlquery_new_pv_solo(step.property, step.value));
    if (row && lsqlquery_insert_pv(step.cls, step.instance, row.get()) == 0) {
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "Success in Inserting Property- %s for class %s for instance %s", step.property,
                  step.cls, instance_text(step));
    } else {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Error in Inserting Property- %s for class %s for instance %s",
                  step.property, step.cls, instance_text(step));
    }
}

// Every step runs whatever the outcome of the one before.
void apply_table(const map_platform_default* table) {
    for (const map_platform_default* step = table; step->op != MAP_PLATFORM_OP_END; ++step) {
        switch (step->op) {
            case MAP_PLATFORM_OP_SET:
                apply_set(*step);
                break;
            case MAP_PLATFORM_OP_DELETE_ALL:
                apply_delete_all(*step);
                break;
            case MAP_PLATFORM_OP_INSERT:
                apply_insert(*step);
                break;
            default:
                MAP_ERROR("unknown platform defaults operation %d", step->op);
                break;
        }
    }
}

}  // namespace

int map_apply_platform_specific_changes(const char* platform) {
    if (platform == nullptr || strncmp(platform, "QX_WAP", 6) != 0) {
        return 0;
    }
    apply_table(map_dman_lsql_get_num_radios() == 2 ? map_platform_defaults_two_radios
                                                    : map_platform_defaults_one_radio);
    return 1;
}
