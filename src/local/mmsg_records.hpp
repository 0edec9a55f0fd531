// The records of the local messages between mapd and hostapd, the TSPEC
// application and mapqosd.  Each is one datagram whose first byte is its type;
// integers are in host byte order (both ends share the host).  The structs
// are laid out so that every field sits at the offset the peers use, which the
// static_asserts below pin down; they are copied in and out of datagrams with
// memcpy, never cast onto received bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- local message types -----------------------------------------------------

inline constexpr uint8_t MMSG_PROBE_REQ = 1;
inline constexpr uint8_t MMSG_DISASSOC_REQ = 3;
inline constexpr uint8_t MMSG_AUTHEN_FAIL = 4;
inline constexpr uint8_t MMSG_DISASSOC_CMD = 5;
inline constexpr uint8_t MMSG_RFSCAN_REPORT = 6;
inline constexpr uint8_t MMSG_CHANNEL_SUPPORTED = 7;
inline constexpr uint8_t MMSG_POWER_CHANGE = 8;
inline constexpr uint8_t MMSG_PRE_AUTH_CMD = 10;
inline constexpr uint8_t MMSG_PMK = 12;
inline constexpr uint8_t MMSG_PRE_AUTH_ANS = 13;
inline constexpr uint8_t MMSG_CLIENT_AUTH = 14;
inline constexpr uint8_t MMSG_RESEND_CLIENT_INFO = 15;
inline constexpr uint8_t MMSG_CLIENT_CONN = 16;
inline constexpr uint8_t MMSG_ASSOC_REQ = 17;
inline constexpr uint8_t MMSG_ASSOC_REPLY = 18;
inline constexpr uint8_t MMSG_WIDS_CONFIG = 19;
inline constexpr uint8_t MMSG_DL2TUNNEL_CONFIG = 20;
inline constexpr uint8_t MMSG_DL2TUNNEL_SETUP = 21;
inline constexpr uint8_t MMSG_DL2TUNNEL_TERM = 22;
inline constexpr uint8_t MMSG_WIRED_NW_DET_VLAN = 23;
inline constexpr uint8_t MMSG_CLIENT_PREAUTH_NOTIFY = 24;
inline constexpr uint8_t MMSG_RADIUS_PROXY = 25;
inline constexpr uint8_t MMSG_CLIENT_DEAUTH = 32;
inline constexpr uint8_t MMSG_CL2TUNNEL_CONFIG = 33;
inline constexpr uint8_t MMSG_CLTQOS_AUTH_DEF_REQ = 34;
inline constexpr uint8_t MMSG_TSPEC = 35;
inline constexpr uint8_t MMSG_RRM_NBR_LIST = 37;
inline constexpr uint8_t MMSG_RRM_CHAN_LOAD_REQ = 38;
inline constexpr uint8_t MMSG_RRM_CHAN_LOAD_REP = 39;
inline constexpr uint8_t MMSG_TSPEC_STATUS = 40;
// To the TSPEC application.
inline constexpr uint8_t MMSG_TSPEC_REPLY = 4;
inline constexpr uint8_t MMSG_TSPEC_DIRECT = 6;

inline constexpr size_t MMSG_MAC_LEN = 6;
inline constexpr size_t MMSG_SSID_LEN = 32;
inline constexpr size_t MMSG_PRE_AUTH_DATA_MAX = 1600;
inline constexpr size_t MMSG_RADIUS_PKT_MAX = 3000;

// ---- shared pieces ------------------------------------------------------------

// Client QoS bandwidth of one direction (index 0 down, 1 up).
struct mmsg_cltqos_bw {
    uint8_t dot1xValid;
    uint8_t pad[3];
    uint32_t maxRate;
};
static_assert(sizeof(mmsg_cltqos_bw) == 8);

// A client QoS access list or policy of one direction: identifier type and name.
struct mmsg_cltqos_name {
    uint8_t type;
    char name[32];
};
static_assert(sizeof(mmsg_cltqos_name) == 33);

// ---- records -----------------------------------------------------------------

struct probe_reqmsg_s {
    uint8_t type;
    uint8_t vap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t radio_if;
    char ss_id[32];
    uint8_t rssi;
    uint8_t channel;
};

struct disassoc_reqmsg_s {
    uint8_t type;
    uint8_t vap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t radio_if;
};

