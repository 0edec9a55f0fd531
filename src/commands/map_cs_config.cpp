#include "commands/map_cs_config.hpp"

#include <signal.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "cltqos/map_cltqos.hpp"
#include "commands/map_cs.hpp"
#include "commands/map_cs_elems.hpp"
#include "config/map_config_apply.hpp"
#include "store/map_dman_lsql.hpp"
#include "store/map_reg_domain.hpp"
#include "store/map_vap_config.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "log/map_log.hpp"
#include "dman/lsqlquery.hpp"
#include "local/switch_module.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_comm_util.hpp"
#include "tunnel/map_cl2tunnel.hpp"
#include "tunnel/map_cp.hpp"
#include "tunnel/map_tunnel.hpp"
#include "update/map_reset.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_cs";

constexpr size_t kStatusMsgMax = 83;
constexpr int kPostConfReportLen = 12;

map_switch_comm* rec_of(const map_cs* cs) { return cs && cs->cb ? cs->cb->switch_comm : nullptr; }

void set_status_text(map_cs* cs, const char* text) {
    memset(cs->status_text, 0, sizeof cs->status_text);
    if (text != nullptr) {
        strncpy(cs->status_text, text, sizeof cs->status_text - 1);
    }
}

// Leaves `text` in the error slot unless a step already left one.
int fail(char** error, const char* text) {
    if (error != nullptr && *error == nullptr) {
        *error = strndup(text, MAP_CONFIG_ERROR_LEN);
    }
    return -1;
}

