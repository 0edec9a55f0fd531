// Inbound dispatch by transport, admin mode, stand-alone and managed mode,
// connection set-up and clean-up, debug login and the timer pass.
#include "core/map_handler.hpp"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "cltqos/map_cltqos.hpp"
#include "commands/map_cs.hpp"
#include "commands/map_ap_provision.hpp"
#include "commands/map_cs_config.hpp"
#include "commands/map_cs_radio_cmds.hpp"
#include "commands/map_cs_wids.hpp"
#include "config/map_config.hpp"
#include "store/map_dman_lsql.hpp"
#include "log/map_log.hpp"
#include "local/map_client_auth.hpp"
#include "local/map_client_relay.hpp"
#include "local/map_tspec.hpp"
#include "local/mmsg_handler.hpp"
#include "stats/map_proc.hpp"
#include "stats/map_stats.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_comm_util.hpp"
#include "tunnel/map_cl2tunnel.hpp"
#include "tunnel/map_dl2tunnel.hpp"
#include "tunnel/map_tunnel.hpp"
#include "update/map_reset.hpp"
#include "update/map_update.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_handler";

constexpr uint16_t kDebugLoginStatus = 0x4001;
constexpr uint16_t kDebugLoginPassword = 0x4002;
constexpr int kDebugLoginMin = 41;

// A handler of one message type: the control block, the whole datagram or
// record (header included) and the bytes after the header.
struct dispatch_ctx {
    map_control_block* cb;
    map_switch_comm* rec;
    const uint8_t* msg;   // header included
    int msg_len;
    const uint8_t* body;  // after the header
    int body_len;
    uint16_t hdr_length;  // the header's message length field
    const sockaddr_in* from = nullptr;  // a datagram's source, when known
};
using dispatch_fn = int (*)(const dispatch_ctx&);

// One row of a dispatch table: the message type, its handler and the rules
// the dispatcher applies before the handler runs.
struct dispatch_row {
    uint16_t type;
    dispatch_fn fn;
    // The body and the header's length field must be at least this long;
    // otherwise `short_text` is logged (when given) and the result is -1.
    uint16_t min_len = 0;
    const char* short_text = nullptr;
    // The connection state the row needs (-1: any).  In another state
    // `state_text` is logged (when given) and the dispatcher returns
    // `state_result` without running the handler.
    int state = -1;
    const char* state_text = nullptr;
    int state_result = 0;
};

int dispatch(const dispatch_row* rows, size_t n, uint16_t type, const dispatch_ctx& c) {
    for (size_t i = 0; i < n; ++i) {
        const dispatch_row& row = rows[i];
        if (row.type != type) {
            continue;
        }
        if (c.body_len < row.min_len || c.hdr_length < row.min_len) {
            if (row.short_text != nullptr) MAP_ERROR("%s", row.short_text);
            return -1;
        }
        if (row.state >= 0 && c.rec->state != row.state) {
            if (row.state_text != nullptr) MAP_ERROR("%s", row.state_text);
            return row.state_result;
        }
        return row.fn(c);
    }
    return -1;  // unknown types are dropped silently
}

// Handlers whose whole work is one call; the dispatcher's result is 0.
template <auto call>
int handled(const dispatch_ctx& c) {
    call(c);
    return 0;
}

// ---- UDP ------------------------------------------------------------------------

int udp_set_trace(const dispatch_ctx& c) {
    // The mask is the first four data bytes of the cleared receive buffer:
    // bytes the datagram did not carry count as zero.
    uint8_t mask[4] = {};
    memcpy(mask, c.body, c.body_len < 4 ? static_cast<size_t>(c.body_len) : 4);
    map_global_debug_trace = wire_load_be32(mask);
    (void)mmsg_handler_mapqosd_send(c.msg, static_cast<size_t>(c.msg_len));  // best effort
    return 0;
}

