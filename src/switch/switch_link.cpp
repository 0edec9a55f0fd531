// Identification, authentication, keepalive, relink, the AP parameter block
// with hardware type detection, the debug dump and the RF scan timer.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/map_dman_lsql.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "log/map_log.hpp"
#include "local/switch_module.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_comm_util.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "switch_comm";

constexpr const char* kHwDat = "/tmp/hw.dat";
constexpr const char* kBssMax = "/tmp/bss-max";
constexpr const char* kApCertFile = "/etc/zorcert2.pem";
// The certificate element fits the identification message when the file
// holds at most this much; a larger file is refused, never cut, so the
// switch never sees a broken certificate.
constexpr size_t kCertMax = 1024;

uint8_t read_max_bss() {
    FILE* f = map_platform_fopen(kBssMax, "r");
    if (f == nullptr) {
        return 4;
    }
    char text[17] = {};
    size_t n = fread(text, 1, 16, f);
    fclose(f);
    text[n] = '\0';
    return static_cast<uint8_t>(strtoul(text, nullptr, 10));
}

// Prints a provisioned switch address: IPv4 from its last four bytes, or IPv6.
const char* addr_text(uint8_t is_ipv6, const uint8_t addr[16]) {
    return is_ipv6 ? ipv6_addr_to_string(addr) : ip_addr_to_string(map_provision_ipv4(addr));
}

}  // namespace

int map_hw_type_get() {
    struct grep_step {
        const char* pattern;
        const char* file;
        const char* redirect;
    };
    static constexpr grep_step kSteps[] = {
        {"168c", "/proc/bus/pci/devices", ">"},  {"14e4", "/proc/bus/pci/devices", ">>"},
        {"4322", "/proc/bus/pci/devices", ">>"}, {"4329", "/proc/bus/pci/devices", ">>"},
        {"Hardware", "/proc/cpuinfo", ">>"},     {"system", "/proc/cpuinfo", ">>"},
    };
    char cmd[256];
    for (const auto& s : kSteps) {
        snprintf(cmd, sizeof cmd, "%s %s %s %s%s", "grep", s.pattern, s.file, s.redirect, kHwDat);
        if (map_platform_system(cmd) == -1) {
            MAP_ERROR("System command %s execution failed.\n", cmd);
            return -1;
        }
    }
    FILE* f = map_platform_fopen(kHwDat, "r");
    if (f == nullptr) {
        MAP_ERROR("%s file open failed.", kHwDat);
        return -1;
    }
    enum { kNoBoard, kIxdp, kCn3010 } board = kNoBoard;
    bool second_variant = false;
    int broadcom = 0;
    int type = -1;
    char line[256];
    while (fgets(line, sizeof line, f) != nullptr) {
        if (strstr(line, "_7100")) {
            type = 7;
        } else if (strstr(line, "_7300")) {
            type = 8;
        } else if (strstr(line, "BCM4748") || strstr(line, "BCM4716")) {
            type = 9;
        }
        if (type != -1) {
            break;
        }
        if (strstr(line, "14e4")) {
            ++broadcom;
        } else if (strstr(line, "IXDPG425")) {
            board = kIxdp;
        } else if (strstr(line, "CN3010_EVB_HS5")) {
            board = kCn3010;
            second_variant = second_variant || broadcom > 0;
        }
    }
    fclose(f);
    snprintf(cmd, sizeof cmd, "rm %s", kHwDat);
    if (map_platform_system(cmd) == -1) {
        MAP_ERROR("System command %s execution failed.\n", cmd);
    }
    if (type == -1 && board != kNoBoard) {
        if (broadcom == 1) {
            type = second_variant ? 6 : 4;
        } else if (broadcom == 2) {
            type = second_variant ? 5 : 3;
        }
    }
    return type;
}

int map_switch_comm_populate_ap_parameters(map_switch_comm* rec) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    map_ap_params& ap = rec->ap;
    ap = map_ap_params{};
    ap.device_type = MAP_DEVICE_TYPE_AP;
    ap.protocol_version = MAP_PROTOCOL_VERSION;
    map_dman_lsql_get_ap_macaddr(ap.mac);
    ap.constant_one = 1;
    ap.hw_type = map_hw_type_get();
    if (ap.hw_type == -1) {
        MAP_ERROR("Incorrect harware type");
        return -1;
    }
    ap.num_radios = static_cast<uint8_t>(map_dman_lsql_get_num_radios());
    map_lsql_serial_number_get(ap.serial, sizeof ap.serial);
    map_lsql_part_number_get(ap.part_number, sizeof ap.part_number);
    map_lsql_get_firmware_version(ap.fw_version, sizeof ap.fw_version);
    ap.max_bss = read_max_bss();
    return 0;
}

