#include "commands/map_cs_radio_cmds.hpp"

#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "dman/lsqlquery.hpp"
#include "local/mmsg_handler.hpp"
#include "local/mmsg_records.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"
#include "store/map_dman_lsql.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"

namespace {

static constexpr char map_log_module[] = "map_cs_radio_cmds";

// The walk's results; the channel set child exits with them.
constexpr int kDone = MAP_CHANNEL_SET_DONE;
constexpr int kRefused = MAP_CHANNEL_SET_REFUSED;
constexpr int kChannelZero = MAP_CHANNEL_SET_ZERO;

// The switch tunes radios only over an established link.
bool accepts_radio_cmds(map_control_block* cb) {
    if (map_handler_is_connection_established(cb) != 0 || cb->cs == nullptr) {
        MAP_ERROR("AP is in invalid state to accept msgs from Switch");
        return false;
    }
    return true;
}

wire_reader reader_of(const uint8_t* data, int length) {
    return wire_reader_make(data, length > 0 ? static_cast<size_t>(length) : 0);
}

// The radio's interface name: the one its configuration stored, or before any
// configuration named the radio, the name of its id.
const char* radio_name(const map_radio_config& radio, int radio_id) {
    static constexpr const char* kNames[MAP_CS_NUM_RADIOS] = {"wlan0", "wlan1"};
    return radio.radio_name[0] != '\0' ? radio.radio_name : kNames[radio_id - 1];
}

// What differs between the channel and the power level commands.
struct radio_cmd {
    const char* name;        // in "INFO: Received <name> msg for radio id = <id>"
    const char* invalid_ie;  // logged for an element that does not belong
    bool ie_type_shown;      // the element type follows the invalid element text
    uint16_t value_code;
    size_t value_size;
    // Takes the value for radio `radio_id` (1 or 2); kDone goes on.
    int (*take)(map_cs* cs, int radio_id, const uint8_t* value);
};

// The element walk of the channel and power level commands.
int walk(map_control_block* cb, const uint8_t* data, int length, const radio_cmd& cmd) {
    wire_reader r = reader_of(data, length);
    int radio_id = 0;  // none yet
    wire_elem e;
    while (wire_remaining(r) >= 5 && wire_elem_next(r, e)) {
        uint8_t value[4] = {};
        if (e.type == MAP_ELEM_MAC) {
            if (!map_cs_elem_is_own_mac(e, MAP_TRACE_RADIO)) {
                return kRefused;
            }
        } else if (e.type == MAP_RADIO_ELEM_RADIO_ID && wire_elem_fixed(e, value, 1)) {
            if (value[0] == 0 || value[0] > MAP_CS_NUM_RADIOS) {
                MAP_ERROR("ERROR: Received incorrect radio id(=%d)", value[0]);
                return kRefused;
            }
            radio_id = value[0];
            MAP_INFO("INFO: Received %s msg for radio id = %d", cmd.name, radio_id);
        } else if (e.type == cmd.value_code && wire_elem_fixed(e, value, cmd.value_size)) {
            // A value before any radio id addresses no radio.  The switch
            // sends the id first, so such a message is malformed: it is
            // refused here and nothing after it is read.
            if (radio_id == 0) {
                MAP_ERROR("ERROR: No radio id before element 0x%04x", e.type);
                return kRefused;
            }
            if (int rc = cmd.take(cb->cs, radio_id, value); rc != kDone) {
                return rc;
            }
        } else if (cmd.ie_type_shown) {
            // Known elements with a value too short to read count as not
            // belonging to the message; all are skipped by their length.
            MAP_ERROR("%s: 0x%04x", cmd.invalid_ie, e.type);
        } else {
            MAP_ERROR("%s", cmd.invalid_ie);
        }
    }
    return kDone;
}

// The channel set child's step: the stored transmit power is written again,
// then the channel (both kept to 8 bits).
int take_channel(map_cs* cs, int radio_id, const uint8_t* value) {
    const int channel = static_cast<int>(wire_load_be32(value));
    const map_radio_config& radio = cs->radio[radio_id - 1];
    const char* name = radio_name(radio, radio_id);
    MAP_TRACE(MAP_TRACE_RADIO, "Setting new channel (%d) for radio=%d, name = %s\n", channel,
              radio_id, name);
    if (channel == 0) {
        MAP_TRACE(MAP_TRACE_RADIO, "Invalid new channel (%d) for radio=%d, name = %s\n", channel,
                  radio_id, name);
        return kChannelZero;
    }
    map_lsql_pwr_lvl_set(name, static_cast<uint8_t>(radio.tx_power));  // failures are logged
    map_lsql_new_channel_set(name, channel & 0xff);
    return kDone;
}

int take_power(map_cs* cs, int radio_id, const uint8_t* value) {
    map_radio_config& radio = cs->radio[radio_id - 1];
    const char* name = radio_name(radio, radio_id);
    MAP_TRACE(MAP_TRACE_RADIO, "Setting power level(%d) for radio=%d, name = %s\n", value[0],
              radio_id, name);
    uint8_t mac[6] = {};
    map_proc_get_mac_addr(mac, name);
    mapd_send_power_change_cmd_msg_to_hostapd(value[0], mac);
    radio.tx_power = value[0];
    return kDone;
}

constexpr radio_cmd kChannelSet{"Channel set", "AP received Channel set msg with invalid IE", true,
                                MAP_RADIO_ELEM_CHANNEL, 4, take_channel};
constexpr radio_cmd kPowerSet{"power level set", "AP received Power Level set msg with invalid IE",
                              false, MAP_RADIO_ELEM_POWER, 1, take_power};

}  // namespace

