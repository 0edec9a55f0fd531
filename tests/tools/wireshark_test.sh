#!/usr/bin/env bash
# tshark with the dissector (tools/wireshark/mapd.lua) decodes a capture of the
# twin (scripts/capture) and must print what the twin and the switch
# simulator logged: discovery, the TLS messages decrypted with the twin's key
# log, configuration, statistics and a client association.  Without the key
# log the TLS payload must stay opaque.  Hand-made frames check the layer-2
# framing, messages split across TCP segments and malformed input.
#
#   wireshark_test.sh [BIN]     BIN: folder of apsim and swsim (default build/bin)
# Extra arguments (a test filter from scripts/mutants) are ignored.
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
BIN=$(cd "${1:-$src/build/bin}" && pwd) || exit 1
LUA=$src/tools/wireshark/mapd.lua
command -v tshark > /dev/null || { echo "SKIP: tshark is not installed (scripts/setup installs it)"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# No personal plugins or preferences: only this dissector.
export HOME=$tmp XDG_CONFIG_HOME=$tmp/config
cap=$tmp/cap
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
expect() {  # what got want
  if [ "$2" == "$3" ]; then echo "ok:   $1 = $3"; else fail "$1: tshark says '$2', the log says '$3'"; fi
}
ts() {  # PCAP tshark-args...: fields of every frame, errors kept apart
  local pcap=$1; shift
  tshark -n -X lua_script:"$LUA" -r "$pcap" -T fields -E occurrence=a -E aggregator=, "$@" \
    2>> "$tmp/tshark.err" | sed '/^$/d'
}
first() {  # FILTER FIELD: the field of the first matching frame, with the key log
  ts "$cap/mapd.pcapng" -o tls.keylog_file:"$cap/keylog" -Y "$1" -e "$2" | head -1
}
t2p() { text2pcap -q "$@" > /dev/null 2>&1; }
pick() {  # FILE REGEX: the first capture group of the first matching line
  sed -nE "s/.*$2.*/\\1/p" "$1" | head -1
}

BIN=$BIN bash "$src/scripts/capture" "$cap" 60 > "$tmp/capture.out" 2>&1
rc=$?
if [ $rc -eq 3 ]; then cat "$tmp/capture.out"; echo "SKIP: the capture needs a private network namespace"; exit 77; fi
if [ $rc -ne 0 ]; then
  cat "$tmp/capture.out"; tail -20 "$cap/swsim.log" 2> /dev/null
  echo "FAIL: scripts/capture did not complete its scenario"; exit 1
fi
sw=$cap/swsim.log ap=$cap/apsim.log scen=$src/sim/swsim/scenarios/capture.txt

# ---- every TLS message, both directions, in order: code and trace name ------
for dir in "->:tcp.srcport==57777" "<-:tcp.dstport==57777"; do
  arrow=${dir%%:*} filter=${dir#*:}
  logged=$(sed -nE "s/^\[[^]]*\] TLS  $arrow ([A-Z_0-9]+) \(([0-9]+)\).*/\2 \1/p" "$sw")
  decoded=$(ts "$cap/mapd.pcapng" -o tls.keylog_file:"$cap/keylog" -Y "mapd && $filter" \
              -e mapd.type -e mapd.type_name | tr '\t' ' ' |
            awk '{n = split($1, t, ","); split($2, m, ","); for (i = 1; i <= n; i++) print t[i], m[i]}')
  [ -n "$logged" ] || fail "no TLS $arrow lines in swsim.log"
  if [ "$(cut -d' ' -f1 <<< "$logged")" != "$(cut -d' ' -f1 <<< "$decoded")" ]; then
    fail "TLS $arrow message types differ:"; diff <(echo "$logged") <(echo "$decoded")
  else
    echo "ok:   TLS $arrow: $(wc -l <<< "$logged") messages, types as logged"
  fi
  # The simulator shortens a few names (CLIENT_ASSOC_REQ); the trace name ends with them.
  while read -r code name mine; do
    [[ $mine == *"$name" ]] || fail "type $code: tshark names it $mine, the log $name"
  done < <(paste -d' ' <(echo "$logged") <(cut -d' ' -f2 <<< "$decoded"))
done

# ---- fields against the logs: description | display filter | field | logged value
ident="SWITCH_AP_IDENTIFICATION \(21\), ([0-9]+) bytes: serial ([^,]*), MAC ([^,]*), hardware type ([-0-9]+), radios ([0-9]+), firmware ([^,]*), reason ([0-9]+)"
assoc_req='CLIENT_ASSOC_REQ \(96\), [0-9]+ bytes: ap (\S+) vap (\S+) client (\S+) radio ([0-9]+) ssid "([^"]*)"'
local_req='hostapd -> assoc_req_msg_s \([0-9]+ bytes\): ap (\S+) vap (\S+) client (\S+) radio ([0-9]+) ssid "([^"]*)"'
local_rep='hostapd <- assoc_reply_cmdmsg_s \([0-9]+ bytes\): .* reauth ([0-9]+) .* vlan ([0-9]+)'
stats_radio='radio \(0x2104\): radio=1 mac=(\S+) channel=([0-9]+) power=([0-9]+) .* rx_bytes=([0-9]+) .* TransmittedFragmentCount=([0-9]+) .* WEPUndecryptableCount=([0-9]+)'
g=$(pick "$sw" 'global \(0x2103\): (uptime=[0-9]+ wl_rx_packets=[0-9]+ wl_rx_bytes=[0-9]+)')
rep_vlan=$(sed -nE "s/.*$local_rep.*/\\2/p" "$ap" | head -1)
rows=(
  "discover to the AP|mapd.type==1 && udp|ip.dst|$(pick "$sw" 'sent SWITCH_DISCOVER to (\S+)')"
  "discover: switch address|mapd.type==1|mapd.link.ip|$(pick "$sw" 'switch up on (\S+) ')"
  "identification length|mapd.type==21|mapd.len|$(sed -nE "s/.*$ident.*/\\1/p" "$sw" | head -1)"
  "identification serial|mapd.type==21|mapd.link.serial|$(sed -nE "s/.*$ident.*/\\2/p" "$sw" | head -1)"
  "identification MAC|mapd.type==21|mapd.link.mac|$(sed -nE "s/.*$ident.*/\\3/p" "$sw" | head -1)"
  "identification hardware type|mapd.type==21|mapd.link.hw_type|$(sed -nE "s/.*$ident.*/\\4/p" "$sw" | head -1)"
  "identification radios|mapd.type==21|mapd.link.num_radios|$(sed -nE "s/.*$ident.*/\\5/p" "$sw" | head -1)"
  "identification firmware|mapd.type==21|mapd.link.fw_version|$(sed -nE "s/.*$ident.*/\\6/p" "$sw" | head -1)"
  "identification reason|mapd.type==21|mapd.link.discovery_reason|$(sed -nE "s/.*$ident.*/\\7/p" "$sw" | head -1)"
  "authentication MAC|mapd.type==34|mapd.link.auth_mac|$(pick "$sw" 'SWITCH_START_AUTHENTICATION \(34\), [0-9]+ bytes: MAC (\S+),')"
  "keepalive interval|mapd.type==2|mapd.link.keepalive_interval|$(pick "$sw" 'SWITCH_KEEPALIVE \(2\), [0-9]+ bytes: interval ([0-9]+)')"
  "configuration length|mapd.type==4|mapd.len|$(pick "$sw" 'SWITCH_CONFIG \(4\), ([0-9]+) bytes')"
  "configuration country|mapd.type==4|mapd.cfg.country|$(pick "$scen" '^ *country (\S+)')"
  "configuration radio channel|mapd.radio.id==1|mapd.radio.channel|$(pick "$scen" '^ *radio 1 .*channel=([0-9]+)')"
  "configuration radio power|mapd.radio.id==1|mapd.radio.tx_power|$(pick "$scen" '^ *radio 1 .*power=([0-9]+)')"
  "configuration radio stations|mapd.radio.id==1|mapd.radio.max_stations|$(pick "$scen" '^ *radio 1 .*max-stations=([0-9]+)')"
  "configuration VAP 1/0 SSID|mapd.type==4|mapd.vap.ssid|$(pick "$scen" '^ *vap 1 0 ssid=(\S+)'),$(pick "$scen" '^ *vap 1 1 ssid=(\S+)')"
  "configuration VAP VLANs|mapd.type==4|mapd.vap.vlan|$(pick "$scen" '^ *vap 1 0 .*vlan=([0-9]+)'),$(pick "$scen" '^ *vap 1 1 .*vlan=([0-9]+)')"
  "configuration WPA keys|mapd.type==4|mapd.vap.wpa_key|$(pick "$scen" '^ *vap 1 0 .*key=(\S+)'),$(pick "$scen" '^ *vap 1 1 .*key=(\S+)')"
  "configuration status (1 = success)|mapd.type==5|mapd.cfg.status|$(pick "$sw" 'SWITCH_CONFIG_STATUS \(5\), 9 bytes: (success)' | sed 's/success/1/')"
  "statistics interval|mapd.type==6|mapd.stats.interval|$(pick "$sw" 'SWITCH_STATUS_INT \(6\), [0-9]+ bytes: AP \S+, interval ([0-9]+) s')"
  "statistics length|mapd.type==7|mapd.len|$(pick "$sw" 'SWITCH_STATS \(7\), ([0-9]+) bytes')"
  "statistics AP MAC|mapd.type==7|mapd.stats.ap_mac|$(pick "$sw" 'SWITCH_STATS \(7\), [0-9]+ bytes: AP ([^,]*),')"
  "statistics uptime|mapd.type==7|mapd.stats.global.uptime|$(sed -E 's/uptime=([0-9]+).*/\1/' <<< "$g")"
  "statistics wireless rx bytes (64-bit)|mapd.type==7|mapd.stats.global.wireless_rx_bytes|$(sed -E 's/.*wl_rx_bytes=//' <<< "$g")"
  "statistics radio MAC|mapd.type==7|mapd.stats.radio.mac|$(sed -nE "s/.*$stats_radio.*/\\1/p" "$sw" | head -1)"
  "statistics radio channel|mapd.type==7|mapd.stats.radio.channel|$(sed -nE "s/.*$stats_radio.*/\\2/p" "$sw" | head -1)"
  "statistics radio power|mapd.type==7|mapd.stats.radio.tx_power|$(sed -nE "s/.*$stats_radio.*/\\3/p" "$sw" | head -1)"
  "statistics radio rx bytes|mapd.type==7|mapd.stats.radio.rx_bytes|$(sed -nE "s/.*$stats_radio.*/\\4/p" "$sw" | head -1)"
  "statistics radio fragments|mapd.type==7|mapd.stats.radio.transmitted_fragments|$(sed -nE "s/.*$stats_radio.*/\\5/p" "$sw" | head -1)"
  "statistics radio WEP undecryptable|mapd.type==7|mapd.stats.radio.wep_undecryptable|$(sed -nE "s/.*$stats_radio.*/\\6/p" "$sw" | head -1)"
  "statistics VAP rx bytes|mapd.type==7|mapd.stats.vap.rx_bytes|$(sed -nE 's/.*vap \(0x2105\): radio=1 vap=[01] .* rx_bytes=([0-9]+) .*/\1/p' "$sw" | head -2 | paste -sd,)"
  "relayed association: client|mapd.type==96|mapd.client.client|$(sed -nE "s/.*$assoc_req.*/\\3/p" "$sw" | head -1)"
  "relayed association: VAP|mapd.type==96|mapd.client.vap|$(sed -nE "s/.*$assoc_req.*/\\2/p" "$sw" | head -1)"
  "relayed association: AP|mapd.type==96|mapd.client.ap|$(sed -nE "s/.*$assoc_req.*/\\1/p" "$sw" | head -1)"
  "relayed association: SSID|mapd.type==96|mapd.client.ssid|$(sed -nE "s/.*$assoc_req.*/\\5/p" "$sw" | head -1)"
  "association reply VLAN|mapd.type==97|mapd.client.vlan|$rep_vlan"
  "local association request|mapd.local.type==17|mapd.local.name|$(pick "$ap" 'hostapd -> (\S+) \(')"
  "local association: client|mapd.local.type==17|mapd.local.client_macaddr|$(sed -nE "s/.*$local_req.*/\\3/p" "$ap" | head -1)"
  "local association: VAP|mapd.local.type==17|mapd.local.vap_macaddr|$(sed -nE "s/.*$local_req.*/\\2/p" "$ap" | head -1)"
  "local association: radio|mapd.local.type==17|mapd.local.radio_if|$(sed -nE "s/.*$local_req.*/\\4/p" "$ap" | head -1)"
  "local association: SSID|mapd.local.type==17|mapd.local.ssid|$(sed -nE "s/.*$local_req.*/\\5/p" "$ap" | head -1)"
  "local association reply VLAN (host order)|mapd.local.type==18|mapd.local.vlan_id|$rep_vlan"
  "local association reply reauth (host order)|mapd.local.type==18|mapd.local.reaut_interval|$(sed -nE "s/.*$local_rep.*/\\1/p" "$ap" | head -1)"
)
for row in "${rows[@]}"; do
  IFS='|' read -r what filter field want <<< "$row"
  [ -n "$want" ] || { fail "$what: no value in the logs"; continue; }
  expect "$what" "$(first "$filter" "$field")" "$want"
done

# ---- without the key log the TLS payload stays opaque --------------------------
plain=$(ts "$cap/mapd.pcapng" -Y 'mapd && tcp' -e frame.number | wc -l)
udp=$(ts "$cap/mapd.pcapng" -Y 'mapd && udp.port==57776' -e frame.number | wc -l)
tls=$(ts "$cap/mapd.pcapng" -Y 'tls.app_data' -e frame.number | wc -l)
if [ "$plain" -eq 0 ] && [ "$udp" -gt 0 ] && [ "$tls" -gt 0 ]; then
  echo "ok:   without the key log: $tls TLS records opaque, $udp UDP messages decoded"
else
  fail "without the key log: $plain TLS frames decoded (want 0), $udp UDP (want >0), $tls TLS records"
fi

# ---- hand-made frames: text2pcap hex, one frame a paragraph ---------------------
# Layer 2: four bytes, the wireless marker 1, a discover with the switch's IP element.
printf '0000 00 00 00 00 00 01 00 01 00 1f 00 01 00 01 01 01 00 00 12 00 00 00 00 00 00\n0019 00 00 00 00 00 00 00 0a 01 02 03 18\n' > "$tmp/l2.txt"
t2p -e 0x88e8 "$tmp/l2.txt" "$tmp/l2.pcap"
expect "layer 2: discover type, device, IP, prefix" \
  "$(ts "$tmp/l2.pcap" -e mapd.l2.wireless -e mapd.type_name -e mapd.link.device_type -e mapd.link.ip -e mapd.link.ip.prefix | tr '\t' ' ')" \
  "1 SWITCH_DISCOVER 1 10.1.2.3 24"
# A TCP stream: keepalive ack and the head of a statistics interval message,
# then its tail and an authentication request.
printf '0000 00 19 00 04 00 06 00 14 00 21\n\n0000 00 06 00 1a 2b 3c 4d 50 21 01 00 02 00 1e 00 0f 00 04\n' > "$tmp/tcp.txt"
t2p -T 40000,57778 "$tmp/tcp.txt" "$tmp/tcp.pcap"
expect "messages across TCP segments" \
  "$(ts "$tmp/tcp.pcap" -d tcp.port==57778,mapd -e mapd.type -e mapd.stats.interval | tr '\t\n' '  ')" "25  6,15 30 "
# Malformed: short header, length past the end, length below the header, an
# element past the end, a short radio element, a short local record.
printf '%s\n\n' '0000 00 01' '0000 00 15 00 40 00 27 00 20 41 42' '0000 00 19 00 02' \
  '0000 00 07 00 0c 21 04 00 8b 01 02 03 04' '0000 00 04 00 0a 20 04 00 02 01 02' > "$tmp/bad.txt"
t2p -u 57776,57776 "$tmp/bad.txt" "$tmp/bad-udp.pcap"
printf '0000 11 00 1a 2b 3c 4d 50 00 1a\n' > "$tmp/bad-local.txt"
t2p -u 57774,57773 "$tmp/bad-local.txt" "$tmp/bad-local.pcap"
for p in bad-udp bad-local; do
  all=$(ts "$tmp/$p.pcap" -e frame.number | wc -l)
  marked=$(ts "$tmp/$p.pcap" -Y mapd.malformed -e frame.number | wc -l)
  if [ "$all" -gt 0 ] && [ "$all" -eq "$marked" ]; then echo "ok:   $p: $marked of $all frames marked malformed"
  else fail "$p: $marked of $all frames marked malformed"; fi
done
if grep -i 'lua' "$tmp/tshark.err" | grep -v 'Running as user'; then fail "tshark reported Lua errors"; fi
for p in l2 tcp bad-udp bad-local; do
  if tshark -n -X lua_script:"$LUA" -r "$tmp/$p.pcap" -d tcp.port==57778,mapd -V 2>&1 | grep -q 'Lua Error'; then
    fail "$p: a Lua error in the dissector"
  fi
done

[ "$fails" -eq 0 ] && echo "wireshark_test: all checks passed" && exit 0
echo "wireshark_test: $fails checks failed"; exit 1