int udp_provisioning_dump(const dispatch_ctx&) {
    map_ap_provision_params p{};
    if (map_dman_lsql_get_ap_provision_params(&p) != 0) {
        MAP_ERROR("Error in populating AP provisioning configuration");
        return -1;
    }
    if (map_get_ap_provision_sw_certificates(&p) != 0) {
        MAP_ERROR("Error in reading primary and backup switch certificates\n");
        return -1;
    }
    map_ap_provisioning_cmd_msg_print(&p);
    return 0;
}

// A download status is taken only from the download child, on this AP.
int udp_code_download_status(const dispatch_ctx& c) {
    if (!map_update_status_source_ok(c.from)) {
        return -1;
    }
    mapHandleCodeDownloadStatus(c.rec, c.body, c.body_len);
    return 0;
}

constexpr dispatch_row kUdpRows[] = {
    // A discover message is followed only while listening; in any other
    // state it is accepted and dropped.
    {SWITCH_DISCOVER,
     handled<[](const dispatch_ctx& c) {
         map_switch_comm_process_discover_pkt(c.rec, c.body, c.body_len,
                                              MAP_SWITCH_IP_POLL_RECEIVED, &c.cb->provision);
     }>,
     MAP_DISCOVER_BODY_MIN, "Corrupt Discovery Packet", MAP_SWITCH_COMM_LISTEN_MODE, nullptr, 0},
    {SWITCH_CODE_DOWNLOAD_STATUS, udp_code_download_status},
    {DHCP_SWITCH_IP, handled<[](const dispatch_ctx& c) { map_reload_dhcp_config(c.cb); }>},
    {DMAN_CONFIG, handled<[](const dispatch_ctx& c) { map_reload_static_config(c.cb); }>},
    {DEBUG_MSG,
     handled<[](const dispatch_ctx& c) {
         map_switch_comm_process_debug_pkt(c.rec, c.body, c.body_len, &c.cb->provision);
     }>},
    {DEBUG_SET_TRACE, udp_set_trace},
    {MAP_DEBUG_CLIENT_ASSOC_DUMP,
     handled<[](const dispatch_ctx& c) { map_cs_process_debug_dump_client_assoc_db(c.cb->cs); }>},
    {DEBUG_CS_DUMP,
     handled<[](const dispatch_ctx& c) { map_cs_process_debug_dump_config_pkt(c.cb->cs); }>},
    {DEBUG_DONT_DISABLE_SSH_SESSION,
     handled<[](const dispatch_ctx&) { map_global_dont_disable_ssh_session = 1; }>},
    {MAP_CS_POST_CONF_STATUS_NOTIFY_MSG_ID,
     handled<[](const dispatch_ctx& c) {
         map_cs_handle_process_post_conf_notification(c.cb, c.body, c.body_len);
     }>},
    {WIDS_CONFIG_DUMP,
     handled<[](const dispatch_ctx& c) { map_cs_dump_wids_config_params(c.cb); }>},
    // The header's length field carries the command's argument, the count.
    {WIDS_CONFIG_SEND,
     handled<[](const dispatch_ctx& c) { map_cs_send_wids_config_params(c.cb, c.hdr_length); }>},
    {DISCOVER_IP_ADDR_DUMP,
     handled<[](const dispatch_ctx& c) { map_switch_comm_discover_ip_addr_dump(c.rec); }>},
    {AP_PROVISION_PARAMS_PRINT, udp_provisioning_dump},
    {AP_PROVISION_CMD_MSG,
     handled<[](const dispatch_ctx& c) { map_ap_provision_udp_cmd(c.cb, c.body, c.body_len); }>},
};

// ---- TLS ------------------------------------------------------------------------

// Forwarded to mapqosd as they came, header included.
int tls_to_mapqosd(const dispatch_ctx& c) {
    (void)mmsg_handler_mapqosd_send(c.msg, static_cast<size_t>(c.msg_len));  // best effort
    return 0;
}