void mapd_sleep(int seconds) {
    timespec ts{seconds, 0};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

// ---- the walk ---------------------------------------------------------------------

namespace {

constexpr char kWrongSize[] = "Corrupt Packet from switch with wrong element size";

// Every element the AP takes, with its policy.  The captive-portal elements
// are taken in any configuration state.  The two secure auth port elements
// share one handler that takes the port's index (0x1109 the first, 0x110a the
// second); they are framed like the auth port element (radio id, VAP id,
// 16-bit port), so their size is 4.
constexpr map_cs_elem_policy kElements[] = {
    {MAP_CS_ELEM_START, map_cs_handler_process_start_pkt, 0, false, kWrongSize},
    {MAP_CS_ELEM_STOP, map_cs_handler_process_stop_pkt, 0, false, kWrongSize},
    {MAP_CS_ELEM_GLOBAL, map_cs_handler_process_global_config, 1, true,
     "ERROR: Received incorrect Global Config pkt"},
    {MAP_CS_ELEM_RADIO_CONFIG, map_cs_handler_process_radio_config, MAP_CS_RADIO_CONFIG_LEN, true,
     "ERROR: Received incorrect Radio Config pkt"},
    {MAP_CS_ELEM_VAP_CONFIG, map_cs_handler_process_vap_config, MAP_CS_VAP_CONFIG_LEN, true,
     "Rx'ed incorrect VAP cfg pkt"},
    {MAP_CS_ELEM_QOS_CONFIG, map_cs_handler_process_qos_config, MAP_CS_QOS_CONFIG_LEN, true,
     "ERROR: Received incorrect QoS Config pkt"},
    {MAP_CS_ELEM_VAP_CONFIG_2, map_cs_handler_process_vap_config_2, MAP_CS_VAP_CONFIG_2_LEN, true,
     "ERROR: Received incorrect VAP Config-2 pkt"},
    {MAP_CS_ELEM_COUNTRY, map_cs_handler_process_country_code_config, 2, true,
     "ERROR: Received incorrect Country Code Config pkt"},
    {MAP_CS_ELEM_TUNNEL_MTU, map_cs_handler_process_tunnel_mtu_config, 2, true,
     "ERROR: Received incorrect Tunnel MTU Config pkt"},
    {MAP_CS_ELEM_STATION_ISOLATION, map_cs_handler_process_station_isolation_config,
     MAP_CS_STATION_ISOLATION_LEN, true, "ERROR: Received incorrect Station Isolation Config pkt"},
    {MAP_CS_ELEM_VAP_REDIRECT, map_cs_handler_process_vap_redirect_config, MAP_CS_VAP_REDIRECT_LEN,
     true, "ERROR: Received incorrect VAP Redirect Config pkt"},
    {MAP_CS_ELEM_VAP_CLIENT_QOS, map_cs_handler_process_vap_client_qos_config,
     MAP_CS_VAP_CLIENT_QOS_LEN, true, "ERROR: Rx'ed incorrect VAP Client QoS Config packet"},
    {MAP_CS_ELEM_RADIO_STBC, map_cs_handler_process_radio_stbc_config, MAP_CS_RADIO_STBC_LEN, true,
     "ERROR: Received incorrect Radio STBC Config pkt"},
    {MAP_CS_ELEM_RADIO_TSPEC_ACM, map_cs_handler_process_radio_tspec_acm_config,
     MAP_CS_RADIO_TSPEC_ACM_LEN, true, "ERROR: Received incorrect Radio TSPEC ACM Config pkt"},
    {MAP_CS_ELEM_RADIO_RRM_MODE, map_cs_handler_process_radio_rrm_mode_config,
     MAP_CS_RADIO_RRM_MODE_LEN, true, "ERROR: Received incorrect Radio RRM Mode Config pkt"},
    {MAP_CS_ELEM_NETWORK_DET_VLAN, map_cs_handler_process_ap_network_det_vlan_config, 2, false,
     "ERROR: Received incorrect AP Network Detection VLAN Config pkt"},
    {MAP_CS_ELEM_CP_ENABLE, map_cs_handler_process_cp_enable_config, MAP_CS_CP_ENABLE_LEN, false,
     "ERROR: Received incorrect CP Enable Config pkt"},
    {MAP_CS_ELEM_CP_DISABLE, map_cs_handler_process_cp_disable_config, 2, false,
     "ERROR: Received incorrect CP Disable Config pkt"},
    {MAP_CS_ELEM_CP_CL_NOT_AUTH, map_cs_handler_process_cp_clnotauth_config, 6, false,
     "ERROR: Received incorrect CP Client Not Authenticated Config pkt"},
    {MAP_CS_ELEM_CP_CL_AUTH, map_cs_handler_process_cp_clauth_config, MAP_CS_CP_CL_AUTH_LEN, false,
     "ERROR: Received incorrect CP Client Authenticated Config pkt"},
    {MAP_CS_ELEM_CP_BLOCK, map_cs_handler_process_cp_block_config, 2, false,
     "ERROR: Received incorrect CP Block Config pkt"},
    {MAP_CS_ELEM_CP_UNBLOCK, map_cs_handler_process_cp_unblock_config, 2, false,
     "ERROR: Received incorrect CP Unblock Config pkt"},
    {MAP_CS_ELEM_CP_AUTH_PORT, map_cs_handler_process_cp_auth_port_config, MAP_CS_CP_AUTH_PORT_LEN,
     false, "ERROR: Received incorrect CP Auth Port Config pkt"},
    {MAP_CS_ELEM_CP_CL_DEAUTH, map_cs_handler_process_cp_cldeauth_config, 6, false,
     "ERROR: Received incorrect CP Client Deauth Config pkt"},
    {MAP_CS_ELEM_CP_SEC_AUTH_PORT_1,
     [](map_cs* cs, std::span<const uint8_t> v) {
         return map_cs_handler_process_cp_secure_auth_port_config(cs, v, 0);
     },
     MAP_CS_CP_AUTH_PORT_LEN, false, "ERROR: Received incorrect CP Secure Auth Port Config pkt"},
    {MAP_CS_ELEM_CP_SEC_AUTH_PORT_2,
     [](map_cs* cs, std::span<const uint8_t> v) {
         return map_cs_handler_process_cp_secure_auth_port_config(cs, v, 1);
     },
     MAP_CS_CP_AUTH_PORT_LEN, false, "ERROR: Received incorrect CP Secure Auth Port Config pkt"},
};

bool is_start_or_stop(uint16_t code) { return code == MAP_CS_ELEM_START || code == MAP_CS_ELEM_STOP; }

}  // namespace

const map_cs_elem_policy* map_cs_elem_policy_find(uint16_t code) {
    for (const auto& e : kElements) {
        if (e.code == code) return &e;
    }
    return nullptr;
}

int map_cs_process_config_pkt(map_cs* cs, const uint8_t* elements, int length) {
    if (cs == nullptr || map_handler_is_connection_established(cs->cb) != 0) {
        MAP_ERROR("AP is in invalid state to accept messages from Switch");
        MAP_TRACE(MAP_TRACE_CONFIG, "AP is in invalid state to accept messages from Switch");
        return -1;
    }
    wire_reader r = wire_reader_make(elements, length > 0 ? static_cast<size_t>(length) : 0);
    // The result of the last element counts; start and stop leave it alone.
    int result = MAP_CS_ELEM_OK;
    wire_elem e;
    while (wire_elem_next(r, e)) {
        const map_cs_elem_policy* row = map_cs_elem_policy_find(e.type);
        if (row == nullptr) {
            // An unknown element is a failure; its value is stepped over by
            // its length when that fits, so a stop element after it is seen.
            MAP_ERROR("ERROR: Unrecognized element 0x%x in the configuration message", e.type);
            result = MAP_CS_ELEM_FAILED;
            if (!e.complete) break;
            continue;
        }
        int rc;
        if (e.len != row->size || !e.complete ||
            (row->needs_open && cs->config_state != MAP_CS_STATE_OPEN)) {
            MAP_ERROR("%s", row->error_text);
            rc = MAP_CS_ELEM_END_WALK;
        } else {
            rc = row->fn(cs, e.value);
        }
        if (!is_start_or_stop(e.type)) {
            result = rc;
        }
        if (rc == MAP_CS_ELEM_END_WALK) {
            break;
        }
    }
    if (result != MAP_CS_ELEM_OK) {
        cs->status_code = MAP_CS_STATUS_UNRECOGNIZED;
        set_status_text(cs, "Unrecognized Element ID");
    }
    return 0;
}

int map_cs_handler_process_start_pkt(map_cs* cs, std::span<const uint8_t>) {
    int rc = MAP_CS_ELEM_OK;
    if (cs->config_state != MAP_CS_STATE_IDLE && cs->config_state != MAP_CS_STATE_CONFIGURED) {
        MAP_ERROR("ERROR: Duplicate Config start packet received");
        MAP_TRACE(MAP_TRACE_CONFIG, "Duplicate Config start packet received");
        rc = MAP_CS_ELEM_END_WALK;
    } else {
        cs->config_state = MAP_CS_STATE_OPEN;
    }
    // Every sequence starts from no portal: the AP entry and all VAP entries
    // are cleared, also after a duplicate start.
    map_cp_ap_delete();
    map_cp_vap_delete(cs);
    return rc;
}

int map_cs_handler_process_stop_pkt(map_cs* cs, std::span<const uint8_t>) {
    if (cs->config_state != MAP_CS_STATE_OPEN) {
        MAP_ERROR("ERROR: Config stop packet received without start");
        MAP_TRACE(MAP_TRACE_CONFIG, "Config stop packet received without start");
        return MAP_CS_ELEM_END_WALK;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Start config apply....");
    cs->config_state = MAP_CS_STATE_APPLYING;
    char* error = nullptr;
    const unsigned long commits = lsqlquery_commit_count();
    int rc = map_cs_util_config_apply(cs, &error);
    MAP_TRACE(MAP_TRACE_CONFIG, "Config Apply Done.");
    MAP_TRACE(MAP_TRACE_CONFIG, "Config apply wrote %lu database transactions",
              lsqlquery_commit_count() - commits);
    if (rc != 0) {
        set_status_text(cs, error ? error : "");
        cs->status_code = MAP_CS_STATUS_APPLY_FAILED;
        MAP_TRACE(MAP_TRACE_CONFIG, "Failed in the config apply - %s", error ? error : "");
        free(error);
        cs->config_state = MAP_CS_STATE_IDLE;
        map_cs_config_data_clear(cs);
        map_cs_send_client_qos_vap_cfg_msg(cs->cb);
        (void)map_cs_util_config_status_send(cs);  // a failed send is logged there
        MAP_TRACE(MAP_TRACE_CONFIG, "Sent Config Status.-FAILED");
    }
    free(rc == 0 ? error : nullptr);
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_global_config(map_cs* cs, std::span<const uint8_t> value) {
    cs->global_cltqos_mode = value[0];
    snprintf(cs->radius_key, sizeof cs->radius_key, "NULLSECRET");
    cs->global_set = 1;
    cs->global_changed = 1;
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_country_code_config(map_cs* cs, std::span<const uint8_t> value) {
    if (memcmp(cs->country, value.data(), 2) != 0) {
        memcpy(cs->country, value.data(), 2);
        cs->country[2] = '\0';
        cs->country_changed = 1;
    }
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_tunnel_mtu_config(map_cs* cs, std::span<const uint8_t> value) {
    uint32_t mtu = wire_load_be16(value.data());
    if (cs->tunnel_mtu != mtu) {
        cs->tunnel_mtu = mtu;
        cs->mtu_changed = 1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Processed Tunnel MTU Config pkt with mtu %d and flag %d\n",
              static_cast<int>(mtu), cs->mtu_changed);
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_ap_network_det_vlan_config(map_cs* cs, std::span<const uint8_t> value) {
    static constexpr char kLabel[] = "Attached AP ntwk detection VLAN";
    MAP_TRACE(MAP_TRACE_RADIO, "%s Begin", __func__);
    uint16_t vlan = wire_load_be16(value.data());
    if (cs->wired_det_vlan != vlan) {
        MAP_TRACE(MAP_TRACE_RADIO, "%s changed from  = %d to %d\n", kLabel, cs->wired_det_vlan, vlan);
        cs->wired_det_vlan = vlan;
        cs->wired_det_vlan_changed = 1;
    } else {
        MAP_TRACE(MAP_TRACE_RADIO, "%s did not change[VLAN = %d]\n", kLabel, vlan);
    }
    int rc = mapd_send_wired_nw_det_vlan_cmd_msg_to_hostapd(vlan);
    MAP_TRACE(MAP_TRACE_RADIO, "%s End", __func__);
    return rc == 0 ? MAP_CS_ELEM_OK : MAP_CS_ELEM_FAILED;
}

// ---- apply -----------------------------------------------------------------------

int map_dman_lsql_apply_global_radius_configuration(map_cs* cs, char** error) {
    pv* acct = lsqlquery_new_pv("radius-accounting", cs->radius_accounting ? "on" : "off", nullptr);
    pv* key = lsqlquery_new_pv("radius-key", cs->radius_key, acct);
    if (acct == nullptr || key == nullptr) {
        lsqlquery_destroy_pv(acct);
        return fail(error, "Error in applying the global RADIUS configuration");
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Applying Global RADIUS Configuration");
    map_config_trace_list(acct, "");
    int rc = lsqlquery_set_pv_with_error("global-radius-server", nullptr, acct, nullptr, error);
    lsqlquery_destroy_pv(acct);
    if (rc != 0) {
        MAP_ERROR("Error in applying the global RADIUS configuration");
        return fail(error, "Error in applying the global RADIUS configuration");
    }
    return 0;
}

int map_dman_lsql_apply_global_client_qos_configuration(map_cs* cs, char** error) {
    pv* mode = lsqlquery_new_pv("mode", cs->global_cltqos_mode == 1 ? "up" : "down", nullptr);
    if (mode == nullptr) {
        return fail(error, "Error in applying the global client QoS configuration");
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Applying Global Client QoS Configuration");
    map_config_trace_list(mode, "");
    int rc = lsqlquery_set_pv_with_error("client-qos", nullptr, mode, nullptr, error);
    lsqlquery_destroy_pv(mode);
    if (rc != 0) {
        MAP_ERROR("Error in applying the global client QoS configuration");
        return fail(error, "Error in applying the global client QoS configuration");
    }
    return 0;
}

namespace {

int apply_country(map_cs* cs, char** error) {
    char current[4] = {};
    if (map_lsql_country_code_get(current) != 0) {
        return fail(error, "Error in getting Country Code");
    }
    int rc = 0;
    if (strncasecmp(current, cs->country, 2) != 0) {
        int configurable = 0;
        map_lsql_country_code_is_configurable_get(&configurable);
        if (!configurable) map_lsql_country_code_is_configurable_set(1);
        rc = map_reg_country_code_set(cs->country, error);
        if (!configurable) map_lsql_country_code_is_configurable_set(0);
    }
    if (rc != 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "Country code config apply returned failure");
        return fail(error, "Invalid country code");
    }
    return 0;
}

}  // namespace

int map_cs_util_config_apply(map_cs* cs, char** error) {
    map_switch_comm* rec = rec_of(cs);
    if (cs == nullptr || rec == nullptr) {
        return fail(error, "Incorrect input parameter");
    }
    rec->saved_ap_ip = map_dman_lsql_get_ap_ipaddr();
    MAP_TRACE(MAP_TRACE_CONFIG, "saved ap ip = %x\n\r", rec->saved_ap_ip);
    if (map_dman_lsql_radio_status_set(cs->radio, 0, nullptr) != 0) {
        return fail(error, "Unable to reset the radio status");
    }
    if (cs->country_changed) {
        cs->country_changed = 0;
        if (apply_country(cs, error) != 0) return -1;
    }
    if (cs->mtu_changed) {
        cs->mtu_changed = 0;
        rec->tunnel_mtu = cs->tunnel_mtu;
        if (ap_tunnel_created == 1) {
            map_ap_set_mtu(rec->tunnel_mtu);  // a refused write is logged there
        }
    }
    if (cs->global_changed) {
        cs->global_changed = 0;
        if (map_dman_lsql_apply_global_radius_configuration(cs, error) != 0 ||
            map_dman_lsql_apply_global_client_qos_configuration(cs, error) != 0) {
            MAP_TRACE(MAP_TRACE_CONFIG, "Global config apply returned failure");
            return -1;
        }
    }
    if (map_config_radio_apply(cs, error) != 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "Radio config apply returned failure");
        return fail(error, "Radio config apply returned failure");
    }
    // Each VAP's tunnel configuration follows its apply (inside).
    if (map_config_vap_apply(cs, error) != 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "Vap config apply returned failure");
        return fail(error, "Vap config apply returned failure");
    }
    if (map_ap_cl2tunnel_create() != 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "Centralized L2 Tunneling config apply returned failure");
        return fail(error, "Centralized L2 Tunneling config apply returned failure");
    }
    if (map_cs_handler_process_post_configuration(cs, error) != 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "Post Configuration Failure");
        return fail(error, "Post Configuration Failure");
    }
    return 0;
}

// ---- status ----------------------------------------------------------------------

int map_cs_util_config_status_send(map_cs* cs) {
    map_switch_comm* rec = rec_of(cs);
    uint8_t buf[kStatusMsgMax];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_CONFIG_STATUS);
    wire_msg_add_u8(m, MAP_CS_ELEM_STATUS, static_cast<uint8_t>(cs->status_code));
    if (cs->status_code != MAP_CS_STATUS_SUCCESS) {
        wire_msg_add_be16(m, MAP_CS_ELEM_STATUS_ELEM, cs->status_elem);
        wire_msg_add(m, MAP_CS_ELEM_STATUS_TEXT, cs->status_text, sizeof cs->status_text);
    }
    size_t len = wire_msg_finish(m);
    if (len == 0 || map_switch_comm_data_send(rec, buf, static_cast<int>(len), 1) != 0) {
        MAP_ERROR("Error in sending the Config response packet");
        return -1;
    }
    return 0;
}

// ---- post-configuration -------------------------------------------------------------

int map_cs_hostapd_ping(int attempts, int seconds) {
    if (map_platform_system("ps | grep hostapd | grep -v \"sh -c\" | grep -v grep > /dev/null 2>&1") != 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "map_cs_hostapd_ping: hostapd not running");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "map_cs_hostapd_ping: attempting to ping hostapd");
    int tries = 1;
    int rc = map_platform_system("/usr/sbin/apicli hostapd-all PING > /dev/null 2>&1");
    while (rc != 0 && tries < attempts) {
        mapd_sleep(seconds);
        ++tries;
        MAP_TRACE(MAP_TRACE_CONFIG, "map_cs_hostapd_ping: retrying, attempt #%d", tries);
        rc = map_platform_system("/usr/sbin/apicli hostapd-all PING > /dev/null 2>&1");
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "map_cs_hostapd_ping: ping hostapd %s after %d attempt%s",
              rc == 0 ? "succeeded" : "failed", tries, tries == 1 ? "" : "s");
    return rc;
}

int map_cs_handler_process_post_configuration(map_cs* cs, char** error) {
    signal(SIGCHLD, mapd_service_sig_child);
    pid_t pid = map_platform_fork();
    if (pid < 0) {
        MAP_ERROR("Error: Forking child process ");
        return fail(error, "unable to perform post configuration");
    }
    if (pid > 0) {
        return 0;
    }
    // The child: bring the radios up, wait for hostapd, report to the daemon.
    int status = 0;
    if (map_dman_lsql_radio_status_set(cs->radio, 1, nullptr) != 0) {
        MAP_ERROR("Unable to set the radio status");
        status = -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "%s: Attempting to PING hostapd", __func__);
    int ping = map_cs_hostapd_ping(150, 1);
    MAP_TRACE(MAP_TRACE_CONFIG, "%s: hostapd PING %s", __func__, ping == 0 ? "succeeded" : "failed");
    MAP_TRACE(MAP_TRACE_CONFIG, "Sending notification to parent process status - %s",
              status == 0 ? "SUCCESS" : "FAILURE");
    uint8_t msg[kPostConfReportLen];
    wire_msg m;
    wire_msg_begin(m, msg, sizeof msg, MAP_CS_POST_CONF_STATUS_NOTIFY_MSG_ID);
    wire_msg_add_be32(m, 1, static_cast<uint32_t>(status));
    size_t len = wire_msg_finish(m);
    if (map_udp_send_msg(msg, len) == static_cast<int>(len)) {
        MAP_INFO("Config Status Message sent to parent MAPD process");
    } else {
        MAP_ERROR("Error: Could not send post configuration Status Message to parent MAPD process");
    }
    map_platform_system("/usr/sbin/wl clear_rfscan_tables");
    _exit(0);
}

int map_cs_handle_process_post_conf_notification(map_control_block* cb, const uint8_t* data, int length) {
    if (cb == nullptr || cb->cs == nullptr) {
        MAP_ERROR("Error: Incorrect input parameter");
        return -1;
    }
    map_cs* cs = cb->cs;
    int status = 0;
    bool found = false;
    wire_reader r = wire_reader_make(data, length > 0 ? static_cast<size_t>(length) : 0);
    wire_elem e;
    while (wire_elem_next(r, e)) {
        uint8_t v[4];
        if (e.type == 1 && wire_elem_fixed(e, v, 4)) {
            status = static_cast<int>(wire_load_be32(v));
            found = true;
        }
    }
    if (!found) {
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "rx'ed notification from child process status - %s",
              status != -1 ? "SUCCESS" : "FAILURE");
    if (status != -1) {
        cs->config_state = MAP_CS_STATE_CONFIGURED;
        cs->status_code = MAP_CS_STATUS_SUCCESS;
        mapd_send_supported_channels_cmd_msg_to_hostapd();
    } else {
        set_status_text(cs, "unable to set the radio status");
        cs->status_code = MAP_CS_STATUS_APPLY_FAILED;
        MAP_TRACE(MAP_TRACE_CONFIG, "Failed in the config apply - as post configuration failed");
        cs->config_state = MAP_CS_STATE_IDLE;
        map_cs_config_data_clear(cs);
    }
    const int sent = map_cs_util_config_status_send(cs);  // a failed send is logged there
    MAP_TRACE(MAP_TRACE_CONFIG, "Sent Config Status.");
    // After a success that reached the switch, mapqosd learns the VAPs'
    // client QoS defaults and the switch is asked for their definitions.
    if (status != -1 && sent == 0) {
        map_cs_send_client_qos_vap_cfg_msg(cb);
        (void)map_cltqos_vap_default_def_req(cb);  // a failure is logged there
    }
    return 0;
}

// ---- configuration dump --------------------------------------------------------------

int map_cs_process_debug_dump_config_pkt(map_cs* cs) {
    if (cs == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    static const char* const kStates[] = {"idle", "sequence open", "applying", "configured"};
    MAP_TRACE(MAP_TRACE_ALWAYS, " /**** Configuration Dump Start ****/");
    MAP_TRACE(MAP_TRACE_ALWAYS, " state: %s, status: %d %s", 
              cs->config_state >= 0 && cs->config_state < 4 ? kStates[cs->config_state] : "?",
              cs->status_code, cs->status_text);
    MAP_TRACE(MAP_TRACE_ALWAYS, " country: %.2s, tunnel MTU: %u, global client QoS: %u, "
              "wired detection VLAN: %u", cs->country, cs->tunnel_mtu, cs->global_cltqos_mode,
              cs->wired_det_vlan);
    for (int r = 0; r < MAP_CS_NUM_RADIOS; ++r) {
        const map_radio_config& rc = cs->radio[r];
        MAP_TRACE(MAP_TRACE_ALWAYS, " radio %d: name \"%.32s\", admin %u, mode %.32s, channel %.32s %.32s",
                  r + 1, rc.radio_name, rc.admin_mode, rc.mode, rc.channel_policy,
                  rc.static_channel);
        for (int v = 0; v < cs->vaps[r].num_vaps; ++v) {
            const map_vap_config* vap = map_cs_get_vap_config(cs, r + 1, v);
            if (vap == nullptr) continue;
            MAP_TRACE(MAP_TRACE_ALWAYS, "   vap %d: admin %u, ssid \"%.*s\", security %u", v,
                      vap->admin_mode, static_cast<int>(sizeof vap->ssid), vap->ssid,
                      vap->security_mode);
        }
    }
    map_reset_dump(map_get_uptime());  // a pending AP reset, if any
    MAP_TRACE(MAP_TRACE_ALWAYS, " /**** Configuration Dump End ****/");
    return 0;
}
