#!/usr/bin/env bash
# Every tool's --help is complete: it exits 0 and its text names every option
# and command the tool's argument parser knows, found in the parser's source
# (whole string literals "--name" / "-x", and the command names by the
# pattern of each parser's command table); -h prints the same; bad usage is
# one line on standard error and the tool's usage status.
#   tool_help_test.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }

# tool ~ parser sources ~ bad usage arguments ~ its exit status ~ perl patterns
# of the command names (each capturing the name), ";;" between patterns
rows=(
  'mapctl~tools/mapctl/mapctl.cpp~--bogus~2~^\s*\{"([a-z-]+)", [A-Z_]+;;strcmp\(argv\[i\], "([a-z-]+)"\)'
  'maptrace~tools/maptrace/maptrace.cpp~--bogus~2~'
  'dmanctl~tools/dmanctl/dmanctl.cpp~--bogus~2~^\s*\{"([a-z-]+)", '
  'apsim~sim/apsim/apsim_main.cpp sim/twin/local_msg.cpp~--bogus~2~cmd == "([a-z-]+)";;\{"(?:client|tspec)", "([a-z-]+)"'
  'swsim~sim/swsim/swsim_main.cpp~--bogus~2~strcmp\(argv\[1\], "([a-z-]+)"\)'
  'mapd-soak~sim/soak/soak_main.cpp~--bogus~64~'
  'mapd-twin~sim/twin/mapd_twin_main.cpp~one two~64~'
)
# A name in the text, not as part of a longer name.
names_in() {
  local text=$1 what=$2 name
  shift 2
  for name in "$@"; do
    grep -qE -- "(^|[^A-Za-z0-9-])${name}(\$|[^A-Za-z0-9-])" <<<"$text" ||
      fail "$tool --help does not name the $what $name"
  done
}
for row in "${rows[@]}"; do
  IFS='~' read -r tool sources bad bad_status cmd_patterns <<<"$row"
  files=()
  for f in $sources; do files+=("$src/$f"); done
  help=$("$bin/$tool" --help 2>"$tmp/err") || { fail "$tool --help exits $?"; continue; }
  [[ $help == usage:* ]] || fail "$tool --help does not start with usage:"
  if [ -s "$tmp/err" ]; then fail "$tool --help writes to standard error"; fi
  [ "$("$bin/$tool" -h 2>/dev/null)" = "$help" ] || fail "$tool -h differs from --help"

  mapfile -t options < <(perl -ne 'print "$1\n" while /"(--?[a-z][a-z0-9-]*)"/g' "${files[@]}" | sort -u)
  [ ${#options[@]} -gt 0 ] || fail "$tool: no options found in its parser"
  names_in "$help" option "${options[@]}"
  if [ -n "$cmd_patterns" ]; then
    mapfile -t commands < <(PATTERNS=$cmd_patterns perl -ne '
      for my $p (split /;;/, $ENV{PATTERNS}) { print "$1\n" while /$p/g }' \
      "${files[@]}" | sort -u)
    [ ${#commands[@]} -gt 0 ] || fail "$tool: no commands found in its parser"
    names_in "$help" command "${commands[@]}"
  fi

  set +e
  # shellcheck disable=SC2086  # the bad arguments are words
  "$bin/$tool" $bad >"$tmp/out" 2>"$tmp/err"
  status=$?
  set -e
  [ "$status" -eq "$bad_status" ] || fail "$tool $bad exits $status, not $bad_status"
  [ ! -s "$tmp/out" ] || fail "$tool $bad writes to standard output"
  [ "$(wc -l <"$tmp/err")" -eq 1 ] || fail "$tool $bad: not one line on standard error: $(cat "$tmp/err")"
done
if [ "$fails" -ne 0 ]; then
  echo "tool_help_test: $fails failure(s)" >&2
  exit 1
fi
echo "tool_help_test: ${#rows[@]} tools, every parsed option and command in --help"
