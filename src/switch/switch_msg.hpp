// Switch message type and element codes.
#pragma once

#include <cstdint>

// ---- message types ---------------------------------------------------------------
inline constexpr uint16_t SWITCH_DISCOVER = 1;
inline constexpr uint16_t SWITCH_KEEPALIVE = 2;
inline constexpr uint16_t SWITCH_RELINK = 3;
inline constexpr uint16_t SWITCH_CONFIG = 4;
inline constexpr uint16_t SWITCH_CONFIG_STATUS = 5;
inline constexpr uint16_t SWITCH_STATUS_INT = 6;
inline constexpr uint16_t SWITCH_STATS = 7;
inline constexpr uint16_t SWITCH_CLEAR_STATS = 8;
inline constexpr uint16_t SWITCH_SCAN_REPORT_INT = 9;
inline constexpr uint16_t SWITCH_AP_RFSCAN_REPORT = 10;
inline constexpr uint16_t SWITCH_AP_PROBE_REQ = 11;  // also the TLS failure notification
inline constexpr uint16_t SWITCH_TLS_FAILURE_NOTIFY = 11;
inline constexpr uint16_t SWITCH_AP_ASSOC_CMD = 12;
inline constexpr uint16_t SWITCH_AP_DISASSOC_REQ = 13;
inline constexpr uint16_t SWITCH_AP_AUTHEN_FAIL = 14;
inline constexpr uint16_t SWITCH_AP_AUTH_REQ = 15;
inline constexpr uint16_t SWITCH_AP_AUTH_SUCCEED = 16;
inline constexpr uint16_t SWITCH_AP_IDENTIFICATION = 21;
inline constexpr uint16_t SWITCH_NEW_ARP = 22;
inline constexpr uint16_t SWITCH_CLIENT_MAC_AUTH = 23;
inline constexpr uint16_t SWITCH_CLIENT_PRE_AUTH = 24;
inline constexpr uint16_t SWITCH_KEEPALIVE_ACK = 25;
inline constexpr uint16_t SWITCH_DISASSOCIATE_CLIENT = 26;
inline constexpr uint16_t SWITCH_DEBUG_LOGIN = 27;
inline constexpr uint16_t SWITCH_UPDATE_CODE = 28;
inline constexpr uint16_t SWITCH_CODE_DOWNLOAD_STATUS = 29;
inline constexpr uint16_t SWITCH_AP_RESET = 30;
inline constexpr uint16_t SWITCH_AP_SUPPORTED_CHANNELS = 31;
inline constexpr uint16_t SWITCH_CHANGE_CHANNEL = 32;
inline constexpr uint16_t SWITCH_CHANGE_POWER = 33;
inline constexpr uint16_t SWITCH_START_AUTHENTICATION = 34;
inline constexpr uint16_t MAP_SWITCH_CLIENT_PRE_AUTH_ANS = 36;
inline constexpr uint16_t SWITCH_CLIENT_PMK = 38;
inline constexpr uint16_t MAP_SWITCH_CLIENT_AUTH = 39;
inline constexpr uint16_t SWITCH_RESEND_CLIENT_INFO = 40;
inline constexpr uint16_t MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID = 70;
inline constexpr uint16_t SWITCH_AP_IMAGE_UPGRADE = 71;
inline constexpr uint16_t SWITCH_CLIENT_ASSOC_REQ = 96;
inline constexpr uint16_t SWITCH_CLIENT_ASSOC_REPLY = 97;
inline constexpr uint16_t MAP_SWITCH_RADIUS_PROXY_CMD = 98;
inline constexpr uint16_t SWITCH_TSPEC_ADMISSION_REQ = 104;
inline constexpr uint16_t SWITCH_TSPEC_ADMISSION_REPLY = 105;
inline constexpr uint16_t SWITCH_TSPEC_DELETION = 106;
inline constexpr uint16_t SWITCH_TSPEC_REQ_NO_BODY = 107;
inline constexpr uint16_t MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID = 112;
inline constexpr uint16_t MAP_SWITCH_DL2TUNNEL_CONFIG_MSG_ID = 113;
inline constexpr uint16_t MAP_SWITCH_DL2TUNNEL_SETUP_MSG_ID = 114;
inline constexpr uint16_t SWITCH_CLIENT_PRE_AUTH_NOTIFY = 115;
inline constexpr uint16_t MAP_SWITCH_CLIENT_THREAT_DEAUTH_MSG = 116;
inline constexpr uint16_t MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID = 128;
inline constexpr uint16_t CLTQOS_LIST_UPDATE = 144;
inline constexpr uint16_t CLTQOS_LIST_RENAME = 145;
inline constexpr uint16_t CLTQOS_LIST_DELETE = 146;
inline constexpr uint16_t CLTQOS_DEF_REQ = 147;
inline constexpr uint16_t CLTQOS_ACL_DEF_REPLY = 148;
inline constexpr uint16_t CLTQOS_POLICY_DEF_REPLY = 149;
inline constexpr uint16_t CLTQOS_MODE_UPDATE = 150;
inline constexpr uint16_t DHCP_SWITCH_IP = 257;
inline constexpr uint16_t DMAN_CONFIG = 258;
inline constexpr uint16_t DEBUG_MSG = 259;
inline constexpr uint16_t DEBUG_SET_TRACE = 260;
inline constexpr uint16_t MAP_DEBUG_CLIENT_ASSOC_DUMP = 261;
inline constexpr uint16_t DEBUG_CS_DUMP = 262;
inline constexpr uint16_t DEBUG_DONT_DISABLE_SSH_SESSION = 263;
inline constexpr uint16_t MAP_CS_POST_CONF_STATUS_NOTIFY_MSG_ID = 266;
inline constexpr uint16_t WIDS_CONFIG_DUMP = 300;
inline constexpr uint16_t WIDS_CONFIG_SEND = 301;
inline constexpr uint16_t DISCOVER_IP_ADDR_DUMP = 302;
inline constexpr uint16_t AP_PROVISION_PARAMS_PRINT = 303;
inline constexpr uint16_t MAPQOSD_VAP_CLTQOS_CFG = 304;
inline constexpr uint16_t AP_PROVISION_CMD_MSG = 514;
inline constexpr uint16_t AP_PROVISION_REPLY_MSG = 515;
inline constexpr uint16_t RRM_NEIGHBOR_LIST = 528;
inline constexpr uint16_t RRM_CHANNEL_LOAD_REQ = 529;
inline constexpr uint16_t RRM_CHANNEL_LOAD_REPORT = 530;
inline constexpr uint16_t MAP_CONFIG_STATS_IE_CP_CLIENT_AUTH_REQ = 4358;