bool map_cs_elem_is_own_mac(const wire_elem& e, uint32_t trace_mask) {
    uint8_t mac[6], own[6] = {};
    map_proc_get_mac_addr(own, nullptr);
    if (!wire_elem_fixed(e, mac, sizeof mac) || memcmp(mac, own, sizeof mac) != 0) {
        MAP_TRACE(trace_mask, "AP MAC Address received is not same as self MAC Address\n");
        return false;
    }
    return true;
}

int map_cs_process_rf_scan_intvl_pkt(map_control_block* cb, const uint8_t* data, int length) {
    MAP_INFO("INFO: Received RF Scan Interval Msg Pkt");
    if (map_handler_is_connection_established(cb) != 0) {
        MAP_ERROR("AP is in invalid state to accept msgs from Switch");
        return -1;
    }
    wire_reader r = reader_of(data, length);
    wire_elem e;
    while (wire_remaining(r) >= 5 && wire_elem_next(r, e)) {
        if (e.type == MAP_ELEM_MAC) {
            if (!map_cs_elem_is_own_mac(e, MAP_TRACE_RADIO)) {
                return -1;
            }
        } else if (e.type == MAP_RADIO_ELEM_RADIO_ID) {
            // The bytes left after this element's header.
            const int left = static_cast<int>(wire_remaining(r) + e.value.size());
            if (cb->cs != nullptr) {
                MAP_TRACE(MAP_TRACE_RADIO,
                          "INFO: Received RF Scan Interval with *len == %d, elem_len == %d\n", left,
                          e.len);
            }
            uint8_t value[2];
            if (e.len == sizeof value && wire_elem_fixed(e, value, sizeof value)) {
                const int interval = wire_load_be16(value);
                MAP_TRACE(MAP_TRACE_RADIO, "INFO: Received RF Scan Interval == %d\n", interval);
                cb->switch_comm->rfscan_interval = interval;
                cb->switch_comm->rfscan_countdown = interval;
            } else {
                MAP_ERROR("ERROR: Received incorrect RF Scan Interval Config pkt. elem_len == %d, "
                          "*len == %d",
                          e.len, left);
            }
            MAP_TRACE(MAP_TRACE_RADIO, "Processed the RF Scan Interval message Successful");
            return 0;
        } else {
            MAP_ERROR("AP received RF Scan Interval Msg with invalid IE");
        }
    }
    return -1;
}

int map_cs_process_channel_set_pkt(map_control_block* cb, const uint8_t* data, int length) {
    MAP_INFO("INFO: Received Channel Set Msg Pkt");
    if (!accepts_radio_cmds(cb)) {
        return -1;
    }
    // The database is written by a child so that the main loop goes on.
    signal(SIGCHLD, mapd_service_sig_child);
    const pid_t pid = map_platform_fork();
    if (pid < 0) {
        MAP_ERROR("Error: Forking child process ");
        return -1;
    }
    if (pid > 0) {
        return 0;
    }
    const int status = map_cs_channel_set_child(cb, data, length);
    lsqlquery_close();
    _exit(status);
}

int map_cs_channel_set_child(map_control_block* cb, const uint8_t* data, int length) {
    return walk(cb, data, length, kChannelSet);
}

int map_cs_process_power_lvl_set_pkt(map_control_block* cb, const uint8_t* data, int length) {
    MAP_INFO("INFO: Received Power Level Set Msg Pkt");
    if (!accepts_radio_cmds(cb)) {
        return -1;
    }
    return walk(cb, data, length, kPowerSet) == kDone ? 0 : -1;
}

void mapd_send_power_change_cmd_msg_to_hostapd(uint8_t level, const uint8_t mac[6]) {
    MAP_TRACE(MAP_TRACE_LOCAL, "%s: begin.\n", __func__);
    power_change_info_cmdmsg_s msg{MMSG_POWER_CHANGE, level, {}};
    memcpy(msg.macaddr, mac, sizeof msg.macaddr);
    MAP_TRACE(MAP_TRACE_LOCAL, "Sending Power Change Cmd (type == %d) msg to hostapd\n", msg.type);
    if (mmsg_handler_send(reinterpret_cast<const uint8_t*>(&msg), sizeof msg) ==
        static_cast<int>(sizeof msg)) {
        MAP_TRACE(MAP_TRACE_LOCAL, "Sending Power Change Cmd Msg to hostapd success\n");
    } else {
        MAP_TRACE(MAP_TRACE_LOCAL, "Sending Power Change Cmd Msg to hostapd failed !!! \n");
    }
    MAP_TRACE(MAP_TRACE_LOCAL, "%s: end.\n", __func__);
}