struct authen_failmsg_s {
    uint8_t type;
    uint8_t vap_macaddr[6];
    uint8_t client_macaddr[6];
    char ss_id[32];
    uint8_t authen_status;  // 1 authenticated, 2 not authenticated
};

// Types 5 (disassociate) and 15 (resend client information).
struct disassoc_cmdmsg_s {
    uint8_t type;
    uint8_t client_macaddr[6];
};
using resend_client_info_cmdmsg_s = disassoc_cmdmsg_s;

// The RF-scan report request mapd sends; hostapd's answer is a variable
// datagram carrying a whole switch message after the type byte.
struct rfscanreport_cmdmsg_s {
    uint8_t type;
    uint8_t pad[3];
    uint32_t interval;
};

struct power_change_info_cmdmsg_s {
    uint8_t type;
    uint8_t power_level;
    uint8_t macaddr[6];
};

// Types 10 (command) and 13 (answer); 48 bytes plus `datalen` of data.
struct mpre_auth_cmdmsg_s {
    uint8_t type;
    uint8_t client_macaddr[6];
    char ss_id[32];
    uint8_t BSSID[6];
    uint8_t pad;
    uint16_t datalen;
    uint8_t pre_auth_data[MMSG_PRE_AUTH_DATA_MAX];
};
using mpre_auth_ansmsg_s = mpre_auth_cmdmsg_s;
inline constexpr size_t MMSG_PRE_AUTH_HDR_LEN = 48;

struct mpmk_cmdmsg_s {
    uint8_t type;
    uint8_t client_macaddr[6];
    char ss_id[32];
    uint8_t pmk[32];
};

struct mclient_auth_msg_s {
    uint8_t type;
    uint8_t vap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t radio_if;
    char ssid[32];
    char user_name[32];
    uint16_t vlan_id;
    uint8_t vap_id;
    uint8_t pad1;
    uint16_t tx_rate;
    uint8_t channel;
    uint8_t dot11n_capable;
    uint8_t stbc_capable;
    uint8_t pad2;
    uint32_t flags;  // 0x80: rrm_capability valid; 0x4: VLAN from the VAP
    uint8_t pmk[32];
    uint32_t reauth_intvl;
    uint8_t homeap_flag;
    uint8_t homeap_mac[6];
    uint8_t home_apip[16];
    uint8_t pad3;
    mmsg_cltqos_bw bw[2];
    mmsg_cltqos_name acl[2];
    mmsg_cltqos_name policy[2];
    uint8_t rrm_capability[5];
};

struct mclient_conn_msg_s {
    uint8_t type;
    uint8_t client_macaddr[6];
    uint8_t pad;
    uint32_t client_ip;
    uint8_t radio_if;
    uint8_t vap_id;
};

struct assoc_req_msg_s {
    uint8_t type;
    uint8_t ap_macaddr[6];
    uint8_t vap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t radio_if;
    char ssid[33];
};

struct assoc_reply_cmdmsg_s {
    uint8_t type;
    uint8_t ap_macaddr[6];
    uint8_t vap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t radio_if;
    char ssid[36];  // at most 32 bytes used
    uint32_t client_status;  // 0x20: the client comes through a distributed tunnel
    uint8_t pmk[32];
    uint32_t reaut_interval;
    uint32_t auth_age;
    uint16_t vlan_id;
    uint8_t home_ap;
    uint8_t home_apmac[6];
    uint8_t home_apip[16];
    uint8_t pad[3];
    mmsg_cltqos_bw bw[2];
    mmsg_cltqos_name acl[2];
    mmsg_cltqos_name policy[2];
};
inline constexpr uint32_t MMSG_CLIENT_STATUS_DL2TUNNEL = 0x20;

struct mmsg_wids_bssid {
    uint8_t bssid[6];
    uint8_t channel;
};
struct wids_config_cmdmsg_t {
    uint8_t type;
    uint8_t ap_macaddr[6];
    uint8_t wired_nw_det;
    uint16_t wired_nw_det_interval;
    uint16_t ap_attack_interval;
    uint16_t bssid_attack_list_count;
    mmsg_wids_bssid bssid_attack_list[16];
};

struct dl2tunnel_config_msg_s {
    uint8_t type;
    uint8_t pad[3];
    uint32_t max_clients;
    uint32_t tunnel_idle_timeout;
    uint32_t tunnel_age_timeout;
    uint32_t mc_replication_limit;
};

