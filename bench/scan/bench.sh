#!/usr/bin/env bash
# Times whole scan runs (process start to exit, a fresh process each time) over a 5,000-file
# data center and prints their medians:
#   radar     - scan --market A --selector radar (bars read and parsed cold in every process)
#   combined  - scan --market A --selector combined (a pattern scan per stock)
# Target for radar: under 5 s median on two cores.
# Usage: bench/scan/bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-5}
SCAN="$BUILD/scan"
MAKER="$BUILD/bench/scan-bench-center"
DAY=2024-06-28
[ -x "$SCAN" ] || { echo "bench: $SCAN not built (cmake --build $BUILD --target scan)" >&2; exit 1; }
[ -x "$MAKER" ] || cmake --build "$BUILD" --target scan-bench-center >/dev/null

WORK=$(mktemp -d "${TMPDIR:-/tmp}/scan-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
"$MAKER" "$WORK/center" 5000 "$DAY" >/dev/null
export CANDLEX_CENTER="$WORK/center"
cd "$WORK"

# median NAME COMMAND: prints the median wall time of COMMAND over RUNS runs.
median() {
  local name=$1 cmd=$2 times=() i t0 t1
  for ((i = 0; i < RUNS; i++)); do
    t0=$(date +%s%N)
    $cmd >/dev/null 2>&1
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n |
    awk -v n="$name" '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2;
      printf "%-9s median %8.1f ms   min %8.1f ms   max %8.1f ms   (%d runs)\n", n, m/1000, a[1]/1000, a[NR]/1000, NR}'
}

# One untimed run that fails loudly when the scan cannot run at all.
"$SCAN" --market A -t "$DAY" --selector radar >/dev/null 2>"$WORK/first.err" || { cat "$WORK/first.err" >&2; exit 1; }
median radar "$SCAN --market A -t $DAY --selector radar"
median combined "$SCAN --market A -t $DAY --selector combined --log-level ERROR"