// A new-ARP notice is hex-dumped at the layer-2 tunnel's trace category first.
int tls_new_arp(const dispatch_ctx& c) {
    map_pkt_hex_print(MAP_TRACE_L2TUNNEL, c.msg, c.msg_len, MAP_PKT_RXED, MAP_PKT_TCP);
    map_process_new_arp_pkt(c.rec, c.body, c.body_len);
    return 0;
}

// Pre-authentication frames and PMKs are hex-dumped at their own trace
// category first; a pre-authentication becomes hostapd's local type `kind`.
template <uint8_t kind>
int tls_pre_auth(const dispatch_ctx& c) {
    map_pkt_hex_print(MAP_TRACE_PREAUTH_PKT, c.msg, c.msg_len, MAP_PKT_RXED, MAP_PKT_TCP);
    map_process_pre_auth_pkt(c.rec, c.body, c.body_len, kind);
    return 0;
}
int tls_pmk(const dispatch_ctx& c) {
    map_pkt_hex_print(MAP_TRACE_PREAUTH_PKT, c.msg, c.msg_len, MAP_PKT_RXED, MAP_PKT_TCP);
    map_process_pmk_pkt(c.rec, c.body, c.body_len);
    return 0;
}

// The WIDS parameters are taken in the established state only (the row).
int tls_wids_config(const dispatch_ctx& c) {
    map_process_wids_config_msg_pkt(c.cb, c.body, c.body_len);
    return 0;
}

