#!/usr/bin/env bash
# The Debian package as a person gets it: made by cpack from the build tree,
# unpacked into a scratch root (never installed on this host), and its files
# run there.  mapd itself is never started: it would work on the AP's paths.
#   deb_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
debs=("$tmp"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then echo "FAIL: cpack made no single package" >&2; exit 1; fi
deb=${debs[0]}

# ---- control fields ---------------------------------------------------------
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ "$(dpkg-deb -f "$deb" Package)" = mapd ] || fail "package name $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version), project $version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libssl3 libsqlite3-0 libc6; do
  grep -qE "(^|, )${lib}( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

# ---- the files: exactly these, nothing of the twin, simulators or tests -------
expected="./etc/dman/factory-config.txt
./lib/systemd/system/mapd.service
./usr/bin/dmanctl
./usr/bin/mapctl
./usr/bin/maptrace
./usr/sbin/mapd"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
[ "$files" = "$expected" ] || fail "package files differ:
$(diff <(echo "$expected") <(echo "$files") || true)"
dpkg-deb -e "$deb" "$tmp/control"
grep -qx /etc/dman/factory-config.txt "$tmp/control/conffiles" || fail "factory configuration is no conffile"

root=$tmp/root
dpkg -x "$deb" "$root"

# ---- the binaries: stripped, only system libraries, the build's own ----------
for bin in usr/sbin/mapd usr/bin/mapctl usr/bin/maptrace usr/bin/dmanctl; do
  desc=$(file -b "$root/$bin")
  [[ $desc == ELF*executable* || $desc == ELF*shared\ object* ]] || fail "$bin is no executable: $desc"
  [[ $desc == *", stripped"* ]] || fail "$bin is not stripped: $desc"
  libs=$(ldd "$root/$bin")
  if grep -q "not found" <<<"$libs"; then fail "$bin: unresolved libraries: $libs"; fi
  while read -r path; do
    [[ $path == /lib/* || $path == /usr/lib/* || $path == /lib64/* ]] ||
      fail "$bin links $path, not a system library"
  done < <(awk '/=>/ {print $3} !/=>/ && $1 ~ /^\// {print $1}' <<<"$libs")
done
# The daemon in the package is the production build's mapd, stripped.
strip -o "$tmp/mapd.ref" "$build/bin/mapd"
cmp -s "$tmp/mapd.ref" "$root/usr/sbin/mapd" || fail "usr/sbin/mapd is not the build's bin/mapd"

# ---- the tools run from the scratch root ---------------------------------------
for tool in mapctl maptrace dmanctl; do
  out=$("$root/usr/bin/$tool" --help 2>"$tmp/err") || fail "$tool --help exits $?"
  [[ $out == "usage: $tool "* ]] || fail "$tool --help prints no usage: ${out:0:80}"
  if [ -s "$tmp/err" ]; then fail "$tool --help writes to standard error: $(cat "$tmp/err")"; fi
done
# The packaged factory configuration loads with the packaged dmanctl, as the
# unit does before the first start (on a sandbox root, not this host's /etc).
ap=$tmp/ap
mkdir -p "$ap"
dmanctl=$root/usr/bin/dmanctl
"$dmanctl" --root "$ap" load "$root/etc/dman/factory-config.txt" || fail "dmanctl load of the factory configuration"
"$dmanctl" --root "$ap" init || fail "dmanctl init"
[ "$("$dmanctl" --root "$ap" get system platform)" = QX_WAP_2R ] || fail "factory configuration not loaded"
[ -f "$ap/var/run/dman.pid" ] || fail "dmanctl init left no dman.pid"

# ---- the systemd unit ------------------------------------------------------------
unit=$root/lib/systemd/system/mapd.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[ "$exec_start" = /usr/sbin/mapd ] || fail "ExecStart is '$exec_start', not /usr/sbin/mapd without arguments"
grep -qx 'Restart=always' "$unit" || fail "the unit does not restart mapd whenever it ends"
grep -qE '^RestartSec=[1-9][0-9]*s?$' "$unit" || fail "no RestartSec"
grep -qx 'WantedBy=multi-user.target' "$unit" || fail "the unit is wanted by no target"
# Every program and file the unit names is in the package.
while read -r path; do
  [ -e "$root$path" ] || fail "the unit names $path, which the package lacks"
done < <(grep '^Exec' "$unit" | grep -oE '/(usr|etc)/[^ '"'"';|&]+' | sort -u)

size=$(stat -c %s "$deb")
mapd_size=$(stat -c %s "$root/usr/sbin/mapd")
if [ "$fails" -ne 0 ]; then
  echo "deb_test: $fails failure(s)" >&2
  exit 1
fi
echo "deb_test: $(basename "$deb") ($size bytes; stripped mapd $mapd_size bytes) unpacks and runs"
