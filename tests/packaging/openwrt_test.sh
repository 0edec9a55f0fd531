#!/usr/bin/env bash
# The OpenWrt package without an OpenWrt tree: the init script (and the Debian
# maintainer scripts) pass shellcheck and, under a recording
# stand-in for procd, starts mapd as the AP needs; the feed Makefile's install
# step, run by a minimal stand-in of OpenWrt's make rules on this build's
# install tree, puts every file in place; DEPENDS names a package for every
# library the daemon links.
#   openwrt_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
pkg=$src/packaging/openwrt/mapd
init=$pkg/files/mapd.init
tmp=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$tmp"' EXIT
fails=0
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }

shellcheck -s sh "$init" "$src"/packaging/debian/{postinst,prerm,postrm} || fail "shellcheck"

# ---- the init script under a recording procd ----------------------------------
# Each case: what the database tool answers to get, load and init; whether
# mapd is started; whether the factory configuration is loaded.
cases=(
  "configured  0 0 0 started  -"
  "empty       1 0 0 started  load"
  "load-fails  1 1 0 refused  load"
  "init-fails  0 0 1 refused  -"
)
for row in "${cases[@]}"; do
  read -r name get load initrc want want_load <<<"$row"
  log=$tmp/$name.log
  : >"$log"
  # shellcheck disable=SC2016
  LOG=$log GET=$get LOAD=$load INIT=$initrc sh -c '
    . "$1"
    rec() { echo "$*" >>"$LOG"; }
    procd_open_instance() { rec open; }
    procd_set_param() { rec "param $*"; }
    procd_close_instance() { rec close; }
    logger() { rec "logger $*"; }
    dmanctl_stub() {
      rec "dmanctl $*"
      case $1 in get) return "$GET" ;; load) return "$LOAD" ;; *) return "$INIT" ;; esac
    }
    DMANCTL=dmanctl_stub
    start_service && rec "rc 0" || rec "rc $?"
  ' sh "$init"
  calls=$(cat "$log")
  if [ "$want" = started ]; then
    # The database is marked ready before the instance is opened.
    [ "$(grep -nx 'dmanctl init' "$log" | cut -d: -f1)" -lt "$(grep -nx open "$log" | cut -d: -f1)" ] ||
      fail "$name: mapd started before the database was ready: $calls"
    [ "$(sed -n 's/^param command //p' "$log")" = /usr/sbin/mapd ] ||
      fail "$name: command is not /usr/sbin/mapd without arguments: $calls"
    read -r threshold timeout retry extra < <(sed -n 's/^param respawn //p' "$log")
    [[ $threshold =~ ^[0-9]+$ && $timeout =~ ^[1-9][0-9]*$ && $retry == 0 && -z ${extra:-} ]] ||
      fail "$name: respawn is not forever, with a delay and a threshold: $calls"
    if ! grep -qx "param stdout 1" "$log" || ! grep -qx "param stderr 1" "$log"; then
      fail "$name: output not sent to the log: $calls"
    fi
  else
    if grep -qx "rc 0" "$log"; then fail "$name: start_service succeeded: $calls"; fi
    if grep -qx open "$log"; then fail "$name: mapd started without a ready database: $calls"; fi
    grep -q "^logger " "$log" || fail "$name: no log line for the refusal"
  fi
  loaded=$(sed -n 's/^dmanctl load //p' "$log")
  if [ "$want_load" = load ]; then
    factory=$loaded
    [ -n "$loaded" ] || fail "$name: the factory configuration is not loaded into an empty database"
  elif [ -n "$loaded" ]; then
    fail "$name: a configured database is overwritten with $loaded"
  fi
done

# ---- the feed Makefile's install step ---------------------------------------------
top=$tmp/openwrt
mkdir -p "$top/include" "$tmp/install" "$tmp/ipkg"
# shellcheck disable=SC2016  # make's variables, not the shell's
echo 'INCLUDE_DIR:=$(TOPDIR)/include' >"$top/rules.mk"
cat >"$top/include/package.mk" <<'EOF'
INSTALL_DIR:=install -d -m0755
INSTALL_BIN:=install -m0755
INSTALL_DATA:=install -m0644
CP:=cp -fpR
define BuildPackage
ipkg-install:
	$$(call Package/$(1)/install,$$(IPKG_DIR))
endef
EOF
: >"$top/include/cmake.mk"
DESTDIR=$tmp/install cmake --install "$build" --prefix /usr >/dev/null
make -s -C "$pkg" TOPDIR="$top" PKG_INSTALL_DIR="$tmp/install" IPKG_DIR="$tmp/ipkg" ipkg-install ||
  fail "the feed Makefile's install step"
for f in usr/sbin/mapd usr/bin/mapctl usr/bin/maptrace usr/bin/dmanctl etc/init.d/mapd; do
  [ -x "$tmp/ipkg/$f" ] || fail "the OpenWrt package lacks the program $f"
done
[ -f "$tmp/ipkg${factory:-/none}" ] || fail "the init script loads ${factory:-nothing}, which the package lacks"
cmp -s "$init" "$tmp/ipkg/etc/init.d/mapd" || fail "etc/init.d/mapd is not files/mapd.init"

# DEPENDS: an OpenWrt package for every library the daemon and tools link
# (the C library and libgcc come with the base system).
depends=$(sed -n 's/^[[:space:]]*DEPENDS:=//p' "$pkg/Makefile")
needed=$(for b in mapd mapctl maptrace dmanctl; do
  objdump -p "$tmp/ipkg/usr/$([ $b = mapd ] && echo sbin || echo bin)/$b" | awk '/NEEDED/ {print $2}'
done | sort -u)
for lib in $needed; do
  case $lib in
    libssl.so* | libcrypto.so*) want=libopenssl ;;
    libsqlite3.so*) want=libsqlite3 ;;
    libstdc++.so*) want=libstdcpp ;;
    libc.so* | libm.so* | libgcc_s.so* | ld-linux*) continue ;;
    # The sanitizer runtimes of an ASan build: no firmware ships those.
    libasan.so* | libubsan.so* | liblsan.so*) continue ;;
    *) fail "no OpenWrt package known for $lib"; continue ;;
  esac
  [[ " $depends " == *" +$want "* ]] || fail "DEPENDS ($depends) lacks +$want for $lib"
done

if [ "$fails" -ne 0 ]; then
  echo "openwrt_test: $fails failure(s)" >&2
  exit 1
fi
echo "openwrt_test: init script, install step and DEPENDS agree with the build"