constexpr dispatch_row kTlsRows[] = {
    {SWITCH_KEEPALIVE,
     handled<[](const dispatch_ctx& c) {
         map_switch_comm_process_keepalive_pkt(c.rec, c.body, c.body_len);
     }>},
    {SWITCH_RELINK,
     handled<[](const dispatch_ctx& c) {
         map_switch_comm_process_relink_pkt(c.rec, c.body, c.body_len, &c.cb->provision);
     }>},
    {SWITCH_CONFIG,
     handled<[](const dispatch_ctx& c) { map_cs_process_config_pkt(c.cb->cs, c.body, c.body_len); }>},
    {SWITCH_STATUS_INT,
     handled<[](const dispatch_ctx& c) { map_cs_process_stat_int_pkt(c.cb->cs, c.body, c.body_len); }>},
    {SWITCH_SCAN_REPORT_INT,
     handled<[](const dispatch_ctx& c) {
         map_cs_process_rf_scan_intvl_pkt(c.cb, c.body, c.body_len);
     }>},
    {SWITCH_AP_AUTH_REQ,
     handled<[](const dispatch_ctx& c) { map_switch_comm_process_auth_req_pkt(c.rec); }>},
    {SWITCH_AP_AUTH_SUCCEED,
     handled<[](const dispatch_ctx& c) { map_switch_comm_process_auth_succeed_pkt(c.rec); }>},
    {SWITCH_NEW_ARP, tls_new_arp},
    {SWITCH_CLIENT_PRE_AUTH, tls_pre_auth<MMSG_PRE_AUTH_CMD>},
    {SWITCH_DISASSOCIATE_CLIENT,
     handled<[](const dispatch_ctx& c) { map_process_disassoc_cmd_pkt(c.rec, c.body, c.body_len); }>},
    {SWITCH_DEBUG_LOGIN,
     handled<[](const dispatch_ctx& c) { map_process_debug_login_pkt(c.cb, c.body, c.body_len); }>},
    {SWITCH_UPDATE_CODE,
     handled<[](const dispatch_ctx& c) { map_process_update_code_pkt(c.rec, c.body, c.body_len); }>},
    {SWITCH_AP_RESET,
     handled<[](const dispatch_ctx& c) { map_process_ap_reset_pkt(c.rec, c.body, c.body_len); }>},
    {SWITCH_CHANGE_CHANNEL,
     handled<[](const dispatch_ctx& c) {
         map_cs_process_channel_set_pkt(c.cb, c.body, c.body_len);
     }>},
    {SWITCH_CHANGE_POWER,
     handled<[](const dispatch_ctx& c) {
         map_cs_process_power_lvl_set_pkt(c.cb, c.body, c.body_len);
     }>},
    {MAP_SWITCH_CLIENT_PRE_AUTH_ANS, tls_pre_auth<MMSG_PRE_AUTH_ANS>},
    {SWITCH_CLIENT_PMK, tls_pmk},
    {SWITCH_RESEND_CLIENT_INFO,
     handled<[](const dispatch_ctx& c) {
         map_process_resend_client_info_cmd_pkt(c.rec, c.body, c.body_len);
     }>},
    {MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID, tls_wids_config, 0, nullptr, MAP_SWITCH_COMM_ESTABLISHED,
     "Invalid mapd mode.", 0},
    {SWITCH_AP_IMAGE_UPGRADE,
     handled<[](const dispatch_ctx& c) { map_process_auto_update_msg(c.rec, c.body, c.body_len); }>},
    {SWITCH_CLIENT_ASSOC_REPLY,
     handled<[](const dispatch_ctx& c) {
         map_process_client_assoc_reply_pkt(c.rec, c.body, c.body_len);
     }>},
    {MAP_SWITCH_RADIUS_PROXY_CMD,
     handled<[](const dispatch_ctx& c) {
         map_process_radius_proxy_cmd_pkt(c.rec, c.body, c.body_len);
     }>},
    {SWITCH_TSPEC_ADMISSION_REPLY,
     handled<[](const dispatch_ctx& c) {
         map_process_tspec_msg_reply_pkt(c.rec, c.body, c.body_len, MAP_TSPEC_CMD_ADMISSION_REPLY);
     }>},
    {SWITCH_TSPEC_DELETION,
     handled<[](const dispatch_ctx& c) {
         map_process_tspec_msg_reply_pkt(c.rec, c.body, c.body_len, MAP_TSPEC_CMD_DELETION_REPLY);
     }>},
    {MAP_SWITCH_CLIENT_THREAT_DEAUTH_MSG,
     handled<[](const dispatch_ctx& c) { map_process_client_deauth_pkt(c.rec, c.body, c.body_len); }>},
    {MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID,
     handled<[](const dispatch_ctx& c) { map_process_dl2tunnel_term_pkt(c.rec, c.body, c.body_len); }>},
    {MAP_SWITCH_DL2TUNNEL_CONFIG_MSG_ID,
     handled<[](const dispatch_ctx& c) {
         map_process_dl2tunnel_config_pkt(c.rec, c.body, c.body_len);
     }>},
    {MAP_SWITCH_DL2TUNNEL_SETUP_MSG_ID,
     handled<[](const dispatch_ctx& c) {
         map_process_dl2tunnel_setup_pkt(c.rec, c.body, c.body_len);
     }>},
    {MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID,
     handled<[](const dispatch_ctx& c) {
         map_process_cl2tunnel_config_pkt(c.rec, c.body, c.body_len);
     }>},
    {CLTQOS_LIST_UPDATE,
     handled<[](const dispatch_ctx& c) {
         map_cltqos_process_list_update_pkt(c.rec, c.body, c.body_len);
     }>},
    {CLTQOS_LIST_RENAME,
     handled<[](const dispatch_ctx& c) {
         map_cltqos_process_list_rename_pkt(c.rec, c.body, c.body_len);
     }>},
    {CLTQOS_LIST_DELETE,
     handled<[](const dispatch_ctx& c) {
         map_cltqos_process_list_delete_pkt(c.rec, c.body, c.body_len);
     }>},
    {CLTQOS_ACL_DEF_REPLY, tls_to_mapqosd},
    {CLTQOS_POLICY_DEF_REPLY, tls_to_mapqosd},
    {CLTQOS_MODE_UPDATE,
     handled<[](const dispatch_ctx& c) {
         map_cltqos_process_mode_update_pkt(c.rec, c.body, c.body_len);
     }>},
    {RRM_NEIGHBOR_LIST,
     handled<[](const dispatch_ctx& c) {
         map_process_rrm_neighbor_list_msg_pkt(c.cb, c.body, c.body_len);
     }>},
    {RRM_CHANNEL_LOAD_REQ,
     handled<[](const dispatch_ctx& c) {
         map_process_rrm_chan_load_req_msg_pkt(c.cb, c.body, c.body_len);
     }>},
    {AP_PROVISION_CMD_MSG,
     handled<[](const dispatch_ctx& c) { map_ap_provision_tls_cmd(c.cb, c.body, c.body_len); }>},
};