int map_switch_comm_send_ap_identification_pkt(map_switch_comm* rec,
                                               const map_ap_provision_params* prov) {
    if (rec == nullptr || rec->state != MAP_SWITCH_COMM_SSL_ESTABLISH_MODE) {
        MAP_ERROR("Invalid connection status to send Identification packet");
        return -1;
    }
    // A hardware type still unknown here means detection failed at start-up
    // (a shell command that could not run, say). The whole block is filled
    // again before each identification until it succeeds, so one passing fault
    // does not keep the AP from ever identifying itself; an AP whose hardware
    // really is unknown pays six greps per attempt, no more.
    if (rec->ap.hw_type == -1) {
        (void)map_switch_comm_populate_ap_parameters(rec);
    }
    map_ap_params ap = rec->ap;
    ap.ip = map_dman_lsql_get_ap_ipaddr();
    ap.mask = map_dman_lsql_get_ap_ipmask();
    ap.discovery_reason = static_cast<uint8_t>(rec->discovery_reason);
    if (ap.hw_type == -1) {
        MAP_ERROR("hwtype =%d,invalid hardware type!! not sending ap identification packet.",
                  ap.hw_type);
        return -1;
    }
    FILE* f = map_platform_fopen(kApCertFile, "r");
    if (f == nullptr) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Failed to open %s ap certificate file.\n", kApCertFile);
        return -1;
    }
    uint8_t cert[kCertMax + 1];
    size_t cert_len = fread(cert, 1, sizeof cert, f);
    fclose(f);
    if (cert_len > kCertMax) {
        MAP_ERROR("AP certificate file %s is larger than %zu bytes", kApCertFile, kCertMax);
        return -1;
    }
    uint8_t ip[MAP_IP_ELEM_LEN];
    map_ip_elem_encode(ap.ip, ap.mask, ip);
    const map_provision_wire pw = map_provision_wire_fields(prov);
    uint8_t buf[MAP_IDENTIFICATION_MSG_MAX];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_AP_IDENTIFICATION);
    wire_msg_add_u8(m, MAP_ELEM_DEVICE_TYPE, ap.device_type);
    wire_msg_add_be16(m, MAP_ELEM_PROTOCOL_VERSION, ap.protocol_version);
    wire_msg_add(m, MAP_ELEM_IP_ADDR, ip, sizeof ip);
    wire_msg_add(m, MAP_ELEM_MAC, ap.mac, sizeof ap.mac);
    wire_msg_add_be16(m, MAP_ELEM_RESERVED, ap.reserved);
    wire_msg_add_u8(m, MAP_ELEM_NUM_RADIOS, ap.num_radios);
    wire_msg_add_be16(m, MAP_ELEM_ALWAYS_ONE, ap.constant_one);
    wire_msg_add_be32(m, MAP_ELEM_HW_TYPE, static_cast<uint32_t>(ap.hw_type));
    wire_msg_add(m, MAP_ELEM_SERIAL, ap.serial, sizeof ap.serial);
    wire_msg_add(m, MAP_ELEM_PART_NUMBER, ap.part_number, sizeof ap.part_number);
    wire_msg_add(m, MAP_ELEM_FW_VERSION, ap.fw_version, sizeof ap.fw_version);
    wire_msg_add_u8(m, MAP_ELEM_DISCOVERY_REASON, ap.discovery_reason);
    wire_msg_add(m, MAP_ELEM_PRIMARY_SWITCH, pw.primary, sizeof pw.primary);
    wire_msg_add(m, MAP_ELEM_BACKUP_SWITCH, pw.backup, sizeof pw.backup);
    wire_msg_add_u8(m, MAP_ELEM_MUTUAL_AUTH, pw.mutual_auth);
    wire_msg_add_u8(m, MAP_ELEM_REPROVISION_UNMANAGED, pw.reprovision_unmanaged);
    wire_msg_add(m, MAP_ELEM_AP_CERTIFICATE, cert, static_cast<uint16_t>(cert_len));
    size_t len = wire_msg_finish(m);
    if (len == 0 || map_switch_comm_data_send(rec, buf, static_cast<int>(len), 1) != 0) {
        MAP_ERROR("Error in sending the Authentication packet");
        return -1;
    }
    return 0;
}

