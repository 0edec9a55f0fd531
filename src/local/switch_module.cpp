#include "local/switch_module.hpp"

#include <cstring>

#include "log/map_log.hpp"
#include "local/mmsg_handler.hpp"

namespace {
static constexpr char map_log_module[] = "switch_module";
constexpr uint8_t kRfscanReportCmd = 6;
constexpr uint8_t kChannelSupportedCmd = 7;
constexpr uint8_t kWiredNwDetVlanCmd = 23;
}  // namespace

int mapd_send_rfscan_report_cmd_msg_to_hostapd(uint32_t interval) {
    uint8_t msg[8] = {kRfscanReportCmd};
    memcpy(msg + 4, &interval, sizeof interval);  // host order: both ends share the host
    if (mmsg_handler_send(msg, sizeof msg) != static_cast<int>(sizeof msg)) {
        MAP_ERROR("Error sending RF Scan Report Cmd Msg to hostapd.");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_RADIO, "Successfully sent RF Scan Report Cmd Msg to hostapd.\n");
    return 0;
}

void mapd_send_supported_channels_cmd_msg_to_hostapd() {
    MAP_TRACE(MAP_TRACE_LOCAL, "%s: begin.\n", __func__);
    const uint8_t msg[1] = {kChannelSupportedCmd};
    MAP_TRACE(MAP_TRACE_LOCAL, "Sending Supported Channels Cmd (type == %d) msg to hostapd\n", msg[0]);
    if (mmsg_handler_send(msg, sizeof msg) == 1) {
        MAP_TRACE(MAP_TRACE_LOCAL, "Sending Supported Channels Cmd Msg to hostapd success\n");
    } else {
        MAP_TRACE(MAP_TRACE_LOCAL, "Sending Supported Channels Cmd Msg to hostapd failed !!! \n");
    }
    MAP_TRACE(MAP_TRACE_LOCAL, "%s: end.\n", __func__);
}

int mapd_send_wired_nw_det_vlan_cmd_msg_to_hostapd(uint16_t vlan) {
    uint8_t msg[4] = {kWiredNwDetVlanCmd, 0};
    memcpy(msg + 2, &vlan, sizeof vlan);  // host order: both ends share the host
    if (mmsg_handler_send(msg, sizeof msg) != static_cast<int>(sizeof msg)) {
        MAP_ERROR("Error sending wired n/w detection VLAN config cmd msg to  hostapd.");
        return -1;
    }
    return 0;
}