bool make_ctx(map_control_block* cb, const uint8_t* data, int length, dispatch_ctx& c,
              uint16_t& type) {
    map_switch_elem_hdr hdr{};
    map_switch_comm_util_extract_element(data, &hdr);
    type = hdr.type;
    c = dispatch_ctx{cb, cb->switch_comm, data, length, data + MAP_MSG_HDR_LEN,
                     length - static_cast<int>(MAP_MSG_HDR_LEN), hdr.length};
    return true;
}

}  // namespace

int map_l2_pkt_handler(map_control_block* cb, const uint8_t* data, int length) {
    static constexpr char kCorrupt[] = "Corrupt L2 discovery pkt: ";
    if (cb == nullptr || cb->switch_comm == nullptr || data == nullptr) {
        return -1;
    }
    if (length < static_cast<int>(MAP_MSG_HDR_LEN)) {
        MAP_ERROR("%s length = %d, expected %d", kCorrupt, length, MAP_MSG_HDR_LEN);
        return -1;
    }
    map_pkt_hex_print(MAP_TRACE_PKT, data, length, MAP_PKT_RXED, MAP_PKT_L2);
    dispatch_ctx c;
    uint16_t type;
    make_ctx(cb, data, length, c, type);
    if (type != SWITCH_DISCOVER) {
        return -1;
    }
    if (c.body_len < static_cast<int>(MAP_DISCOVER_BODY_MIN)) {
        MAP_ERROR("%s len = %d (< %d)", kCorrupt, c.body_len, MAP_DISCOVER_BODY_MIN);
        return -1;
    }
    if (c.hdr_length < MAP_DISCOVER_BODY_MIN) {
        MAP_ERROR("%s elem len = %d (< %d)", kCorrupt, c.hdr_length, MAP_DISCOVER_BODY_MIN);
        return -1;
    }
    map_switch_comm_process_discover_pkt(cb->switch_comm, c.body, c.body_len,
                                         MAP_SWITCH_L2_POLL_RECIEVED, &cb->provision);
    return 0;
}

int map_udp_pkt_handler(map_control_block* cb, const uint8_t* data, int length) {
    return map_udp_pkt_handler_from(cb, data, length, nullptr);
}

int map_udp_pkt_handler_from(map_control_block* cb, const uint8_t* data, int length,
                             const sockaddr_in* from) {
    if (cb == nullptr || cb->switch_comm == nullptr || data == nullptr) {
        MAP_ERROR("Incorrect MAP Control Block");
        return -1;
    }
    if (length < static_cast<int>(MAP_MSG_HDR_LEN)) {
        MAP_ERROR("Corrupt UDP Packet- Length -%d", length);
        return -1;
    }
    map_pkt_hex_print(MAP_TRACE_PKT, data, length, MAP_PKT_RXED, MAP_PKT_UDP);
    dispatch_ctx c;
    uint16_t type;
    make_ctx(cb, data, length, c, type);
    c.from = from;
    return dispatch(kUdpRows, std::size(kUdpRows), type, c);
}