int map_switch_comm_send_authentication_pkt(map_switch_comm* rec) {
    uint8_t buf[MAP_AUTH_MSG_LEN];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_START_AUTHENTICATION);
    wire_msg_add(m, MAP_ELEM_AUTH_AP_MAC, rec->ap.mac, sizeof rec->ap.mac);
    wire_msg_add(m, MAP_ELEM_AUTH_PASSPHRASE, rec->pass_phrase, sizeof rec->pass_phrase);
    size_t len = wire_msg_finish(m);
    if (len == 0 || map_switch_comm_data_send(rec, buf, static_cast<int>(len), 1) != 0) {
        MAP_ERROR("Error in sending the Authentication Packet");
        return -1;
    }
    return 0;
}

int map_switch_comm_process_auth_req_pkt(map_switch_comm* rec) {
    if (rec == nullptr || rec->state != MAP_SWITCH_COMM_SSL_ESTABLISH_MODE) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    map_switch_comm_send_authentication_pkt(rec);
    // A failed send still moves on: the keepalive countdown ends the attempt.
    if (rec->ssl) {
        rec->state = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
    }
    return 0;
}

int map_switch_comm_process_auth_succeed_pkt(map_switch_comm* rec) {
    if (rec == nullptr || rec->state < MAP_SWITCH_COMM_SSL_ESTABLISH_MODE) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    rec->state = MAP_SWITCH_COMM_ESTABLISHED;
    char sw[16];
    snprintf(sw, sizeof sw, "%s", ip_addr_to_string(rec->switch_ip));
    MAP_INFO("Authentication Successful with the switch: %s", sw);
    MAP_TRACE(MAP_TRACE_SWITCH, "Authen successful with switch: %s", sw);
    map_switch_comm_l2_discovery_disable(rec);
    map_switch_comm_discover_ip_addr_init(rec);
    map_standalonemode_to_managedmode(rec->cb);
    return 0;
}

int map_switch_comm_extract_keepalive_pkt(const uint8_t* body, int length, uint32_t* interval) {
    if (body == nullptr || interval == nullptr || length < 8) {
        return -1;
    }
    if (wire_load_be16(body) != MAP_ELEM_KEEPALIVE_INTERVAL) {
        return -1;
    }
    *interval = wire_load_be32(body + 4);
    return 0;
}

int map_switch_comm_send_keepalive_pkt(map_switch_comm* rec) {
    if (rec == nullptr || rec->state < MAP_SWITCH_COMM_SSL_ESTABLISH_MODE) {
        MAP_ERROR("Invalid Context to send keepalive packet");
        return -1;
    }
    uint8_t buf[MAP_MSG_HDR_LEN];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_KEEPALIVE_ACK);
    size_t len = wire_msg_finish(m);
    return map_switch_comm_data_send(rec, buf, static_cast<int>(len), 1);
}

int map_switch_comm_calculate_timeout_interval(map_switch_comm* rec, uint32_t interval) {
    // One and a half intervals, truncated; huge intervals are held to what
    // the countdown can count.
    uint64_t t = static_cast<uint64_t>(interval) * 3 / 2;
    rec->keepalive_countdown = t > 0x7fffffff ? 0x7fffffff : static_cast<int>(t);
    return 0;
}

int map_switch_comm_process_keepalive_pkt(map_switch_comm* rec, const uint8_t* body, int length) {
    uint32_t interval = 0;
    if (rec == nullptr || map_switch_comm_extract_keepalive_pkt(body, length, &interval) != 0) {
        return -1;
    }
    map_switch_comm_send_keepalive_pkt(rec);
    if (rec->state < MAP_SWITCH_COMM_SSL_ESTABLISH_MODE) {
        return 0;  // the send failed and closed the connection
    }
    rec->keepalive_interval = interval > 0x7fffffff ? 0x7fffffff : static_cast<int>(interval);
    map_switch_comm_calculate_timeout_interval(rec, interval);
    rec->last_keepalive_tick = map_get_uptime();
    MAP_TRACE(MAP_TRACE_SWITCH, "Processed the Keepalive message Successful");
    return 0;
}

