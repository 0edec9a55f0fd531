#include "dman/dman_schema.hpp"

#include <algorithm>
#include <array>

namespace {

// Names quoted in error texts are cut so that a text stays short: it may
// travel to the switch in the configuration status.
constexpr size_t kErrorNameChars = 32;

std::string quoted(std::string_view s) {
    return '"' + std::string(s.substr(0, kErrorNameChars)) + '"';
}

// Instance names are checked too, by pattern: a misspelt instance ("wlan0bss1"
// for "wlan0bssvap1") is refused like a misspelt property.  The patterns are
// the instance families the AP has: radios "wlan%d"; VAPs "vap%d", one row per
// radio told apart by the qualifier "radio"; network interfaces "wlan%d" (VAP
// 0), "wlan%dvap%d", "wlan%dbssvap%d", the WDS links "wlan%dwds%d" and the
// bridge "brtrunk"; BSSs "wlan%dbssvap%d".  The client-QoS lists take the
// names the switch gives them.  Single-instance classes take only "".
constexpr std::array kSingle = {""};
constexpr std::array kRadios = {"wlan%d"};
constexpr std::array kVaps = {"vap%d"};
constexpr std::array kInterfaces = {"wlan%d", "wlan%dvap%d", "wlan%dbssvap%d", "wlan%dwds%d",
                                    "brtrunk"};
constexpr std::array kBss = {"wlan%dbssvap%d"};
constexpr std::array kNamed = {"*"};

constexpr std::array kSystem = {"version",
                                "altversion",
                                "lastboot",
                                "platform",
                                "band-plan",
                                "country",
                                "country-code-is-configurable",
                                "base-mac",
                                "base-mac-status",
                                "serial-number",
                                "password"};
constexpr std::array kDeviceInfo = {"version-id", "product-id"};
constexpr std::array kManagedAp = {"mode",
                                   "ap-state",
                                   "switch-address-1",
                                   "switch-address-2",
                                   "switch-address-3",
                                   "switch-address-4",
                                   "pass-phrase",
                                   "managed-mode-watchdog",
                                   "dhcp-ip-base-port",
                                   "cfg-ip-base-port",
                                   "ip-base-port",
                                   "ip-tnl-udp-port",
                                   "ip-udp-port",
                                   "ip-ssl-port",
                                   "ip-capwap-src-port",
                                   "ip-capwap-dst-port"};
constexpr std::array kProvisioning = {"switch-ip-address-type",
                                      "switch-ip-address",
                                      "switch-ipv6-address",
                                      "ap-mac-address",
                                      "primary-switch-ip-address-type",
                                      "primary-switch-ip-address",
                                      "primary-switch-ipv6-address",
                                      "backup-switch-ip-address-type",
                                      "backup-switch-ip-address",
                                      "backup-switch-ipv6-address",
                                      "mutual-auth",
                                      "reprovision-unmanaged-mode",
                                      "data-valid"};
constexpr std::array kCluster = {"clustered"};
constexpr std::array kManagement = {"ip", "mask", "vlan-id"};
constexpr std::array kIpRoute = {"gateway"};
constexpr std::array kVlanId = {"vlan-id"};
constexpr std::array kStatus = {"status"};
constexpr std::array kWebServer = {"http-status", "https-status"};
constexpr std::array kMode = {"mode"};
constexpr std::array kRadius = {"radius-accounting", "radius-key"};
constexpr std::array kWds = {"remote-mac"};
constexpr std::array kRadio = {"description",
                               "valid-mode-list",
                               "mode",
                               "static-channel",
                               "passive-scan-band",
                               "status",
                               "channel-policy",
                               "sentry-mode",
                               "channel-hopping",
                               "scan-leave-time",
                               "scan-duration",
                               "rate-limit-enable",
                               "rate-limit",
                               "rate-limit-burst",
                               "beacon-interval",
                               "dtim-period",
                               "fragmentation-threshold",
                               "rts-threshold",
                               "max-stations",
                               "limit-channels",
                               "tx-power",
                               "wme",
                               "load-balance-no-association-utilization",
                               "data-snooping",
                               "n-bandwidth",
                               "n-primary-channel",
                               "protection",
                               "short-guard-interval-supported",
                               "stbc-mode",
                               "rrm-mode",
                               "fixed-multicast-rate",
                               "wme-apsd",
                               "wme-noack",
                               "station-isolation",
                               "ap-detection"};
constexpr std::array kRate = {"rate"};
constexpr std::array kTspecAcm = {"tspec-mode",
                                  "voice-acm-mode",
                                  "video-acm-mode",
                                  "voice-acm-limit",
                                  "video-acm-limit",
                                  "roam-reserve-limit",
                                  "ap-inactivity-timeout",
                                  "sta-inactivity-timeout",
                                  "legacy-wmm-queue-map-mode"};
// "queue" names the row of a queue: data0..data3 (tx-queue), vo, vi, be, bk
// (wme-queue).
constexpr std::array kTxQueue = {"queue", "aifs", "cwmin", "cwmax", "burst"};
constexpr std::array kWmeQueue = {"queue", "aifs", "cwmin", "cwmax", "txop-limit"};
constexpr std::array kVap = {
    "radio",          "status",       "vlan-id",        "global-radius",   "redirect-mode",
    "redirect-url",   "qos-mode",     "def-bwmax-down", "def-bwmax-up",    "def-acltype-down",
    "def-acltype-up", "def-acl-down", "def-acl-up",     "def-policy-down", "def-policy-up"};
// VAP interfaces, then the bridge's "stp" and the WDS links' "status".
constexpr std::array kInterface = {
    "ssid",      "security",  "wep-key-length", "wep-key-ascii", "wep-default-key",
    "wep-key-1", "wep-key-2", "wep-key-3",      "wep-key-4",     "wpa-personal-key",
    "stp",       "status"};
constexpr std::array kBssProperties = {"ignore-broadcast-ssid",
                                       "wpa-allowed",
                                       "wpa2-allowed",
                                       "wpa-cipher-tkip",
                                       "wpa-cipher-ccmp",
                                       "mac-acl-auth-type",
                                       "radius-accounting",
                                       "rsn-preauthentication",
                                       "open-system-authentication",
                                       "shared-key-authentication",
                                       "rsn-preauthentication-limit",
                                       "dynamic-key-forwarding-mode",
                                       "key-cache-hold-time",
                                       "broadcast-key-refresh-rate",
                                       "session-key-refresh-rate",
                                       "arp-supp-mode"};
// Client-QoS definitions: one row per list or policy the switch defines,
// told apart by "acl-type" (ipv4, ipv6 or mac).  Policy and class maps keep
// the same "rule-count" so that a row can be made for one.
constexpr std::array kAcl = {"acl-type", "rule-count"};
constexpr std::array kRuleCount = {"rule-count"};
// "startup" = "running" is the request to save the configuration.
constexpr std::array kConfig = {"startup"};

constexpr dman_schema_class kClasses[] = {
    {"system", kSingle, kSystem},
    {"device-info", kSingle, kDeviceInfo},
    {"managed-ap", kSingle, kManagedAp},
    {"map-ap-provisioning", kSingle, kProvisioning},
    {"cluster", kSingle, kCluster},
    {"management", kSingle, kManagement},
    {"ip-route", kSingle, kIpRoute},
    {"untagged-vlan", kSingle, kVlanId},
    {"telnet", kSingle, kStatus},
    {"ssh", kSingle, kStatus},
    {"snmp", kSingle, kStatus},
    {"web-server", kSingle, kWebServer},
    {"ntp", kSingle, kStatus},
    {"dot11", kSingle, kStatus},
    {"client-qos", kSingle, kMode},
    {"global-radius-server", kSingle, kRadius},
    {"wds", kSingle, kWds},
    {"radio", kRadios, kRadio},
    {"basic-rate", kRadios, kRate},
    {"supported-rate", kRadios, kRate},
    {"tspec-acm", kRadios, kTspecAcm},
    {"tx-queue", kRadios, kTxQueue},
    {"wme-queue", kRadios, kWmeQueue},
    {"vap", kVaps, kVap},
    {"interface", kInterfaces, kInterface},
    {"bss", kBss, kBssProperties},
    {"acl", kNamed, kAcl},
    {"qos-mac-acl", kNamed, kAcl},
    {"policy-map", kNamed, kRuleCount},
    {"class-map", kNamed, kRuleCount},
    {"config", kSingle, kConfig},
};

}  // namespace