struct dl2tunnel_setup_msg_s {
    uint8_t type;
    uint8_t pad;
    uint8_t home_ap_mac[6];
    uint8_t client_mac[6];
    uint8_t assoc_ap_mac[6];
    uint8_t assoc_ap_ipv6[16];
    uint16_t vlan_id;
};

struct dl2tunnel_term_msg_s {
    uint8_t type;
    uint8_t pad;
    uint8_t home_ap_mac[6];
    uint8_t client_mac[6];
};

struct wired_nw_det_vlan_cmdmsg_s {
    uint8_t type;
    uint8_t pad;
    uint16_t vlan;
};

struct client_preauth_notification_msg_s {
    uint8_t type;
    uint8_t ap_macaddr[6];
    uint8_t vap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t radio_if;
    char ssid[32];
    char user_name[32];
    uint8_t status;  // 0 success
};

struct radius_proxy_cmdmsg_s {
    uint8_t type;
    uint8_t ap_macaddr[6];
    uint8_t vap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t radio_if;
    char ssid[32];
    uint8_t radius_pkt[MMSG_RADIUS_PKT_MAX];
    uint32_t radius_pkt_len;
};

struct client_deauth_msg_s {
    uint8_t type;
    uint8_t radio;
    uint8_t channel;
    uint8_t client_mac[6];
    uint8_t fake_bssid[6];
};

struct cl2tunnel_config_msg_s {
    uint8_t type;
    uint8_t vlan_count[2];  // host order, unaligned: read with memcpy
    uint8_t vlan_ids[128];  // 64 host-order 16-bit identifiers, unaligned
};

struct cltqos_auth_def_req_msg_s {
    uint8_t type;
    mmsg_cltqos_name acl[2];
    mmsg_cltqos_name policy[2];
};

struct tspec_msg_s {
    uint8_t type;
    uint8_t cmd_type;
    uint8_t ap_macaddr[6];
    uint8_t vap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t radio_if;
    char ssid[32];
    uint8_t ac_index;
    uint8_t pad1[2];
    uint8_t rsvd1;
    uint8_t ts_info[3];
    uint16_t nom_msdu_size;
    uint16_t max_msdu_size;
    uint32_t min_srv_interval;
    uint32_t max_srv_interval;
    uint32_t inactivity_interval;
    uint32_t suspension_interval;
    uint32_t srve_start_time;
    uint32_t min_data_rate;
    uint32_t mean_data_rate;
    uint32_t peak_data_rate;
    uint32_t max_burst_size;
    uint32_t delay_bound;
    uint32_t min_phy_rate;
    uint16_t surplus_bw;
    uint16_t medium_time;
    uint32_t wlan_util;
    uint16_t prev_medium_time;
    uint8_t prev_ac_index;
    uint8_t bAdmitted;
};

struct tspec_direct_msg_s {
    uint8_t type;
    uint8_t cmd_type;
    uint8_t managed_mode;
};

// Seven counters of one AP, radio or VAP.
struct mmsg_ts_status {
    uint32_t ts_oper_status;
    uint32_t num_active_ts;
    uint32_t num_ts_clients;
    uint32_t num_roam_ts_clients;
    uint32_t medium_time_admitted;
    uint32_t medium_time_unallocated;
    uint32_t medium_time_roaming_unallocated;
};
struct tspec_status_msg_s {
    uint8_t type;
    uint8_t cmd_type;
    uint8_t ac_index;
    uint8_t rsvd1;
    uint32_t num_active_ts;
    uint32_t num_ts_clients;
    uint32_t num_roam_ts_clients;
    uint32_t tspecs_accepted;
    uint32_t tspecs_rejected;
    uint32_t roam_tspecs_accepted;
    uint32_t roam_tspecs_rejected;
    mmsg_ts_status radio_status[2];
    mmsg_ts_status vap_status[2][16];
};

struct rrm_nbr_list_msg_s {
    uint8_t type;
    uint8_t list[1500];
    uint8_t pad;
    uint16_t used;
};

struct rrm_chan_load_req_msg_s {
    uint8_t type;
    uint8_t ap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t channel;
    uint16_t duration;
};

struct rrm_chan_load_rep_msg_s {
    uint8_t type;
    uint8_t ap_macaddr[6];
    uint8_t client_macaddr[6];
    uint8_t channel;
    uint16_t duration;
    uint8_t report_mode;
    uint8_t channel_load;
};