// ---- elements of discovery, identification, authentication, keepalive ------------
inline constexpr uint16_t MAP_ELEM_END = 0;
inline constexpr uint16_t MAP_ELEM_DEVICE_TYPE = 1;
inline constexpr uint16_t MAP_ELEM_VENDOR_ID = 3;
inline constexpr uint16_t MAP_ELEM_PROTOCOL_VERSION = 4;
inline constexpr uint16_t MAP_ELEM_DISCOVER_SKIP = 5;
inline constexpr uint16_t MAP_ELEM_MAC = 33;
inline constexpr uint16_t MAP_ELEM_RESERVED = 34;
inline constexpr uint16_t MAP_ELEM_NUM_RADIOS = 35;
inline constexpr uint16_t MAP_ELEM_ALWAYS_ONE = 37;
inline constexpr uint16_t MAP_ELEM_HW_TYPE = 38;
inline constexpr uint16_t MAP_ELEM_SERIAL = 39;
inline constexpr uint16_t MAP_ELEM_PART_NUMBER = 40;
inline constexpr uint16_t MAP_ELEM_FW_VERSION = 41;
inline constexpr uint16_t MAP_ELEM_DISCOVERY_REASON = 42;
inline constexpr uint16_t MAP_ELEM_IP_ADDR = 256;
inline constexpr uint16_t MAP_ELEM_RELINK_SWITCH = 257;
inline constexpr uint16_t MAP_ELEM_PRIMARY_SWITCH = 272;
inline constexpr uint16_t MAP_ELEM_BACKUP_SWITCH = 273;
inline constexpr uint16_t MAP_ELEM_MUTUAL_AUTH = 274;
inline constexpr uint16_t MAP_ELEM_REPROVISION_UNMANAGED = 275;
inline constexpr uint16_t MAP_ELEM_AP_CERTIFICATE = 276;
inline constexpr uint16_t MAP_ELEM_KEEPALIVE_INTERVAL = 0x3001;
inline constexpr uint16_t MAP_ELEM_AUTH_AP_MAC = 0xF002;
inline constexpr uint16_t MAP_ELEM_AUTH_PASSPHRASE = 0xF003;

inline constexpr uint8_t MAP_DEVICE_TYPE_SWITCH = 1;
inline constexpr uint8_t MAP_DEVICE_TYPE_AP = 2;
inline constexpr uint16_t MAP_VENDOR_ID = 1;
inline constexpr uint16_t MAP_PROTOCOL_VERSION = 2;

// ---- fixed sizes -------------------------------------------------------------------
inline constexpr unsigned MAP_MSG_HDR_LEN = 4;
inline constexpr unsigned MAP_ELEM_HDR_LEN = 4;
inline constexpr unsigned MAP_DISCOVER_MSG_LEN = 105;
inline constexpr unsigned MAP_IDENTIFICATION_MSG_MAX = 1266;
inline constexpr unsigned MAP_AUTH_MSG_LEN = 82;
inline constexpr unsigned MAP_DISCOVER_BODY_MIN = 43;
inline constexpr unsigned MAP_RX_BUF_SIZE = 8192;
inline constexpr unsigned MAP_L2_RX_BUF_SIZE = 1024;
inline constexpr unsigned MAP_L2_ETHERTYPE = 0x88E8;
inline constexpr unsigned MAP_L2_MSG_OFFSET = 20;
inline constexpr unsigned MAP_L2_WIRELESS_FIELD_OFFSET = 18;

// Trace direction and transport words of the message trace.
inline constexpr int MAP_PKT_TXED = 1;
inline constexpr int MAP_PKT_RXED = 2;
inline constexpr int MAP_PKT_UDP = 1;
inline constexpr int MAP_PKT_TCP = 2;
inline constexpr int MAP_PKT_L2 = 3;