int map_switch_comm_keepalive_timeout(map_switch_comm* rec) {
    if (rec == nullptr) {
        return -1;
    }
    map_switch_comm_l2_discovery_restart(rec);
    MAP_INFO("SSL connection with switch %s is closed due to keepalive timeout",
             ip_addr_to_string(rec->switch_ip));
    map_switch_comm_ssl_connection_close(rec);
    return 0;
}

int map_switch_comm_extract_relink_pkt(const uint8_t* body, int length, uint32_t* ip) {
    if (body == nullptr || ip == nullptr || length < 0) {
        return -1;
    }
    int found = -1;
    wire_reader r = wire_reader_make(body, static_cast<size_t>(length));
    wire_elem e;
    while (wire_elem_next(r, e)) {
        if (e.type == MAP_ELEM_RELINK_SWITCH && e.len == MAP_SWITCH_ADDR_LEN && e.complete &&
            e.value[0] == 0) {
            *ip = wire_load_be32(e.value.data() + 13);
            found = 0;
        }
    }
    return found;
}

int map_switch_comm_process_relink_pkt(map_switch_comm* rec, const uint8_t* body, int length,
                                       map_ap_provision_params* prov) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    uint32_t ip = 0;
    if (map_switch_comm_extract_relink_pkt(body, length, &ip) == 0) {
        MAP_ERROR("SSL connection with switch %s is closed due to Relink message",
                  ip_addr_to_string(rec->switch_ip));
        map_switch_comm_ssl_connection_close(rec);
        map_switch_comm_l2_discovery_restart(rec);
        // A failed send is logged; discovery finds the switch again.
        (void)map_switch_comm_send_discover_pkt(rec, ip, prov);
    }
    return 0;
}

int map_switch_comm_process_debug_pkt(map_switch_comm* rec, const uint8_t*, int,
                                      map_ap_provision_params* prov) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    map_ap_provision_params none{};
    const map_ap_provision_params& p = prov ? *prov : none;
    MAP_TRACE(MAP_TRACE_ALWAYS, " Managed AP Parameters -");
    MAP_TRACE(MAP_TRACE_ALWAYS, " Switch IP Addr: %s", addr_text(p.switch_is_ipv6, p.switch_addr));
    MAP_TRACE(MAP_TRACE_ALWAYS, " Primary Switch IP Addr: %s",
              addr_text(p.primary_is_ipv6, p.primary_addr));
    MAP_TRACE(MAP_TRACE_ALWAYS, " Backup Switch IP Addr: %s",
              addr_text(p.backup_is_ipv6, p.backup_addr));
    MAP_TRACE(MAP_TRACE_ALWAYS, " Status        : %s", map_switch_comm_state_name(rec->state));
    MAP_TRACE(MAP_TRACE_ALWAYS, " Reason        : %s",
              map_switch_comm_reason_name(rec->discovery_reason));
    MAP_TRACE(MAP_TRACE_ALWAYS, " Keepalive Time: %d", rec->keepalive_interval);
    MAP_TRACE(MAP_TRACE_ALWAYS, " Discovery Timeout Interval: %d", rec->discovery_countdown);
    MAP_TRACE(MAP_TRACE_ALWAYS, " Keepalive Timeout Interval: %d", rec->keepalive_countdown);
    MAP_TRACE(MAP_TRACE_ALWAYS, " RF Scan Interval Time: %d", rec->rfscan_interval);
    MAP_TRACE(MAP_TRACE_ALWAYS, " RF Scan Timeout Interval: %d", rec->rfscan_countdown);
    return 0;
}

int map_switch_comm_rfscan_timeout(map_switch_comm* rec) {
    if (rec == nullptr) {
        MAP_ERROR("Invalid context object.");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_RADIO, "%s: begin.\n", __func__);
    int rc = mapd_send_rfscan_report_cmd_msg_to_hostapd(static_cast<uint32_t>(rec->rfscan_interval));
    MAP_TRACE(MAP_TRACE_RADIO, "%s: end.\n", __func__);
    return rc;
}
