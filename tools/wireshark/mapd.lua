-- mapd.lua: Wireshark dissector for mapd, the managed-access-point daemon.
--
-- Decodes
--   * the switch protocol: UDP 57776 (discovery, statistics, the daemon's own
--     control and debug messages), layer 2 (EtherType 0x88E8) and the
--     messages inside the TLS channel on TCP 57777;
--   * the local datagrams between mapd and hostapd (UDP 57773), mapd's own
--     local socket (57774), mapqosd (58585) and the TSPEC application (55263).
--
-- Install: copy this one file into ~/.local/lib/wireshark/plugins/ (or pass it
-- with `tshark -X lua_script:mapd.lua`).  Written for Wireshark 4.0 (Lua 5.2).
--
-- Switch messages are big-endian: a 4-byte header (type, length including the
-- header) and elements (16-bit id, 16-bit value length, value).  An element
-- id means something only within its message, so the element decoders come
-- in groups and each message type names the groups it draws on.
--
-- Local datagrams are fixed records in the HOST byte order of the AP, their
-- first byte the record type.  The twin runs on a little-endian host; for the
-- captures of a big-endian AP (MIPS) set the preference
-- mapd.local_big_endian.

local mapd = Proto("mapd", "Managed AP switch protocol (mapd)")

local PORT_SWITCH_UDP = 57776
local PORT_SWITCH_TLS = 57777
local ETHERTYPE_MAPD = 0x88E8
local PORT_HOSTAPD = 57773
local PORT_MAPD_LOCAL = 57774
local PORT_MAPQOSD = 58585
local PORT_TSPEC_APP = 55263

mapd.prefs.local_big_endian = Pref.bool("Local datagrams are big-endian", false,
    "The local datagrams are in the AP's host byte order: set this for a big-endian AP")

-- ---------------------------------------------------------------------------
-- Message types: code -> the name the daemon's traces print.  Codes the trace
-- table does not name (the trace prints "UNKNOWN" for them) carry the name of
-- their constant in the daemon's source, so that they can still be told apart.

local MSG_TYPES = {
    [1] = "SWITCH_DISCOVER", [2] = "SWITCH_KEEPALIVE", [3] = "SWITCH_RELINK",
    [4] = "SWITCH_CONFIG", [5] = "SWITCH_CONFIG_STATUS", [6] = "SWITCH_STATUS_INT",
    [7] = "SWITCH_STATS", [8] = "SWITCH_CLEAR_STATS", [9] = "SWITCH_SCAN_REPORT_INT",
    [10] = "SWITCH_AP_RFSCAN_REPORT", [11] = "SWITCH_AP_PROBE_REQ",
    [12] = "SWITCH_AP_ASSOC_CMD", [13] = "SWITCH_AP_DISASSOC_REQ",
    [14] = "SWITCH_AP_AUTHEN_FAIL", [15] = "SWITCH_AP_AUTH_REQ",
    [16] = "SWITCH_AP_AUTH_SUCCEED", [21] = "SWITCH_AP_IDENTIFICATION",
    [22] = "SWITCH_NEW_ARP", [23] = "SWITCH_CLIENT_MAC_AUTH", [24] = "SWITCH_CLIENT_PRE_AUTH",
    [25] = "SWITCH_KEEPALIVE_ACK", [26] = "SWITCH_DISASSOCIATE_CLIENT",
    [27] = "SWITCH_DEBUG_LOGIN", [28] = "SWITCH_UPDATE_CODE", [30] = "SWITCH_AP_RESET",
    [31] = "SWITCH_AP_SUPPORTED_CHANNELS", [32] = "SWITCH_CHANGE_CHANNEL",
    [33] = "SWITCH_CHANGE_POWER", [34] = "SWITCH_START_AUTHENTICATION",
    [36] = "MAP_SWITCH_CLIENT_PRE_AUTH_ANS", [38] = "SWITCH_CLIENT_PMK",
    [39] = "MAP_SWITCH_CLIENT_AUTH", [70] = "MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID",
    [71] = "SWITCH_AP_IMAGE_UPGRADE", [98] = "MAP_SWITCH_RADIUS_PROXY_CMD",
    [104] = "SWITCH_TSPEC_ADMISSION_REQ", [105] = "SWITCH_TSPEC_ADMISSION_REPLY",
    [106] = "SWITCH_TSPEC_DELETION", [112] = "MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID",
    [113] = "MAP_SWITCH_DL2TUNNEL_CONFIG_MSG_ID", [114] = "MAP_SWITCH_DL2TUNNEL_SETUP_MSG_ID",
    [116] = "MAP_SWITCH_CLIENT_THREAT_DEAUTH_MSG", [128] = "MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID",
    [144] = "CLTQOS_LIST_UPDATE", [145] = "CLTQOS_LIST_RENAME", [146] = "CLTQOS_LIST_DELETE",
    [147] = "CLTQOS_DEF_REQ", [148] = "CLTQOS_ACL_DEF_REPLY", [149] = "CLTQOS_POLICY_DEF_REPLY",
    [150] = "CLTQOS_MODE_UPDATE", [257] = "DHCP_SWITCH_IP", [258] = "DMAN_CONFIG",
    [259] = "DEBUG_MSG", [260] = "DEBUG_SET_TRACE", [261] = "MAP_DEBUG_CLIENT_ASSOC_DUMP",
    [262] = "DEBUG_CS_DUMP", [263] = "DEBUG_DONT_DISABLE_SSH_SESSION",
    [266] = "MAP_CS_POST_CONF_STATUS_NOTIFY_MSG_ID", [515] = "AP_PROVISION_REPLY_MSG",
    [4358] = "MAP_CONFIG_STATS_IE_CP_CLIENT_AUTH_REQ",
    -- not in the trace table
    [29] = "SWITCH_CODE_DOWNLOAD_STATUS", [40] = "SWITCH_RESEND_CLIENT_INFO",
    [96] = "SWITCH_CLIENT_ASSOC_REQ", [97] = "SWITCH_CLIENT_ASSOC_REPLY",
    [107] = "SWITCH_TSPEC_REQ_NO_BODY", [115] = "SWITCH_CLIENT_PRE_AUTH_NOTIFY",
    [300] = "WIDS_CONFIG_DUMP", [301] = "WIDS_CONFIG_SEND", [302] = "DISCOVER_IP_ADDR_DUMP",
    [303] = "AP_PROVISION_PARAMS_PRINT", [304] = "MAPQOSD_VAP_CLTQOS_CFG",
    [514] = "AP_PROVISION_CMD_MSG", [528] = "RRM_NEIGHBOR_LIST",
    [529] = "RRM_CHANNEL_LOAD_REQ", [530] = "RRM_CHANNEL_LOAD_REPORT",
}

-- ---------------------------------------------------------------------------
-- Field layouts.  A layout is a list of {name, kind[, width]} laid end to end;
-- the filter name of a field is "mapd.<group>.<name>".  Kinds:
--   u8 u16 u32 i32 u64 (64-bit counters: two 32-bit words, high first)
--   x32   32-bit flag word shown in hex
--   mac   6 bytes          ipv4  4 bytes
--   text  NUL-padded text of `width` bytes (no width: the rest of the value)
--   bytes `width` bytes (no width: the rest)
--   pad   `width` bytes not shown
--   addr16 16 address bytes, an IPv4 address in the last 4
--   ipelem 18 bytes: family, 16 address bytes, prefix length
--   swaddr 17 bytes: IPv6 flag, 16 address bytes
--   u16list, u8list  the rest of the value as a list

