# shellcheck shell=bash
# Shared by scripts/fuzz-smoke and scripts/fuzz-long (sourced; needs $src,
# the source root).
: "${src:?the sourcing script sets src, the source root}"

# fuzz_seed NAME WORK: fills WORK with target NAME's seed corpus and the
# crash inputs kept for it.
fuzz_seed() {
  local d
  mkdir -p "$2"
  for d in "$src/fuzz/corpus/$1" "$src/fuzz/regressions/$1"; do
    if [ -d "$d" ]; then cp -r "$d"/. "$2"/; fi
  done
}

# fuzz_run BIN SECONDS WORK LOG CRASHES [ARG...]: runs one libFuzzer target
# for SECONDS over WORK (new units land there), its output in LOG, a crash
# input in CRASHES/<target>-*; the target's status.
fuzz_run() {
  local bin=$1 seconds=$2 work=$3 log=$4 crashes=$5
  shift 5
  mkdir -p "$crashes"
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=1 \
         -artifact_prefix="$crashes/$(basename "$bin")-" -print_final_stats=1 "$@" "$work" \
         2>"$log"
}