std::span<const dman_schema_class> dman_schema_classes() {
    return kClasses;
}

bool dman_schema_pattern_match(std::string_view pattern, std::string_view name) {
    if (pattern == "*") {
        return !name.empty();
    }
    size_t i = 0;
    for (size_t p = 0; p < pattern.size(); ++p) {
        if (pattern.compare(p, 2, "%d") == 0) {
            size_t start = i;
            while (i < name.size() && name[i] >= '0' && name[i] <= '9') {
                ++i;
            }
            if (i == start) {
                return false;
            }
            ++p;
        } else if (i >= name.size() || name[i++] != pattern[p]) {
            return false;
        }
    }
    return i == name.size();
}

const dman_schema_class* dman_schema_class_of(std::string_view cls, std::string& error) {
    for (const auto& c : kClasses) {
        if (cls == c.name) {
            return &c;
        }
    }
    error = "unknown class " + quoted(cls);
    return nullptr;
}

bool dman_schema_instance_ok(const dman_schema_class& c, const char* instance, std::string& error) {
    if (instance == nullptr) {
        return true;
    }
    for (const char* pattern : c.instances) {
        if (dman_schema_pattern_match(pattern, instance)) {
            return true;
        }
    }
    error = *instance == '\0'
                ? "no instance given for class " + quoted(c.name)
                : "unknown instance " + quoted(instance) + " of class " + quoted(c.name);
    return false;
}

bool dman_schema_property_ok(const dman_schema_class& c, std::string_view property,
                             std::string& error) {
    if (std::find(c.properties.begin(), c.properties.end(), property) != c.properties.end()) {
        return true;
    }
    error = "unknown property " + quoted(property) + " of class " + quoted(c.name);
    return false;
}