local WIDTH = { u8 = 1, u16 = 2, u32 = 4, x32 = 4, i32 = 4, u64 = 8, mac = 6, ipv4 = 4,
                addr16 = 16, ipelem = 18, swaddr = 17 }

-- Shorthands for repeated runs of fields.
local function rep(list, prefix, kind, names)
    for _, n in ipairs(names) do list[#list + 1] = { prefix .. n, kind } end
    return list
end
-- Joins layouts; each field is copied, since a field learns its offset.
local function cat(...)
    local out = {}
    for _, l in ipairs({ ... }) do
        for _, item in ipairs(l) do out[#out + 1] = { item[1], item[2], item[3] } end
    end
    return out
end

local COUNTERS4 = { "rx_packets", "rx_bytes", "tx_packets", "tx_bytes" }
local DROPPED4 = { "dropped_tx_bytes", "dropped_rx_bytes", "dropped_tx_packets",
                   "dropped_rx_packets" }
local DOT11_COUNTERS = { "transmitted_fragments", "multicast_transmitted_frames", "failed",
    "retries", "multiple_retries", "frame_duplicates", "rts_successes", "rts_failures",
    "ack_failures", "received_fragments", "multicast_received_frames", "fcs_errors",
    "transmitted_frames", "wep_undecryptable" }
local TUNNEL6 = { "tx_bytes", "tx_packets", "tx_multicast", "rx_bytes", "rx_packets",
                  "rx_multicast" }

local function qos_queue(q)
    return rep({}, "q" .. q .. "_", "u32", { "ap_aifs", "ap_cwmin", "ap_cwmax", "ap_burst",
        "sta_aifs", "sta_cwmin", "sta_cwmax", "sta_txop_limit" })
end
local function ts_counters()
    return cat({ { "radio", "u8" }, { "vap", "u8" } }, rep({}, "voice_", "u64", COUNTERS4),
        rep({}, "video_", "u64", COUNTERS4))
end
local function ts_status_ac(ac)
    return cat({ { ac .. "_status", "u8" }, { "pad", "pad", 1 } },
        rep({}, ac .. "_", "u32", { "word1", "word2", "word3", "word4", "word5", "word6" }))
end
local function qos_names(what)
    return { { what .. "_down_type", "u8" }, { what .. "_down_name", "text", 31 },
             { what .. "_up_type", "u8" }, { what .. "_up_name", "text", 31 } }
end

-- ---------------------------------------------------------------------------
-- Element groups: id -> {name, group, layout}.  A nil layout shows the value
-- as bytes.

local function E(name, group, layout) return { name = name, group = group, layout = layout } end

-- Discovery, TLS failure notification, identification, authentication,
-- keepalive and relink.
local LINK = {
    [0] = E("end of elements", "link", {}),
    [1] = E("device type", "link", { { "device_type", "u8" } }),
    [3] = E("vendor id", "link", { { "vendor_id", "u16" } }),
    [4] = E("protocol version", "link", { { "protocol_version", "u16" } }),
    [5] = E("skipped byte", "link", { { "skipped", "u8" } }),
    [33] = E("MAC address", "link", { { "mac", "mac" } }),
    [34] = E("reserved", "link", { { "reserved", "u16" } }),
    [35] = E("number of radios", "link", { { "num_radios", "u8" } }),
    [37] = E("always one", "link", { { "always_one", "u16" } }),
    [38] = E("hardware type", "link", { { "hw_type", "i32" } }),
    [39] = E("serial number", "link", { { "serial", "text", 32 } }),
    [40] = E("part number", "link", { { "part_number", "text", 32 } }),
    [41] = E("firmware version", "link", { { "fw_version", "text", 32 } }),
    [42] = E("discovery reason", "link", { { "discovery_reason", "u8" } }),
    [256] = E("IP address", "link", { { "ip", "ipelem" } }),
    [257] = E("relink switch", "link", { { "relink_switch", "swaddr" } }),
    [272] = E("primary switch", "link", { { "primary_switch", "swaddr" } }),
    [273] = E("backup switch", "link", { { "backup_switch", "swaddr" } }),
    [274] = E("mutual authentication", "link", { { "mutual_auth", "u8" } }),
    [275] = E("reprovision unmanaged", "link", { { "reprovision", "u8" } }),
    [276] = E("AP certificate", "link", { { "certificate", "text" } }),
    [0x3001] = E("keepalive interval", "link", { { "keepalive_interval", "u32" } }),
    [0xF002] = E("AP MAC address", "link", { { "auth_mac", "mac" } }),
    [0xF003] = E("pass phrase", "link", { { "passphrase", "text", 64 } }),
}

local RADIO_LAYOUT = {
    { "id", "u8" }, { "admin", "u8" }, { "mode", "u32" }, { "channel", "u8" },
    { "sentry", "u8" }, { "channel_hopping", "u8" }, { "scan_leave_time", "u32" },
    { "scan_duration", "u32" }, { "passive_scan_band", "u8" }, { "rate_limit_enable", "u8" },
    { "rate_limit", "u32" }, { "rate_limit_burst", "u32" }, { "beacon_interval", "u32" },
    { "dtim_period", "u16" }, { "frag_threshold", "u32" }, { "rts_threshold", "u32" },
    { "service_set_16a", "u16" }, { "service_set_16b", "u16" }, { "service_set_32a", "u32" },
    { "service_set_32b", "u32" }, { "max_stations", "u32" }, { "limit_channels", "bytes", 64 },
    { "tx_power", "u16" }, { "bandwidth_20", "u8" }, { "primary_upper", "u8" },
    { "protection_auto", "u8" }, { "short_guard_interval", "u8" },
    { "multicast_rate_x10", "u16" }, { "wme_apsd", "u8" }, { "wme_noack", "u8" },
    { "supported_rates", "x32" }, { "basic_rates", "x32" }, { "wme", "u8" },
    { "load_balancing", "u8" }, { "load_balancing_util", "u16" }, { "data_snooping", "u8" },
    { "unused", "bytes", 2 },
}

local VAP_LAYOUT = {
    { "radio", "u8" }, { "id", "u8" }, { "admin", "u8" }, { "ssid", "text", 32 },
    { "vlan", "u32" }, { "hide_ssid", "u8" }, { "further_flag", "u8" }, { "tunnel", "u8" },
    { "tunnel_subnet", "ipv4" }, { "tunnel_mask", "ipv4" }, { "security", "u32" },
    { "auth_type", "u32" }, { "wpa_versions", "x32" }, { "wpa_ciphers", "x32" },
    { "mac_acl_auth", "u8" }, { "radius_accounting", "u8" }, { "wep_key_length", "u16" },
    { "wep_key_ascii", "u8" }, { "wep_default_key", "u8" }, { "wep_key1", "text", 32 },
    { "wep_key2", "text", 32 }, { "wep_key3", "text", 32 }, { "wep_key4", "text", 32 },
    { "further_byte", "u8" }, { "wpa_key", "text", 64 }, { "rsn_preauth", "u8" },
    { "rsn_preauth_limit", "u16" }, { "dynamic_key_forwarding", "u8" },
    { "key_cache_hold_time", "u16" }, { "broadcast_key_refresh", "u32" },
    { "session_key_refresh", "u32" },
}

local CONFIG = {
    [0x2001] = E("configuration start", "cfg", {}),
    [0x2002] = E("configuration stop", "cfg", {}),
    [0x2003] = E("global", "cfg", { { "global_qos_mode", "u8" } }),
    [0x2004] = E("radio", "radio", RADIO_LAYOUT),
    [0x2005] = E("VAP", "vap", VAP_LAYOUT),
    [0x2006] = E("radio QoS", "qos", cat({ { "radio", "u8" } }, qos_queue(0), qos_queue(1),
        qos_queue(2), qos_queue(3))),
    [0x2008] = E("VAP options", "vap", { { "radio", "u8" }, { "id", "u8" },
        { "arp_suppression", "u8" }, { "dl2tunnel", "u8" } }),
    [0x2009] = E("country code", "cfg", { { "country", "text", 2 } }),
    [0x200a] = E("tunnel MTU", "cfg", { { "tunnel_mtu", "u16" } }),
    [0x2013] = E("station isolation", "radio", { { "id", "u8" }, { "station_isolation", "u8" } }),
    [0x2014] = E("VAP redirect", "vap", { { "radio", "u8" }, { "id", "u8" },
        { "redirect_mode", "u8" }, { "redirect_value", "u32" }, { "redirect_url", "text", 128 } }),
    [0x2015] = E("VAP client QoS", "vap", cat({ { "radio", "u8" }, { "id", "u8" },
        { "cltqos_mode", "u8" }, { "bw_down", "u32" }, { "bw_up", "u32" } },
        qos_names("acl"), qos_names("policy"))),
    [0x2016] = E("radio STBC", "radio", { { "id", "u8" }, { "stbc", "u8" } }),
    [0x2017] = E("radio TSPEC admission control", "radio", { { "id", "u8" },
        { "tspec_mode", "u8" }, { "voice_acm_mode", "u8" }, { "video_acm_mode", "u8" },
        { "voice_acm_limit", "u16" }, { "video_acm_limit", "u16" }, { "roam_reserve_limit", "u16" },
        { "ap_inactivity_timeout", "u16" }, { "sta_inactivity_timeout", "u16" },
        { "legacy_wmm_queue_map", "u8" } }),
    [0x2040] = E("radio RRM mode", "radio", { { "id", "u8" }, { "rrm", "u8" } }),
    [0x2108] = E("network detection VLAN", "cfg", { { "net_det_vlan", "u16" } }),
    [0x1100] = E("captive portal enable", "cp", { { "radio", "u8" }, { "vap", "u8" },
        { "addr_type", "u8" }, { "addr", "addr16" }, { "if_mac", "mac" }, { "prefix", "u8" } }),
    [0x1101] = E("captive portal disable", "cp", { { "radio", "u8" }, { "vap", "u8" } }),
    [0x1102] = E("captive portal client not authenticated", "cp", { { "client", "mac" } }),
    [0x1103] = E("captive portal client authenticated", "cp", { { "client", "mac" },
        { "rate_up", "u32" }, { "rate_down", "u32" } }),
    [0x1104] = E("captive portal block", "cp", { { "radio", "u8" }, { "vap", "u8" } }),
    [0x1105] = E("captive portal unblock", "cp", { { "radio", "u8" }, { "vap", "u8" } }),
    [0x1107] = E("captive portal auth port", "cp", { { "radio", "u8" }, { "vap", "u8" },
        { "port", "u16" } }),
    [0x1108] = E("captive portal client deauthenticate", "cp", { { "client", "mac" } }),
    [0x1109] = E("captive portal secure port 1", "cp", { { "radio", "u8" }, { "vap", "u8" },
        { "port", "u16" } }),
    [0x110a] = E("captive portal secure port 2", "cp", { { "radio", "u8" }, { "vap", "u8" },
        { "port", "u16" } }),
}

local CONFIG_STATUS = {
    [0x2010] = E("status", "cfg", { { "status", "u8" } }),
    [0x2011] = E("element code", "cfg", { { "status_elem", "u16" } }),
    [0x2012] = E("status text", "cfg", { { "status_text", "text", 64 } }),
}

local STATS = {
    [33] = E("AP MAC address", "stats", { { "ap_mac", "mac" } }),
    [0x2101] = E("statistics interval", "stats", { { "interval", "u16" } }),
    [0x2102] = E("AP MAC address", "stats", { { "ap_mac", "mac" } }),
    [0x2103] = E("global", "stats.global", cat({ { "uptime", "u32" } },
        rep({}, "wireless_", "u64", COUNTERS4),
        rep({}, "wired_", "u64", { "rx_packets", "rx_bytes", "rx_multicast", "tx_packets",
            "tx_bytes", "tx_errors", "rx_errors" }),
        rep({}, "wireless_", "u64", DROPPED4), rep({}, "cl2_", "u64", TUNNEL6),
        { { "max_tunnels", "u32" }, { "max_vlan_tunnels", "u32" } },
        rep({}, "dl2_", "u64", TUNNEL6),
        rep({}, "dl2_", "u32", { "tunnels", "clients_home", "clients_associated", "roamed_total",
            "roamed_idle", "roamed_aged", "setup_denies_max_cli", "setup_denies_max_rep" }))),
    [0x2107] = E("global 2", "stats.global", { { "arp_bcast_to_ucast", "u32" },
        { "arp_filtered", "u32" }, { "arp_bcast", "u32" } }),
    [0x2113] = E("traffic-stream summary", "stats.ts",
        cat(rep({}, "voice_", "u32", { "s1", "s2", "s3", "s4" }),
            rep({}, "video_", "u32", { "s1", "s2", "s3", "s4" }))),
    [0x2114] = E("AP traffic-stream counters", "stats.ts", ts_counters()),
    [0x2115] = E("radio traffic-stream counters", "stats.ts", ts_counters()),
    [0x2116] = E("VAP traffic-stream counters", "stats.ts", ts_counters()),
    [0x2117] = E("traffic-stream status", "stats.ts",
        cat(rep({}, "voice_", "u32", { "st1", "st2", "st3" }),
            rep({}, "video_", "u32", { "st1", "st2", "st3" }))),
    [0x2118] = E("radio traffic-stream status", "stats.ts",
        cat({ { "radio", "u8" }, { "vap", "u8" } }, ts_status_ac("voice"), ts_status_ac("video"))),
    [0x2119] = E("VAP traffic-stream status", "stats.ts",
        cat({ { "radio", "u8" }, { "vap", "u8" } }, ts_status_ac("voice"), ts_status_ac("video"))),
    [0x2104] = E("radio", "stats.radio", cat({ { "radio", "u8" }, { "mac", "mac" },
        { "channel", "u32" }, { "tx_power", "u32" }, { "channel_util", "u32" } },
        rep({}, "", "u64", COUNTERS4), rep({}, "", "u32", DOT11_COUNTERS),
        rep({}, "", "u64", DROPPED4))),
    [0x2105] = E("VAP", "stats.vap", cat({ { "radio", "u8" }, { "vap", "u8" },
        { "auth_failures_1", "u32" }, { "auth_failures_2", "u32" } },
        rep({}, "", "u64", COUNTERS4), rep({}, "", "u64", DROPPED4))),
    [0x2106] = E("client", "stats.client", cat({ { "mac", "mac" }, { "tx_rate", "u32" } },
        rep({}, "", "u64", COUNTERS4),
        rep({}, "", "u32", { "last_rssi", "rx_duplicates", "rx_fragments", "tx_fragments",
            "tx_retries", "tx_retries_failed", "inactive_ms" }),
        rep({}, "", "u64", DROPPED4), { { "reserved", "pad", 2 }, { "ip", "ipv4" } })),
    [0x210B] = E("client name", "stats.client", { { "mac", "mac" }, { "name", "text", 15 } }),
    [0x2110] = E("client 2", "stats.client", { { "mac", "mac" },
        { "ts_violations_rx", "u32" }, { "ts_violations_tx", "u32" } }),
    [0x2111] = E("client traffic stream", "stats.client", cat({ { "mac", "mac" },
        { "pad", "pad", 1 }, { "tid", "u8" }, { "ac", "u8" }, { "direction", "u8" } },
        rep({}, "ts_", "u64", COUNTERS4), { { "excess_usage", "u32" } })),
}

-- The client relay messages (association, authentication, keys, TSPEC,
-- tunnels, RRM) share one family of element ids.
local CLIENT = {
    [19] = E("client MAC", "client", { { "client", "mac" } }),
    [33] = E("AP MAC", "client", { { "ap", "mac" } }),
    [0x0043] = E("channel", "client", { { "channel", "u8" } }),
    [0x005A] = E("WLAN utilisation", "client", { { "wlan_util", "u32" } }),
    [0x0065] = E("fake BSSID", "client", { { "fake_bssid", "mac" } }),
    [0x0067] = E("radio", "client", { { "radio", "u8" } }),
    [0x0068] = E("channel", "client", { { "channel", "u8" } }),
    [257] = E("associated AP address", "client", { { "assoc_ap_ip", "addr16" } }),
    [0x1003] = E("client MAC", "client", { { "client", "mac" } }),
    [0x1004] = E("client IP", "client", { { "client_ip", "ipv4" } }),
    [0x1005] = E("VAP MAC", "client", { { "vap", "mac" } }),
    [0x5001] = E("VAP MAC", "client", { { "vap", "mac" } }),
    [0x5002] = E("client MAC", "client", { { "client", "mac" } }),
    [0x5003] = E("radio", "client", { { "radio", "u8" } }),
    [0x5004] = E("SSID", "client", { { "ssid", "text" } }),
    [0x5005] = E("RSSI", "client", { { "rssi", "u8" } }),
    [0x5006] = E("channel", "client", { { "channel", "u8" } }),
    [0x500A] = E("user name", "client", { { "user", "text", 32 } }),
    [0x500B] = E("transmit rate", "client", { { "tx_rate", "u16" } }),
    [0x500C] = E("VLAN", "client", { { "vlan", "u16" } }),
    [0x500D] = E("pre-authentication status", "client", { { "preauth_status", "u8" } }),
    [0x500E] = E("802.11n capable", "client", { { "dot11n", "u8" } }),
    [0x5010] = E("authentication status", "client", { { "auth_status", "u8" } }),
    [0x5020] = E("RADIUS packet", "client", { { "radius", "bytes" } }),
    [0x5040] = E("distributed tunnel limits", "client", { { "max_clients", "u32" },
        { "idle_timeout", "u32" }, { "age_timeout", "u32" }, { "mc_replication", "u32" } }),
    [0x5041] = E("home AP MAC", "client", { { "home_ap", "mac" } }),
    [0x5042] = E("home AP", "client", { { "home_flag", "u8" }, { "home_ap", "mac" },
        { "home_ap_ip", "addr16" } }),
    [0x5044] = E("client status", "client", { { "status", "x32" } }),
    [0x5050] = E("RRM capability", "client", { { "rrm", "bytes", 5 } }),
    [0x5055] = E("PMK", "client", { { "pmk", "bytes", 32 } }),
    [0x5056] = E("re-authentication interval", "client", { { "reauth", "u32" } }),
    [0x5058] = E("PMK and timers", "client", { { "pmk", "bytes", 32 }, { "reauth", "u32" },
        { "auth_age", "u32" } }),
    [0x5059] = E("effective bandwidth", "client", { { "eff_bw_down_flag", "u8" },
        { "eff_bw_down", "u32" }, { "eff_bw_up_flag", "u8" }, { "eff_bw_up", "u32" } }),
    [0x5060] = E("effective access lists", "client", qos_names("eff_acl")),
    [0x5061] = E("effective policies", "client", qos_names("eff_policy")),
    [0x5062] = E("client QoS bandwidth", "client", { { "bw_down_flag", "u8" },
        { "bw_down", "u32" }, { "bw_up_flag", "u8" }, { "bw_up", "u32" } }),
    [0x5063] = E("client QoS access lists", "client", qos_names("acl")),
    [0x5064] = E("client QoS policies", "client", qos_names("policy")),
    [0x5071] = E("TSPEC body", "client", { { "tspec", "bytes", 56 } }),
    [0x5072] = E("admitted", "client", { { "admitted", "u8" } }),
    [0x5074] = E("access category", "client", { { "ac", "u8" } }),
    [0x5075] = E("previous TSPEC", "client", { { "prev", "bytes", 3 } }),
    [0x504D] = E("report mode", "client", { { "report_mode", "u8" } }),
    [0x504E] = E("channel load", "client", { { "channel_load", "u8" } }),
    [0x504F] = E("duration", "client", { { "duration", "u16" } }),
    [0x8079] = E("STBC capable", "client", { { "stbc", "u8" } }),
    [0xF100] = E("client MAC", "client", { { "client", "mac" } }),
    [0xF101] = E("SSID", "client", { { "ssid", "text", 32 } }),
    [0xF102] = E("BSSID", "client", { { "bssid", "mac" } }),
    [0xF103] = E("pre-authentication data", "client", { { "preauth_data", "bytes" } }),
    [0xF104] = E("PMK", "client", { { "pmk", "bytes", 32 } }),
}

-- The client connection message (4358) gives the low ids other meanings.
local CLIENT_CONN = {
    [0x5001] = E("client MAC", "client", { { "client", "mac" } }),
    [0x5002] = E("address type", "client", { { "addr_type", "u8" } }),
    [0x5003] = E("client address", "client", { { "client_addr", "addr16" } }),
    [0x5004] = E("radio", "client", { { "radio", "u8" } }),
    [0x5005] = E("VAP index", "client", { { "vap_id", "u8" } }),
}

local TUNNEL = {
    [0x2020] = E("central tunnel VLANs", "tunnel", { { "vlan", "u16list" } }),
}

local CLTQOS = {
    [33] = E("AP MAC", "cltqos", { { "ap", "mac" } }),
    [0x0120] = E("client QoS modes", "cltqos", { { "global_mode", "u8" }, { "radio", "u8" },
        { "vap_mode", "u8list" } }),
    [0x0122] = E("global client QoS mode", "cltqos", { { "global_mode", "u8" } }),
}

-- Radio commands: RF scan interval (9), channel (32) and power (33).
local SCAN_INTERVAL = {
    [33] = E("AP MAC", "radiocmd", { { "ap", "mac" } }),
    [0x3101] = E("RF scan interval", "radiocmd", { { "scan_interval", "u16" } }),
}
local RADIO_CMD = {
    [33] = E("AP MAC", "radiocmd", { { "ap", "mac" } }),
    [0x3101] = E("radio", "radiocmd", { { "radio", "u8" } }),
    [0x3104] = E("channel", "radiocmd", { { "channel", "u32" } }),
    [0x3105] = E("power level", "radiocmd", { { "power", "u8" } }),
}

local POSTCONF = {
    [1] = E("post-configuration status", "postconf", { { "status", "i32" } }),
}

local PROVISION = {
    [0x0101] = E("AP address", "prov", { { "ap", "swaddr" } }),
    [0x0021] = E("MAC address", "prov", { { "mac", "mac" } }),
    [0x0117] = E("status", "prov", { { "status", "u8" } }),
    [0x0110] = E("primary switch", "prov", { { "primary", "swaddr" } }),
    [0x0111] = E("backup switch", "prov", { { "backup", "swaddr" } }),
    [0x0112] = E("mutual authentication", "prov", { { "mutual_auth", "u8" } }),
    [0x0113] = E("reprovision unmanaged", "prov", { { "reprovision", "u8" } }),
    [0x0114] = E("AP certificate", "prov", { { "certificate", "text" } }),
}

-- Message type -> the element groups searched, in order.  Types not listed
-- show their elements as bytes.
local MSG_ELEMS = {
    [1] = { LINK }, [2] = { LINK }, [3] = { LINK }, [11] = { LINK, CLIENT }, [15] = { LINK },
    [16] = { LINK }, [21] = { LINK }, [25] = { LINK }, [34] = { LINK },
    [4] = { CONFIG }, [5] = { CONFIG_STATUS }, [6] = { STATS }, [7] = { STATS },
    [4358] = { CLIENT_CONN, CLIENT }, [128] = { TUNNEL },
    [150] = { CLTQOS }, [266] = { POSTCONF }, [514] = { PROVISION }, [515] = { PROVISION },
    [9] = { SCAN_INTERVAL }, [32] = { RADIO_CMD }, [33] = { RADIO_CMD },
}
for _, t in ipairs({ 12, 13, 14, 22, 23, 24, 26, 36, 38, 39, 40, 96, 97, 98, 104, 105, 106,
                     107, 112, 113, 114, 115, 116, 529, 530 }) do
    MSG_ELEMS[t] = { CLIENT }
end

-- Messages whose body is a fixed record rather than elements.
local MSG_BODY = {
    [304] = { group = "qosd", layout = cat({ { "radio", "u8" }, { "vap", "u8" } },
        { { "acl_down_type", "u8" }, { "acl_down_name", "text", 32 },
          { "acl_up_type", "u8" }, { "acl_up_name", "text", 32 },
          { "policy_down_type", "u8" }, { "policy_down_name", "text", 32 },
          { "policy_up_type", "u8" }, { "policy_up_name", "text", 32 } }) },
}

-- ---------------------------------------------------------------------------
-- Local records: type -> {name, size, layout}, the name being the record the
-- daemon's traces print.  Types 4 and 6 are also the TSPEC application's
-- records; as in the daemon, their length tells them apart.

local function L(name, layout) return { name = name, layout = layout } end
local HDR_MACS3 = { { "type", "u8" }, { "ap_macaddr", "mac" }, { "vap_macaddr", "mac" },
                    { "client_macaddr", "mac" }, { "radio_if", "u8" } }
local BW2 = { { "bw_down_dot1x_valid", "u8" }, { "pad", "pad", 3 }, { "bw_down_max_rate", "u32" },
              { "bw_up_dot1x_valid", "u8" }, { "pad", "pad", 3 }, { "bw_up_max_rate", "u32" } }
local QOS_NAMES32 = { { "acl_down_type", "u8" }, { "acl_down_name", "text", 32 },
    { "acl_up_type", "u8" }, { "acl_up_name", "text", 32 },
    { "policy_down_type", "u8" }, { "policy_down_name", "text", 32 },
    { "policy_up_type", "u8" }, { "policy_up_name", "text", 32 } }
local PRE_AUTH = { { "type", "u8" }, { "client_macaddr", "mac" }, { "ss_id", "text", 32 },
    { "BSSID", "mac" }, { "pad", "pad", 1 }, { "datalen", "u16" }, { "pre_auth_data", "bytes" } }
local TSPEC = cat({ { "type", "u8" }, { "cmd_type", "u8" }, { "ap_macaddr", "mac" },
    { "vap_macaddr", "mac" }, { "client_macaddr", "mac" }, { "radio_if", "u8" },
    { "ssid", "text", 32 }, { "ac_index", "u8" }, { "pad", "pad", 2 }, { "rsvd1", "u8" },
    { "ts_info", "bytes", 3 }, { "nom_msdu_size", "u16" }, { "max_msdu_size", "u16" } },
    rep({}, "", "u32", { "min_srv_interval", "max_srv_interval", "inactivity_interval",
        "suspension_interval", "srve_start_time", "min_data_rate", "mean_data_rate",
        "peak_data_rate", "max_burst_size", "delay_bound", "min_phy_rate" }),
    { { "surplus_bw", "u16" }, { "medium_time", "u16" }, { "wlan_util", "u32" },
      { "prev_medium_time", "u16" }, { "prev_ac_index", "u8" }, { "bAdmitted", "u8" } })
local TS_STATUS7 = { "ts_oper_status", "num_active_ts", "num_ts_clients", "num_roam_ts_clients",
    "medium_time_admitted", "medium_time_unallocated", "medium_time_roaming_unallocated" }

local LOCAL = {
    [1] = L("probe_reqmsg_s", { { "type", "u8" }, { "vap_macaddr", "mac" },
        { "client_macaddr", "mac" }, { "radio_if", "u8" }, { "ss_id", "text", 32 },
        { "rssi", "u8" }, { "channel", "u8" } }),
    [3] = L("disassoc_reqmsg_s", { { "type", "u8" }, { "vap_macaddr", "mac" },
        { "client_macaddr", "mac" }, { "radio_if", "u8" } }),
    [4] = L("authen_failmsg_s", { { "type", "u8" }, { "vap_macaddr", "mac" },
        { "client_macaddr", "mac" }, { "ss_id", "text", 32 }, { "authen_status", "u8" } }),
    [5] = L("disassoc_cmdmsg_s", { { "type", "u8" }, { "client_macaddr", "mac" } }),
    [6] = L("rfscanreport_cmdmsg_s", { { "type", "u8" }, { "pad", "pad", 3 },
        { "interval", "u32" } }),
    [7] = L("channelsupported_cmdmsg_s", { { "type", "u8" } }),
    [8] = L("power_change_info_cmdmsg_s", { { "type", "u8" }, { "power_level", "u8" },
        { "macaddr", "mac" } }),
    [10] = L("mpre_auth_cmdmsg_s", PRE_AUTH),
    [12] = L("mpmk_cmdmsg_s", { { "type", "u8" }, { "client_macaddr", "mac" },
        { "ss_id", "text", 32 }, { "pmk", "bytes", 32 } }),
    [13] = L("mpre_auth_ansmsg_s", PRE_AUTH),
    [14] = L("mclient_auth_msg_s", cat({ { "type", "u8" }, { "vap_macaddr", "mac" },
        { "client_macaddr", "mac" }, { "radio_if", "u8" }, { "ssid", "text", 32 },
        { "user_name", "text", 32 }, { "vlan_id", "u16" }, { "vap_id", "u8" }, { "pad", "pad", 1 },
        { "tx_rate", "u16" }, { "channel", "u8" }, { "dot11n_capable", "u8" },
        { "stbc_capable", "u8" }, { "pad", "pad", 1 }, { "flags", "x32" }, { "pmk", "bytes", 32 },
        { "reauth_intvl", "u32" }, { "homeap_flag", "u8" }, { "homeap_mac", "mac" },
        { "home_apip", "addr16" }, { "pad", "pad", 1 } }, BW2, QOS_NAMES32,
        { { "rrm_capability", "bytes", 5 }, { "pad", "pad", 3 } })),
    [15] = L("resend_client_info_cmdmsg_s", { { "type", "u8" }, { "client_macaddr", "mac" } }),
    [16] = L("mclient_conn_msg_s", { { "type", "u8" }, { "client_macaddr", "mac" },
        { "pad", "pad", 1 }, { "client_ip", "ipv4" }, { "radio_if", "u8" }, { "vap_id", "u8" },
        { "pad", "pad", 2 } }),
    [17] = L("assoc_req_msg_s", cat(HDR_MACS3, { { "ssid", "text", 33 } })),
    [18] = L("assoc_reply_cmdmsg_s", cat(HDR_MACS3, { { "ssid", "text", 36 },
        { "client_status", "x32" }, { "pmk", "bytes", 32 }, { "reaut_interval", "u32" },
        { "auth_age", "u32" }, { "vlan_id", "u16" }, { "home_ap", "u8" }, { "home_apmac", "mac" },
        { "home_apip", "addr16" }, { "pad", "pad", 3 } }, BW2, QOS_NAMES32)),
    [19] = L("wids_config_cmdmsg_s", { { "type", "u8" }, { "ap_macaddr", "mac" },
        { "wired_nw_det", "u8" }, { "wired_nw_det_interval", "u16" },
        { "ap_attack_interval", "u16" }, { "bssid_attack_list_count", "u16" },
        { "bssid_attack_list", "bytes", 112 } }),
    [20] = L("dl2tunnel_config_msg_s", { { "type", "u8" }, { "pad", "pad", 3 },
        { "max_clients", "u32" }, { "tunnel_idle_timeout", "u32" },
        { "tunnel_age_timeout", "u32" }, { "mc_replication_limit", "u32" } }),
    [21] = L("dl2tunnel_setup_msg_s", { { "type", "u8" }, { "pad", "pad", 1 },
        { "home_ap_mac", "mac" }, { "client_mac", "mac" }, { "assoc_ap_mac", "mac" },
        { "assoc_ap_ipv6", "bytes", 16 }, { "vlan_id", "u16" } }),
    [22] = L("dl2tunnel_term_msg_s", { { "type", "u8" }, { "pad", "pad", 1 },
        { "home_ap_mac", "mac" }, { "client_mac", "mac" } }),
    [23] = L("wired_nw_det_vlan_cmdmsg_s", { { "type", "u8" }, { "pad", "pad", 1 },
        { "vlan", "u16" } }),
    [24] = L("client_preauth_notification_msg_s", cat(HDR_MACS3, { { "ssid", "text", 32 },
        { "user_name", "text", 32 }, { "status", "u8" } })),
    [25] = L("radius_proxy_cmdmsg_s", cat(HDR_MACS3, { { "ssid", "text", 32 },
        { "radius_pkt", "bytes", 3000 }, { "radius_pkt_len", "u32" } })),
    [32] = L("client_deauth_msg_s", { { "type", "u8" }, { "radio", "u8" }, { "channel", "u8" },
        { "client_mac", "mac" }, { "fake_bssid", "mac" } }),
    [33] = L("cl2tunnel_config_msg_s", { { "type", "u8" }, { "vlan_count", "u16" },
        { "vlan_ids", "bytes", 128 } }),
    [34] = L("cltqos_auth_def_req_msg_s", cat({ { "type", "u8" } }, QOS_NAMES32)),
    [35] = L("tspec_msg_s", TSPEC),
    [37] = L("rrm_nbr_list_msg_s", { { "type", "u8" }, { "list", "bytes", 1500 },
        { "pad", "pad", 1 }, { "used", "u16" } }),
    [38] = L("rrm_chan_load_req_msg_s", { { "type", "u8" }, { "ap_macaddr", "mac" },
        { "client_macaddr", "mac" }, { "channel", "u8" }, { "duration", "u16" } }),
    [39] = L("rrm_chan_load_rep_msg_s", { { "type", "u8" }, { "ap_macaddr", "mac" },
        { "client_macaddr", "mac" }, { "channel", "u8" }, { "duration", "u16" },
        { "report_mode", "u8" }, { "channel_load", "u8" } }),
    [40] = L("tspec_status_msg_s", (function()
        local l = cat({ { "type", "u8" }, { "cmd_type", "u8" }, { "ac_index", "u8" },
            { "rsvd1", "u8" } }, rep({}, "", "u32", { "num_active_ts", "num_ts_clients",
            "num_roam_ts_clients", "tspecs_accepted", "tspecs_rejected", "roam_tspecs_accepted",
            "roam_tspecs_rejected" }))
        for r = 1, 2 do l = cat(l, rep({}, "radio" .. r .. "_", "u32", TS_STATUS7)) end
        return cat(l, { { "vap_status", "bytes", 2 * 16 * 28 } })
    end)()),
}
local LOCAL_TSPEC_REPLY = L("tspec_msg_s", TSPEC)          -- type 4, 120 bytes
local LOCAL_TSPEC_DIRECT = L("tspec_direct_msg_s", { { "type", "u8" }, { "cmd_type", "u8" },
    { "managed_mode", "u8" } })                              -- type 6, 3 bytes
-- The record sizes the daemon pins; a layout that does not add up is a bug here.
local LOCAL_SIZE = { [1] = 48, [3] = 14, [4] = 46, [5] = 7, [6] = 8, [7] = 1, [8] = 8,
    [12] = 71, [14] = 308, [15] = 7, [16] = 16, [17] = 53, [18] = 276, [19] = 126, [20] = 20,
    [21] = 38, [22] = 14, [23] = 4, [24] = 85, [25] = 3056, [32] = 15, [33] = 131, [34] = 133,
    [35] = 120, [37] = 1504, [38] = 16, [39] = 18, [40] = 984 }

-- ---------------------------------------------------------------------------
-- Fields.

local f = {
    type = ProtoField.uint16("mapd.type", "Message type", base.DEC),
    type_name = ProtoField.string("mapd.type_name", "Message name"),
    len = ProtoField.uint16("mapd.len", "Message length", base.DEC),
    elem_id = ProtoField.uint16("mapd.elem.id", "Element id", base.HEX),
    elem_len = ProtoField.uint16("mapd.elem.len", "Element length", base.DEC),
    elem_name = ProtoField.string("mapd.elem.name", "Element"),
    elem_value = ProtoField.bytes("mapd.elem.value", "Element value"),
    body = ProtoField.bytes("mapd.body", "Message body"),
    l2_reserved = ProtoField.bytes("mapd.l2.reserved", "Layer-2 header bytes"),
    l2_wireless = ProtoField.uint16("mapd.l2.wireless", "Wireless frame marker", base.DEC),
    local_type = ProtoField.uint8("mapd.local.type", "Local record type", base.DEC),
    local_name = ProtoField.string("mapd.local.name", "Local record"),
    local_len = ProtoField.uint32("mapd.local.len", "Local record length", base.DEC),
    local_bytes = ProtoField.bytes("mapd.local.bytes", "Local record bytes"),
}

local FIELD_MAKERS = {
    u8 = function(a, l) return ProtoField.uint8(a, l, base.DEC) end,
    u16 = function(a, l) return ProtoField.uint16(a, l, base.DEC) end,
    u32 = function(a, l) return ProtoField.uint32(a, l, base.DEC) end,
    x32 = function(a, l) return ProtoField.uint32(a, l, base.HEX) end,
    i32 = function(a, l) return ProtoField.int32(a, l, base.DEC) end,
    u64 = function(a, l) return ProtoField.uint64(a, l, base.DEC) end,
    mac = function(a, l) return ProtoField.ether(a, l) end,
    ipv4 = function(a, l) return ProtoField.ipv4(a, l) end,
    ipv6 = function(a, l) return ProtoField.ipv6(a, l) end,
    text = function(a, l) return ProtoField.string(a, l) end,
    bytes = function(a, l) return ProtoField.bytes(a, l) end,
}
-- The fields a kind registers: {suffix, maker kind}.
local KIND_FIELDS = {
    u8list = { { "", "u8" } }, u16list = { { "", "u16" } },
    addr16 = { { "", "ipv4" } },
    ipelem = { { ".family", "u8" }, { "", "ipv4" }, { ".v6", "ipv6" }, { ".prefix", "u8" } },
    swaddr = { { ".ipv6_flag", "u8" }, { "", "ipv4" }, { ".v6", "ipv6" } },
}

-- The record type is a layout field of every local record.
local by_abbr = { ["mapd.local.type"] = { kind = "u8", field = f.local_type } }
local function field_for(abbr, kind, label)
    local have = by_abbr[abbr]
    if have then
        assert(have.kind == kind, "mapd.lua: field " .. abbr .. " registered as two kinds")
        return have.field
    end
    local fld = FIELD_MAKERS[kind](abbr, label)
    by_abbr[abbr] = { kind = kind, field = fld }
    f[abbr] = fld
    return fld
end

-- Resolves a layout once: offsets, widths and fields.  Returns the fixed
-- size and whether the last field takes the rest.
local function prepare(group, layout)
    if layout.prepared then return end
    local off = 0
    for i, item in ipairs(layout) do
        local name, kind, width = item[1], item[2], item[3]
        local w = width or WIDTH[kind]
        local abbr = "mapd." .. group .. "." .. name
        local label = name:gsub("_", " ")
        item.off, item.w = off, w
        if kind ~= "pad" then
            item.fields = {}
            for _, kf in ipairs(KIND_FIELDS[kind] or { { "", kind } }) do
                item.fields[#item.fields + 1] = field_for(abbr .. kf[1], kf[2], label .. kf[1])
            end
        end
        if w == nil then
            assert(i == #layout, "mapd.lua: open-ended field " .. abbr .. " is not last")
            layout.rest = true
        else
            off = off + w
        end
    end
    layout.size = off
    layout.prepared = true
end

for _, g in ipairs({ LINK, CONFIG, CONFIG_STATUS, STATS, CLIENT, CLIENT_CONN, TUNNEL, CLTQOS,
                     SCAN_INTERVAL, RADIO_CMD, POSTCONF, PROVISION }) do
    for _, e in pairs(g) do prepare(e.group, e.layout) end
end
for _, b in pairs(MSG_BODY) do prepare(b.group, b.layout) end
for t, r in pairs(LOCAL) do
    prepare("local", r.layout)
    assert(LOCAL_SIZE[t] == nil or r.layout.size == LOCAL_SIZE[t],
        "mapd.lua: local record " .. r.name .. " is " .. r.layout.size .. " bytes, not " ..
        tostring(LOCAL_SIZE[t]))
end
prepare("local", LOCAL_TSPEC_DIRECT.layout)
LOCAL_TSPEC_REPLY = { name = "tspec_msg_s", layout = LOCAL[35].layout }

local ef = {
    malformed = ProtoExpert.new("mapd.malformed", "Malformed mapd message",
        expert.group.MALFORMED, expert.severity.ERROR),
    length = ProtoExpert.new("mapd.length", "Unexpected length",
        expert.group.PROTOCOL, expert.severity.WARN),
    unknown = ProtoExpert.new("mapd.unknown", "Unknown element or record",
        expert.group.UNDECODED, expert.severity.NOTE),
}

local flist = {}
for _, fld in pairs(f) do flist[#flist + 1] = fld end
mapd.fields = flist
mapd.experts = { ef.malformed, ef.length, ef.unknown }

-- ---------------------------------------------------------------------------
-- Decoding.

local function nul_text(range)
    local s = range:raw()
    return (s:match("^[^%z]*"))
end

-- Adds an integer field in the given byte order.
local function add_int(tree, fld, range, le)
    if le then return tree:add_le(fld, range) end
    return tree:add(fld, range)
end

-- Adds one field of a layout from `range` (exactly its bytes).
local function add_item(tree, item, range, le)
    local kind, flds = item[2], item.fields
    if kind == "text" then
        tree:add(flds[1], range, nul_text(range))
    elseif kind == "u8list" or kind == "u16list" then
        local w = kind == "u8list" and 1 or 2
        for o = 0, range:len() - w, w do add_int(tree, flds[1], range(o, w), le) end
    elseif kind == "addr16" then
        add_int(tree, flds[1], range(12, 4), le)
    elseif kind == "ipelem" then
        tree:add(flds[1], range(0, 1))
        if range(0, 1):uint() == 0 then tree:add(flds[2], range(13, 4))
        else tree:add(flds[3], range(1, 16)) end
        tree:add(flds[4], range(17, 1))
    elseif kind == "swaddr" then
        tree:add(flds[1], range(0, 1))
        if range(0, 1):uint() == 0 then tree:add(flds[2], range(13, 4))
        else tree:add(flds[3], range(1, 16)) end
    elseif kind == "mac" or kind == "bytes" then
        tree:add(flds[1], range)
    else
        add_int(tree, flds[1], range, le)
    end
end

-- Decodes `range` by `layout`.  Returns false when the bytes fall short of
-- the layout (the fields that fit are shown).
local function add_layout(tree, layout, tvb, off, len, le)
    for _, item in ipairs(layout) do
        local w = item.w or (len - item.off)
        if item.off + w > len then return false end
        if item[2] ~= "pad" and w > 0 then add_item(tree, item, tvb(off + item.off, w), le) end
    end
    return true
end

local function find_elem(groups, id)
    for _, g in ipairs(groups) do
        if g[id] then return g[id] end
    end
    return nil
end

-- Walks the elements of one message in tvb[off, off + len).
local function dissect_elems(tvb, tree, off, len, groups)
    local stop = off + len
    while stop - off >= 4 do
        local id, elen = tvb(off, 2):uint(), tvb(off + 2, 2):uint()
        local avail = math.min(elen, stop - off - 4)
        local e = find_elem(groups, id)
        local name = e and e.name or "unknown"
        local et = tree:add(tvb(off, 4 + avail),
            string.format("Element 0x%04x (%s), %d bytes", id, name, elen))
        et:add(f.elem_id, tvb(off, 2))
        et:add(f.elem_len, tvb(off + 2, 2))
        et:add(f.elem_name, name)
        if avail < elen then
            if avail > 0 then et:add(f.elem_value, tvb(off + 4, avail)) end
            et:add_proto_expert_info(ef.malformed, string.format(
                "element length %d runs past the message end (%d bytes left)", elen, avail))
            return false
        end
        if e == nil then
            if elen > 0 then et:add(f.elem_value, tvb(off + 4, elen)) end
            et:add_proto_expert_info(ef.unknown, string.format("unknown element 0x%04x", id))
        else
            local l = e.layout
            if elen < l.size then
                if elen > 0 then et:add(f.elem_value, tvb(off + 4, elen)) end
                et:add_proto_expert_info(ef.malformed, string.format(
                    "%s: %d bytes, needs %d", e.name, elen, l.size))
            else
                add_layout(et, l, tvb, off + 4, elen, false)
                if elen > l.size and not l.rest then
                    et:add_proto_expert_info(ef.length, string.format(
                        "%s: %d bytes, %d expected", e.name, elen, l.size))
                end
            end
        end
        off = off + 4 + elen
    end
    if off < stop then
        tree:add_proto_expert_info(ef.malformed,
            string.format("%d stray bytes after the elements", stop - off))
        return false
    end
    return true
end

local function type_name(t) return MSG_TYPES[t] or "UNKNOWN" end

-- One switch message at tvb[off, off + avail).  Returns the bytes it takes
-- (its length field, cut to what is there) and its name.
local function dissect_msg(tvb, pinfo, tree, off, avail)
    if avail < 4 then
        local t = tree:add(mapd, tvb(off, avail), "mapd switch message (short)")
        t:add_proto_expert_info(ef.malformed, string.format("%d bytes, a header needs 4", avail))
        return avail, "short message"
    end
    local mtype, mlen = tvb(off, 2):uint(), tvb(off + 2, 2):uint()
    local name = type_name(mtype)
    local take = math.min(math.max(mlen, 4), avail)
    local t = tree:add(mapd, tvb(off, take), string.format("mapd %s (%d), %d bytes", name, mtype, mlen))
    t:add(f.type, tvb(off, 2))
    t:add(f.type_name, tvb(off, 2), name)
    local lt = t:add(f.len, tvb(off + 2, 2))
    if mlen < 4 then
        lt:add_proto_expert_info(ef.malformed, "message length below the 4-byte header")
        return take, name
    end
    if mlen > avail then
        lt:add_proto_expert_info(ef.malformed,
            string.format("message length %d, only %d bytes present", mlen, avail))
    end
    local body = MSG_BODY[mtype]
    if body then
        local blen = take - 4
        if not add_layout(t, body.layout, tvb, off + 4, blen, false) or blen ~= body.layout.size then
            t:add_proto_expert_info(ef.malformed, string.format("%s: body of %d bytes, %d expected",
                name, blen, body.layout.size))
        end
    else
        dissect_elems(tvb, t, off + 4, take - 4, MSG_ELEMS[mtype] or {})
    end
    return take, name
end

local function set_info(pinfo, text)
    pinfo.cols.protocol = "MAPD"
    pinfo.cols.info = text
end

-- UDP: one message a datagram.
local function dissect_udp(tvb, pinfo, tree)
    local len = tvb:len()
    local used, name = dissect_msg(tvb, pinfo, tree, 0, len)
    if used < len and len >= 4 then
        tree:add_proto_expert_info(ef.length, string.format("%d bytes after the message", len - used))
    end
    set_info(pinfo, name)
    return len
end

-- TLS plaintext: messages follow one another without delimiters, their
-- length field gives their extent; a message may span records.
local function dissect_stream(tvb, pinfo, tree)
    local len, off, names = tvb:len(), 0, {}
    while off < len do
        local avail = len - off
        if avail < 4 then
            pinfo.desegment_offset = off
            pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
            break
        end
        local mlen = tvb(off + 2, 2):uint()
        if mlen >= 4 and mlen > avail then
            pinfo.desegment_offset = off
            pinfo.desegment_len = mlen - avail
            break
        end
        local used, name = dissect_msg(tvb, pinfo, tree, off, avail)
        names[#names + 1] = name
        off = off + used
    end
    if #names > 0 then set_info(pinfo, table.concat(names, ", ")) end
    return off
end

-- Layer 2: four bytes the AP does not look at, the wireless marker (1), then
-- one message.
local function dissect_l2(tvb, pinfo, tree)
    local len = tvb:len()
    local t = tree:add(mapd, tvb(), "mapd layer-2 frame")
    if len < 6 then
        t:add_proto_expert_info(ef.malformed, string.format("%d bytes, too short for the header", len))
        set_info(pinfo, "short layer-2 frame")
        return len
    end
    t:add(f.l2_reserved, tvb(0, 4))
    local m = t:add(f.l2_wireless, tvb(4, 2))
    if tvb(4, 2):uint() ~= 1 then
        m:add_proto_expert_info(ef.length, "not a wireless frame: the AP drops it")
    end
    local _, name = dissect_msg(tvb, pinfo, tree, 6, len - 6)
    set_info(pinfo, name)
    return len
end

-- Local datagrams.
local function local_record(rtype, len)
    if rtype == 4 and len == 120 then return LOCAL_TSPEC_REPLY end
    if rtype == 6 and len == 3 then return LOCAL_TSPEC_DIRECT end
    return LOCAL[rtype]
end

local function dissect_local(tvb, pinfo, tree)
    local len = tvb:len()
    pinfo.cols.protocol = "MAPD-LOCAL"
    local t = tree:add(mapd, tvb(), "mapd local datagram")
    if len < 1 then
        t:add_proto_expert_info(ef.malformed, "empty datagram")
        return 0
    end
    -- mapqosd takes switch-framed messages.
    if pinfo.dst_port == PORT_MAPQOSD then
        local _, name = dissect_msg(tvb, pinfo, t, 0, len)
        pinfo.cols.info = name
        return len
    end
    local rtype = tvb(0, 1):uint()
    t:add(f.local_len, len)
    -- hostapd's answers of types 6 and 7 carry a switch message after the type byte.
    if (rtype == 6 or rtype == 7) and pinfo.dst_port == PORT_MAPD_LOCAL and len >= 5 then
        local name = rtype == 6 and "rfscanreport (hostapd)" or "channelsupported (hostapd)"
        t:add(f.local_type, tvb(0, 1))
        t:add(f.local_name, name)
        local _, inner = dissect_msg(tvb, pinfo, t, 1, len - 1)
        pinfo.cols.info = name .. ": " .. inner
        return len
    end
    local rec = local_record(rtype, len)
    if rec == nil then
        t:add(f.local_type, tvb(0, 1))
        t:add(f.local_name, "unknown")
        t:add(f.local_bytes, tvb())
        t:add_proto_expert_info(ef.unknown, string.format("unknown local record type %d", rtype))
        pinfo.cols.info = string.format("unknown local record %d", rtype)
        return len
    end
    t:add(f.local_name, rec.name)
    t:append_text(": " .. rec.name)
    pinfo.cols.info = string.format("%s (%d bytes)", rec.name, len)
    local le = not mapd.prefs.local_big_endian
    local ok = add_layout(t, rec.layout, tvb, 0, len, le)
    local size = rec.layout.size
    if not ok then
        t:add_proto_expert_info(ef.malformed, string.format("%s: %d bytes, needs %d", rec.name,
            len, size))
    elseif len > size and not rec.layout.rest then
        t:add_proto_expert_info(ef.length, string.format("%s: %d bytes, %d expected", rec.name,
            len, size))
    end
    return len
end

-- One dissector for every table it sits in: the transport tells which.
local PT_TCP, PT_UDP = 2, 3
function mapd.dissector(tvb, pinfo, tree)
    if pinfo.port_type == PT_TCP then return dissect_stream(tvb, pinfo, tree) end
    if pinfo.port_type ~= PT_UDP then return dissect_l2(tvb, pinfo, tree) end
    if pinfo.src_port == PORT_SWITCH_UDP or pinfo.dst_port == PORT_SWITCH_UDP then
        return dissect_udp(tvb, pinfo, tree)
    end
    return dissect_local(tvb, pinfo, tree)
end

-- ---------------------------------------------------------------------------
-- Registration.

local udp = DissectorTable.get("udp.port")
for _, p in ipairs({ PORT_SWITCH_UDP, PORT_HOSTAPD, PORT_MAPD_LOCAL, PORT_MAPQOSD,
                     PORT_TSPEC_APP }) do
    udp:add(p, mapd)
end
DissectorTable.get("ethertype"):add(ETHERTYPE_MAPD, mapd)
-- TLS on TCP 57777; the decrypted records come to this dissector.
DissectorTable.get("tcp.port"):add(PORT_SWITCH_TLS, Dissector.get("tls"))
DissectorTable.get("tls.port"):add(PORT_SWITCH_TLS, mapd)
-- Offered under Decode As for other ports (plain TCP streams of messages too).
DissectorTable.get("tcp.port"):add_for_decode_as(mapd)
