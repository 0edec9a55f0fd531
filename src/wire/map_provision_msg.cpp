#include "wire/map_provision_msg.hpp"

namespace {

bool add_addr(wire_msg& m, uint16_t type, const map_switch_addr& a) {
    uint8_t v[MAP_SWITCH_ADDR_LEN];
    map_switch_addr_encode(a, v);
    return wire_msg_add(m, type, v, MAP_SWITCH_ADDR_LEN);
}

bool add_text(wire_msg& m, uint16_t type, const std::string& text) {
    if (text.empty()) return true;
    if (text.size() > 0xFFFF) return false;
    return wire_msg_add(m, type, text.data(), static_cast<uint16_t>(text.size()));
}

}  // namespace

std::vector<uint8_t> map_provision_cmd_build(const map_provision_cmd& c) {
    size_t cap = 4 + 3 * (4 + MAP_SWITCH_ADDR_LEN) + 10 + 2 * 5 + 2 * 4 + c.primary_cert.size() +
                 c.backup_cert.size();
    std::vector<uint8_t> buf(cap);
    wire_msg m;
    bool ok = wire_msg_begin(m, buf.data(), buf.size(), MAP_PROVISION_CMD_TYPE);
    if (ok && c.with_switch) ok = add_addr(m, MAP_PROV_ELEM_SWITCH, c.switch_addr);
    if (ok && c.with_primary) ok = add_addr(m, MAP_PROV_ELEM_PRIMARY, c.primary);
    if (ok && c.with_backup) ok = add_addr(m, MAP_PROV_ELEM_BACKUP, c.backup);
    if (ok && c.with_ap_mac) ok = wire_msg_add(m, MAP_PROV_ELEM_AP_MAC, c.ap_mac, 6);
    if (ok && c.with_mutual_auth) ok = wire_msg_add_u8(m, MAP_PROV_ELEM_MUTUAL_AUTH, c.mutual_auth);
    if (ok && c.with_reprovision)
        ok = wire_msg_add_u8(m, MAP_PROV_ELEM_REPROVISION, c.reprovision_unmanaged);
    if (ok) ok = add_text(m, MAP_PROV_ELEM_PRIMARY_CERT, c.primary_cert);
    if (ok) ok = add_text(m, MAP_PROV_ELEM_BACKUP_CERT, c.backup_cert);
    size_t n = ok ? wire_msg_finish(m) : 0;
    buf.resize(n);
    return buf;
}

int map_provision_reply_decode(const uint8_t* msg, size_t len, map_provision_reply& out) {
    out = map_provision_reply{};
    wire_reader r = wire_reader_make(msg, len);
    uint16_t type = 0, msg_len = 0;
    if (!wire_read_be16(r, type) || !wire_read_be16(r, msg_len)) return -1;
    if (type != MAP_PROVISION_REPLY_TYPE || msg_len < 4 || msg_len > len) return -1;
    out.msg_len = msg_len;
    r.len = msg_len;  // elements end where the header says
    wire_elem e;
    while (wire_elem_next(r, e)) {
        if (!e.complete) return -1;
        switch (e.type) {
        case MAP_PROV_ELEM_SWITCH:
        case MAP_PROV_ELEM_PRIMARY:
        case MAP_PROV_ELEM_BACKUP: {
            if (e.len != MAP_SWITCH_ADDR_LEN) return -1;
            map_switch_addr& a = e.type == MAP_PROV_ELEM_SWITCH ? out.ap_addr
                                 : e.type == MAP_PROV_ELEM_PRIMARY ? out.primary
                                                                   : out.backup;
            map_switch_addr_decode(e.value.data(), a);
            break;
        }
        case MAP_PROV_ELEM_AP_MAC:
            if (!wire_elem_fixed(e, out.ap_mac, 6) || e.len != 6) return -1;
            break;
        case MAP_PROV_ELEM_STATUS: {
            if (e.len != 1) return -1;
            out.status_ok = e.value[0];
            uint8_t pad = 0;  // the byte the element length does not count
            if (!wire_read_u8(r, pad)) return -1;
            break;
        }
        case MAP_PROV_ELEM_MUTUAL_AUTH:
        case MAP_PROV_ELEM_REPROVISION:
            if (e.len != 1) return -1;
            (e.type == MAP_PROV_ELEM_MUTUAL_AUTH ? out.mutual_auth : out.reprovision_unmanaged) =
                e.value[0];
            break;
        case MAP_PROV_ELEM_AP_CERT:
            out.has_ap_cert = true;
            out.ap_cert.assign(reinterpret_cast<const char*>(e.value.data()), e.value.size());
            break;
        default:
            break;
        }
    }
    return 0;
}
