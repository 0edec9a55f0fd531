#include "swsim/update_msg.hpp"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "switch/switch_msg.hpp"
#include "swsim/client_msg.hpp"
#include "wire/wire.hpp"

namespace {

constexpr uint16_t kElemApMac = 33;
constexpr uint16_t kElemServer = 0x0101;
constexpr uint16_t kElemMode = 0x4101;
constexpr uint16_t kElemFile = 0x4103;
constexpr uint16_t kElemStatus = 0x4104;
constexpr uint16_t kElemResetType = 0x4110;
constexpr uint16_t kElemResetValue = 0x4111;
constexpr uint16_t kElemStart = 0x2030;
constexpr uint16_t kElemChunk = 0x2031;
constexpr uint16_t kElemEnd = 0x2032;
constexpr size_t kFileMax = 4000;

std::vector<uint8_t> finish(wire_msg& m, std::vector<uint8_t>& buf) {
    buf.resize(wire_msg_finish(m));
    return buf;
}

std::vector<uint8_t> image_msg(const uint8_t* chunk, size_t n, uint16_t elem) {
    std::vector<uint8_t> buf(8 + n);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_AP_IMAGE_UPGRADE);
    wire_msg_add(m, elem, chunk, static_cast<uint16_t>(n));
    return finish(m, buf);
}