// ---- the peers' layouts, pinned --------------------------------------------

#define MMSG_AT(rec, field, off) static_assert(offsetof(rec, field) == (off), #rec "." #field)

static_assert(sizeof(probe_reqmsg_s) == 48);
MMSG_AT(probe_reqmsg_s, ss_id, 14);
MMSG_AT(probe_reqmsg_s, rssi, 46);
MMSG_AT(probe_reqmsg_s, channel, 47);
static_assert(sizeof(disassoc_reqmsg_s) == 14);
MMSG_AT(disassoc_reqmsg_s, radio_if, 13);
static_assert(sizeof(authen_failmsg_s) == 46);
MMSG_AT(authen_failmsg_s, authen_status, 45);
static_assert(sizeof(disassoc_cmdmsg_s) == 7);
static_assert(sizeof(rfscanreport_cmdmsg_s) == 8);
MMSG_AT(rfscanreport_cmdmsg_s, interval, 4);
static_assert(sizeof(power_change_info_cmdmsg_s) == 8);
MMSG_AT(power_change_info_cmdmsg_s, macaddr, 2);
MMSG_AT(mpre_auth_cmdmsg_s, BSSID, 39);
MMSG_AT(mpre_auth_cmdmsg_s, datalen, 46);
MMSG_AT(mpre_auth_cmdmsg_s, pre_auth_data, MMSG_PRE_AUTH_HDR_LEN);
static_assert(sizeof(mpre_auth_cmdmsg_s) == MMSG_PRE_AUTH_HDR_LEN + MMSG_PRE_AUTH_DATA_MAX);
static_assert(sizeof(mpmk_cmdmsg_s) == 71);
MMSG_AT(mpmk_cmdmsg_s, pmk, 39);
static_assert(sizeof(mclient_auth_msg_s) == 308);
MMSG_AT(mclient_auth_msg_s, user_name, 46);
MMSG_AT(mclient_auth_msg_s, vlan_id, 78);
MMSG_AT(mclient_auth_msg_s, vap_id, 80);
MMSG_AT(mclient_auth_msg_s, tx_rate, 82);
MMSG_AT(mclient_auth_msg_s, channel, 84);
MMSG_AT(mclient_auth_msg_s, stbc_capable, 86);
MMSG_AT(mclient_auth_msg_s, flags, 88);
MMSG_AT(mclient_auth_msg_s, pmk, 92);
MMSG_AT(mclient_auth_msg_s, reauth_intvl, 124);
MMSG_AT(mclient_auth_msg_s, homeap_flag, 128);
MMSG_AT(mclient_auth_msg_s, homeap_mac, 129);
MMSG_AT(mclient_auth_msg_s, home_apip, 135);
MMSG_AT(mclient_auth_msg_s, bw, 152);
MMSG_AT(mclient_auth_msg_s, acl, 168);
MMSG_AT(mclient_auth_msg_s, policy, 234);
MMSG_AT(mclient_auth_msg_s, rrm_capability, 300);
static_assert(sizeof(mclient_conn_msg_s) == 16);
MMSG_AT(mclient_conn_msg_s, client_ip, 8);
MMSG_AT(mclient_conn_msg_s, radio_if, 12);
MMSG_AT(mclient_conn_msg_s, vap_id, 13);
static_assert(sizeof(assoc_req_msg_s) == 53);
MMSG_AT(assoc_req_msg_s, radio_if, 19);
MMSG_AT(assoc_req_msg_s, ssid, 20);
static_assert(sizeof(assoc_reply_cmdmsg_s) == 276);
MMSG_AT(assoc_reply_cmdmsg_s, ssid, 20);
MMSG_AT(assoc_reply_cmdmsg_s, client_status, 56);
MMSG_AT(assoc_reply_cmdmsg_s, pmk, 60);
MMSG_AT(assoc_reply_cmdmsg_s, reaut_interval, 92);
MMSG_AT(assoc_reply_cmdmsg_s, auth_age, 96);
MMSG_AT(assoc_reply_cmdmsg_s, vlan_id, 100);
MMSG_AT(assoc_reply_cmdmsg_s, home_ap, 102);
MMSG_AT(assoc_reply_cmdmsg_s, home_apmac, 103);
MMSG_AT(assoc_reply_cmdmsg_s, home_apip, 109);
MMSG_AT(assoc_reply_cmdmsg_s, bw, 128);
MMSG_AT(assoc_reply_cmdmsg_s, acl, 144);
MMSG_AT(assoc_reply_cmdmsg_s, policy, 210);
static_assert(sizeof(wids_config_cmdmsg_t) == 126);
MMSG_AT(wids_config_cmdmsg_t, wired_nw_det, 7);
MMSG_AT(wids_config_cmdmsg_t, wired_nw_det_interval, 8);
MMSG_AT(wids_config_cmdmsg_t, ap_attack_interval, 10);
MMSG_AT(wids_config_cmdmsg_t, bssid_attack_list_count, 12);
MMSG_AT(wids_config_cmdmsg_t, bssid_attack_list, 14);
static_assert(sizeof(dl2tunnel_config_msg_s) == 20);
MMSG_AT(dl2tunnel_config_msg_s, max_clients, 4);
MMSG_AT(dl2tunnel_config_msg_s, mc_replication_limit, 16);
static_assert(sizeof(dl2tunnel_setup_msg_s) == 38);
MMSG_AT(dl2tunnel_setup_msg_s, home_ap_mac, 2);
MMSG_AT(dl2tunnel_setup_msg_s, assoc_ap_ipv6, 20);
MMSG_AT(dl2tunnel_setup_msg_s, vlan_id, 36);
static_assert(sizeof(dl2tunnel_term_msg_s) == 14);
MMSG_AT(dl2tunnel_term_msg_s, home_ap_mac, 2);
MMSG_AT(dl2tunnel_term_msg_s, client_mac, 8);
static_assert(sizeof(wired_nw_det_vlan_cmdmsg_s) == 4);
MMSG_AT(wired_nw_det_vlan_cmdmsg_s, vlan, 2);
static_assert(sizeof(client_preauth_notification_msg_s) == 85);
MMSG_AT(client_preauth_notification_msg_s, user_name, 52);
MMSG_AT(client_preauth_notification_msg_s, status, 84);
static_assert(sizeof(radius_proxy_cmdmsg_s) == 3056);
MMSG_AT(radius_proxy_cmdmsg_s, radius_pkt, 52);
MMSG_AT(radius_proxy_cmdmsg_s, radius_pkt_len, 3052);
static_assert(sizeof(client_deauth_msg_s) == 15);
MMSG_AT(client_deauth_msg_s, client_mac, 3);
MMSG_AT(client_deauth_msg_s, fake_bssid, 9);
static_assert(sizeof(cl2tunnel_config_msg_s) == 131);
static_assert(sizeof(cltqos_auth_def_req_msg_s) == 133);
MMSG_AT(cltqos_auth_def_req_msg_s, policy, 67);
static_assert(sizeof(tspec_msg_s) == 120);
MMSG_AT(tspec_msg_s, ac_index, 53);
MMSG_AT(tspec_msg_s, rsvd1, 56);
MMSG_AT(tspec_msg_s, ts_info, 57);
MMSG_AT(tspec_msg_s, nom_msdu_size, 60);
MMSG_AT(tspec_msg_s, min_srv_interval, 64);
MMSG_AT(tspec_msg_s, min_phy_rate, 104);
MMSG_AT(tspec_msg_s, surplus_bw, 108);
MMSG_AT(tspec_msg_s, wlan_util, 112);
MMSG_AT(tspec_msg_s, prev_medium_time, 116);
MMSG_AT(tspec_msg_s, bAdmitted, 119);
static_assert(sizeof(tspec_direct_msg_s) == 3);
static_assert(sizeof(mmsg_ts_status) == 28);
static_assert(sizeof(tspec_status_msg_s) == 984);
MMSG_AT(tspec_status_msg_s, tspecs_accepted, 16);
MMSG_AT(tspec_status_msg_s, radio_status, 32);
MMSG_AT(tspec_status_msg_s, vap_status, 88);
static_assert(sizeof(rrm_nbr_list_msg_s) == 1504);
MMSG_AT(rrm_nbr_list_msg_s, used, 1502);
static_assert(sizeof(rrm_chan_load_req_msg_s) == 16);
MMSG_AT(rrm_chan_load_req_msg_s, duration, 14);
static_assert(sizeof(rrm_chan_load_rep_msg_s) == 18);
MMSG_AT(rrm_chan_load_rep_msg_s, report_mode, 16);
MMSG_AT(rrm_chan_load_rep_msg_s, channel_load, 17);

#undef MMSG_AT