int map_ssl_pkt_handler(map_control_block* cb, const uint8_t* data, int length) {
    if (cb == nullptr || cb->switch_comm == nullptr || data == nullptr) {
        MAP_ERROR("Incorrect MAP Control Block");
        return -1;
    }
    if (cb->switch_comm->state < MAP_SWITCH_COMM_SSL_ESTABLISH_MODE) {
        MAP_ERROR("AP is in %d state to accept messages from Switch", cb->switch_comm->state);
        return -1;
    }
    if (length < static_cast<int>(MAP_MSG_HDR_LEN)) {
        MAP_ERROR("Corrupt SSL Packet of len - %d", length);
        return -1;
    }
    dispatch_ctx c;
    uint16_t type;
    make_ctx(cb, data, length, c, type);
    return dispatch(kTlsRows, std::size(kTlsRows), type, c);
}

int map_timeout_handler(map_control_block* cb, uint32_t elapsed, uint32_t now) {
    if (elapsed == 0 || cb == nullptr) {
        return 0;
    }
    map_switch_comm_check_timeout(cb->switch_comm, elapsed, &cb->provision, now);
    map_cs_stats_check_timeout(cb->cs, elapsed);
    if (cb->mutual_auth_countdown >= 1) {
        map_ap_provision_mutual_auth_mode_check_timeout(cb, elapsed);
    }
    map_reset_timer_pass(now);
    return 0;
}

int map_handler_is_connection_established(map_control_block* cb) {
    return cb && cb->switch_comm && cb->switch_comm->state == MAP_SWITCH_COMM_ESTABLISHED ? 0 : -1;
}

void map_adminmode_set(map_control_block* cb, uint32_t mode) {
    if (cb == nullptr || cb->switch_comm == nullptr || mode == cb->admin_mode) {
        return;
    }
    map_switch_comm* rec = cb->switch_comm;
    if (mode == 1) {
        cb->admin_mode = 1;
        rec->state = MAP_SWITCH_COMM_LISTEN_MODE;
        map_switch_comm_l2_discovery_enable(rec);
    } else if (mode == 0) {
        cb->admin_mode = 0;
        MAP_INFO("Admin mode of the AP is down");
        map_switch_comm_ssl_connection_close(rec);
        rec->state = MAP_SWITCH_COMM_INIT_MODE;
        map_switch_comm_l2_discovery_disable(rec);
    }
}

void map_standalonemode_to_managedmode(map_control_block* cb) {
    if (cb == nullptr || cb->managed_mode == 1) {
        return;
    }
    map_radio_config radios[2]{};
    snprintf(radios[0].radio_name, sizeof radios[0].radio_name, "wlan0");
    snprintf(radios[1].radio_name, sizeof radios[1].radio_name, "wlan1");
    map_dman_lsql_radio_status_set(radios, 0, nullptr);
    map_dman_lsql_external_interfaces_set(0, cb->debug_login);
    map_lsql_mapd_state_set("up");
    map_cltqos_delete_all_instances(cb->switch_comm);
    map_send_tspec_ap_state_change(cb->switch_comm, 1);
    map_lsql_clustering_status_set("0");
    map_dman_lsql_wds_feature("down");
    map_dman_lsql_ap_detection_mode_set("off");
    map_dman_lsql_disable_ntp_feature();
    map_dman_lsql_disable_stp_feature();
    cb->managed_mode = 1;
    MAP_TRACE(MAP_TRACE_SWITCH, "AP is transistioned to managed mode");
}

void map_managedmode_to_standalonemode(map_control_block* cb) {
    if (cb == nullptr || cb->managed_mode != 1) {
        return;
    }
    // The switch's client QoS definitions go and the VAPs' client QoS
    // settings are cleared.
    map_cltqos_delete_all_instances(cb->switch_comm);
    map_cltqos_vap_config_apply(cb->cs);
    map_dman_lsql_external_interfaces_set(1, cb->debug_login);
    map_lsql_mapd_state_set("down");
    map_send_tspec_ap_state_change(cb->switch_comm, 0);
    cb->managed_mode = 0;
    MAP_TRACE(MAP_TRACE_SWITCH, "AP is transistioned to standalone mode");
}

