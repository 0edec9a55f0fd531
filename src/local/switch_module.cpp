#include "local/switch_module.hpp"

#include <cstring>

#include "core/map_log.hpp"
#include "local/mmsg_handler.hpp"

namespace {
static constexpr char map_log_module[] = "switch_module";
constexpr uint8_t kRfscanReportCmd = 6;
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