bool number(const std::string& t, unsigned long min, unsigned long max, unsigned long& v) {
    if (t.empty() || t[0] == '-' || t[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    v = strtoul(t.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && v >= min && v <= max;
}

// The elements each message may carry: code, value length (-1: any), name.
struct elem_rule {
    uint16_t msg;
    uint16_t code;
    int len;
    const char* name;
};
constexpr elem_rule kRules[] = {
    {SWITCH_UPDATE_CODE, kElemApMac, 6, "ap"},
    {SWITCH_UPDATE_CODE, kElemServer, 17, "server"},
    {SWITCH_UPDATE_CODE, kElemMode, 1, "mode"},
    {SWITCH_UPDATE_CODE, kElemFile, -1, "file"},
    {SWITCH_CODE_DOWNLOAD_STATUS, kElemApMac, 6, "ap"},
    {SWITCH_CODE_DOWNLOAD_STATUS, kElemStatus, 1, "status"},
    {SWITCH_AP_RESET, kElemResetType, 1, "reset-type"},
    {SWITCH_AP_RESET, kElemResetValue, 2, "value"},
    {SWITCH_AP_RESET, kElemApMac, 6, "ap"},
    {SWITCH_AP_IMAGE_UPGRADE, kElemStart, 0, "start"},
    {SWITCH_AP_IMAGE_UPGRADE, kElemChunk, -1, "chunk"},
    {SWITCH_AP_IMAGE_UPGRADE, kElemEnd, 0, "end"},
};

const elem_rule* rule_of(uint16_t msg, uint16_t code) {
    for (const auto& r : kRules) {
        if (r.msg == msg && r.code == code) return &r;
    }
    return nullptr;
}

// The value of a known element of the right length, readably.
std::string value_text(uint16_t code, std::span<const uint8_t> v) {
    char b[INET6_ADDRSTRLEN + 16];
    switch (code) {
        case kElemApMac: return swsim_mac_text(v.data());
        case kElemServer:
            if (v[0] != 0) {
                inet_ntop(AF_INET6, v.data() + 1, b, sizeof b);
                return std::string("ipv6 ") + b;
            }
            inet_ntop(AF_INET, v.data() + 13, b, sizeof b);
            return b;
        case kElemFile: {
            std::string t = "\"";
            for (uint8_t c : v) t += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '.';
            return t + "\" (" + std::to_string(v.size()) + " bytes)";
        }
        case kElemStatus:
            return std::to_string(v[0]) + (v[0] == 1   ? " (image in place)"
                                           : v[0] == 2 ? " (failed)"
                                                       : " (unknown)");
        case kElemResetType:
            return std::to_string(v[0]) + (v[0] == 1 ? " (upgrade)" : " (reboot only)");
        case kElemResetValue: return std::to_string(wire_load_be16(v.data()));
        case kElemChunk: return std::to_string(v.size()) + " bytes";
        default: return std::to_string(v[0]);
    }
}

}  // namespace

std::vector<uint8_t> swsim_msg_update_code(const uint8_t ap[6], const uint8_t server[16], bool ipv6,
                                           uint8_t mode, const std::string& file) {
    std::vector<uint8_t> buf(4 + 10 + 21 + 5 + 4 + file.size());
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_UPDATE_CODE);
    uint8_t addr[17] = {static_cast<uint8_t>(ipv6 ? 1 : 0)};
    memcpy(addr + 1, server, 16);
    wire_msg_add(m, kElemApMac, ap, 6);
    wire_msg_add(m, kElemServer, addr, sizeof addr);
    wire_msg_add_u8(m, kElemMode, mode);
    wire_msg_add(m, kElemFile, file.data(), static_cast<uint16_t>(file.size()));
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_code_status(const uint8_t ap[6], uint8_t status) {
    std::vector<uint8_t> buf(19);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_CODE_DOWNLOAD_STATUS);
    wire_msg_add(m, kElemApMac, ap, 6);
    wire_msg_add_u8(m, kElemStatus, status);
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_reset(const uint8_t ap[6], uint8_t reset_type) {
    std::vector<uint8_t> buf(4 + 5 + 6 + 10);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_AP_RESET);
    wire_msg_add_u8(m, kElemResetType, reset_type);
    wire_msg_add_be16(m, kElemResetValue, 0);
    wire_msg_add(m, kElemApMac, ap, 6);
    return finish(m, buf);
}

std::vector<std::vector<uint8_t>> swsim_msgs_image_upgrade(const std::vector<uint8_t>& image,
                                                           size_t chunk) {
    if (chunk == 0 || chunk > SWSIM_IMAGE_CHUNK_MAX) chunk = SWSIM_IMAGE_CHUNK_DEFAULT;
    std::vector<std::vector<uint8_t>> msgs{image_msg(nullptr, 0, kElemStart)};
    for (size_t at = 0; at < image.size(); at += chunk) {
        const size_t n = image.size() - at < chunk ? image.size() - at : chunk;
        msgs.push_back(image_msg(image.data() + at, n, kElemChunk));
    }
    msgs.push_back(image_msg(nullptr, 0, kElemEnd));
    return msgs;
}

int swsim_update_cmd_parse(const std::string& verb, const std::vector<std::string>& args,
                           swsim_update_cmd& cmd, std::string& error) {
    cmd = swsim_update_cmd{};
    std::vector<std::string> a = args;
    unsigned long v = 0;
    // A last MAC names another AP (after SERVER and FILE of update-code).
    const size_t fixed = verb == "update-code" ? 2 : verb == "reset" ? 0 : a.size();
    if (a.size() > fixed && swsim_mac_parse(a.back(), cmd.ap)) {
        cmd.ap_given = true;
        a.pop_back();
    }
    if (verb == "update-code") {
        cmd.type = SWITCH_UPDATE_CODE;
        if (a.size() < 2 || a.size() > 3) {
            error = "update-code takes SERVER FILE [MODE] [AP-MAC]";
            return -1;
        }
        in_addr v4{};
        if (inet_pton(AF_INET, a[0].c_str(), &v4) == 1) {
            memcpy(cmd.server + 12, &v4, 4);
        } else if (inet_pton(AF_INET6, a[0].c_str(), cmd.server) == 1) {
            cmd.ipv6 = true;
        } else {
            error = "not an IP address: " + a[0];
            return -1;
        }
        if (a[1].size() > kFileMax) {
            error = "file name over " + std::to_string(kFileMax) + " bytes";
            return -1;
        }
        cmd.file = a[1];
        if (a.size() > 2 && !number(a[2], 0, 255, v)) {
            error = "transfer mode 0 to 255: " + a[2];
            return -1;
        }
        if (a.size() > 2) cmd.mode = static_cast<uint8_t>(v);
        return 0;
    }
    if (verb == "image-upgrade") {
        cmd.type = SWITCH_AP_IMAGE_UPGRADE;
        if (a.empty() || a.size() > 2) {
            error = "image-upgrade takes FILE [CHUNK-BYTES]";
            return -1;
        }
        if (a.size() > 1 && !number(a[1], 1, SWSIM_IMAGE_CHUNK_MAX, v)) {
            error = "chunk size 1 to " + std::to_string(SWSIM_IMAGE_CHUNK_MAX) + ": " + a[1];
            return -1;
        }
        cmd.file = a[0];
        if (a.size() > 1) cmd.chunk = v;
        return 0;
    }
    if (verb == "reset") {
        cmd.type = SWITCH_AP_RESET;
        if (a.size() > 1 || (a.size() == 1 && a[0] != "upgrade")) {
            error = "reset takes [upgrade] [AP-MAC]";
            return -1;
        }
        cmd.reset_type = a.empty() ? 0 : 1;
        return 0;
    }
    return 1;
}

int swsim_update_cmd_build(const swsim_update_cmd& cmd, const uint8_t own_ap[6],
                           std::vector<std::vector<uint8_t>>& msgs, std::string& error) {
    msgs.clear();
    const uint8_t* ap = cmd.ap_given ? cmd.ap : own_ap;
    if (cmd.type == SWITCH_UPDATE_CODE) {
        msgs.push_back(swsim_msg_update_code(ap, cmd.server, cmd.ipv6, cmd.mode, cmd.file));
    } else if (cmd.type == SWITCH_AP_RESET) {
        msgs.push_back(swsim_msg_reset(ap, cmd.reset_type));
    } else if (cmd.type == SWITCH_AP_IMAGE_UPGRADE) {
        std::ifstream f(cmd.file, std::ios::binary);
        if (!f) {
            error = "cannot read " + cmd.file;
            return -1;
        }
        std::vector<uint8_t> image((std::istreambuf_iterator<char>(f)),
                                   std::istreambuf_iterator<char>());
        msgs = swsim_msgs_image_upgrade(image, cmd.chunk);
    } else {
        error = "not a firmware step";
        return -1;
    }
    return 0;
}

std::string swsim_update_decode(const std::vector<uint8_t>& msg) {
    if (msg.size() < 4) return "";
    const uint16_t type = wire_load_be16(msg.data());
    const char* name = type == SWITCH_UPDATE_CODE                ? "SWITCH_UPDATE_CODE"
                       : type == SWITCH_CODE_DOWNLOAD_STATUS ? "code download status"
                       : type == SWITCH_AP_RESET             ? "SWITCH_AP_RESET"
                       : type == SWITCH_AP_IMAGE_UPGRADE     ? "SWITCH_AP_IMAGE_UPGRADE"
                                                             : nullptr;
    if (name == nullptr) return "";
    char b[96];
    snprintf(b, sizeof b, "%s (%u), %zu bytes:", name, type, msg.size());
    std::string out = b, problems;
    auto problem = [&](const std::string& p) { problems += (problems.empty() ? "" : ", ") + p; };
    const uint16_t length = wire_load_be16(msg.data() + 2);
    if (length != msg.size()) {
        problem("length field " + std::to_string(length) + " in " + std::to_string(msg.size()) +
                " bytes");
    }
    wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
    wire_elem e;
    std::vector<uint16_t> order;
    while (wire_elem_next(r, e)) {
        order.push_back(e.type);
        const elem_rule* rule = rule_of(type, e.type);
        if (rule == nullptr || !e.complete || (rule->len >= 0 && e.len != rule->len)) {
            snprintf(b, sizeof b, " elem-0x%04x(%u)", e.type, e.len);
            out += b;
            if (rule == nullptr) {
                snprintf(b, sizeof b, "element 0x%04x unknown", e.type);
            } else if (!e.complete) {
                snprintf(b, sizeof b, "element 0x%04x cut short", e.type);
            } else {
                snprintf(b, sizeof b, "element 0x%04x length %u (expected %d)", e.type, e.len,
                         rule->len);
            }
            problem(b);
            continue;
        }
        out += std::string(" ") + rule->name;
        if (e.len > 0) out += " " + value_text(e.type, e.value);
        if (e.type == kElemStatus && e.value[0] != 1 && e.value[0] != 2) {
            problem("status " + std::to_string(e.value[0]) + " is neither 1 nor 2");
        }
    }
    if (wire_remaining(r) > 0) {
        problem(std::to_string(wire_remaining(r)) + " stray bytes at the end");
    }
    if (type == SWITCH_CODE_DOWNLOAD_STATUS) {
        if (msg.size() != 19) problem("a status is 19 bytes");
        if (order != std::vector<uint16_t>{kElemApMac, kElemStatus}) {
            problem("a status holds the MAC element, then the status element");
        }
    }
    return out + (problems.empty() ? "" : "; MALFORMED: " + problems);
}