void map_initialize_connection(map_control_block* cb) {
    if (cb == nullptr || cb->cs == nullptr) {
        return;
    }
    cb->cs->stats_interval = 0;
    cb->cs->stats_countdown = 0;
    cb->cs->config_state = MAP_CS_STATE_IDLE;
}

void map_clear_connection(map_control_block* cb) {
    if (cb == nullptr) {
        return;
    }
    map_cs* cs = cb->cs;
    if (cb->managed_mode == 1 && cs != nullptr) {
        map_lsql_radio_rrm_mode_set(cs->radio, 0, nullptr);
        map_dman_lsql_radio_status_set(cs->radio, 0, nullptr);
    }
    if (cs != nullptr) {
        map_cs_config_data_clear(cs);
        cs->config_state = MAP_CS_STATE_IDLE;
        map_cs_send_client_qos_vap_cfg_msg(cb);
        cs->stats_interval = 0;
        cs->stats_countdown = 0;
        map_cs_stats_client_table_clear(cs);
    }
    map_managedmode_to_standalonemode(cb);
    map_update_link_lost();  // an image being streamed goes with the link
    // Without a switch no tunnel leads anywhere: clear the AP tunnel (mode 0
    // last), the central tunnel's AP record and disable the distributed one.
    map_ap_tunnel_delete();
    map_cl2tunnel_clear();
    map_dl2tunnel_enable(0);
}

int map_process_debug_login_pkt(map_control_block* cb, const uint8_t* data, int length) {
    if (cb == nullptr || cb->switch_comm == nullptr) {
        MAP_ERROR("Incorrect MAP Control Block");
        return -1;
    }
    if (map_handler_is_connection_established(cb) != 0) {
        MAP_ERROR("AP is in %d state to accept messages from Switch", cb->switch_comm->state);
        return -1;
    }
    if (data == nullptr || length < kDebugLoginMin) {
        MAP_ERROR("Corrupt Debug Packet of len - %d", length);
        return -1;
    }
    uint8_t status = 0;
    char password[33] = {};  // 32 bytes and a terminator
    // The three known elements take their fixed sizes whatever their length
    // fields say, read as from the cleared receive buffer: bytes past the
    // message count as zero.  Other elements are skipped by their length.
    auto take = [&](int pos, void* out, int n) {
        memset(out, 0, static_cast<size_t>(n));
        if (pos < length) {
            memcpy(out, data + pos, static_cast<size_t>(n < length - pos ? n : length - pos));
        }
    };
    int pos = 0;
    while (length - pos >= 5) {
        map_switch_elem_hdr e{};
        map_switch_comm_util_extract_element(data + pos, &e);
        pos += MAP_ELEM_HDR_LEN;
        if (e.type == kDebugLoginStatus) {
            take(pos, &status, 1);
            pos += 1;
        } else if (e.type == kDebugLoginPassword) {
            take(pos, password, 32);
            pos += 32;
        } else if (e.type == MAP_ELEM_MAC) {
            uint8_t mac[6], own[6] = {};
            take(pos, mac, 6);
            pos += 6;
            map_proc_get_mac_addr(own, nullptr);
            if (memcmp(mac, own, sizeof mac) != 0) {
                MAP_TRACE(MAP_TRACE_SWITCH, "AP MAC Address received is not same as self MAC Address\n");
                return -1;
            }
        } else {
            MAP_ERROR("AP received Debug Login msg with invalid IE");
            pos += e.length;
        }
    }
    int rc = 0;
    if (status == 1) {
        rc = map_dman_lsql_debug_login_status(1);
        cb->debug_login = 1;
    } else if (status == 0) {
        rc = map_dman_lsql_debug_login_status(0);
        cb->debug_login = 0;
    }
    if (rc != 0) {
        return rc;
    }
    return map_dman_lsql_set_admin_passwd(password);
}
