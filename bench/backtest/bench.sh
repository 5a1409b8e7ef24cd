#!/usr/bin/env bash
# Times whole backtest runs (process start to exit, a fresh process each time, bars read and
# parsed cold) over 10,000 stored decisions on the sample market and prints their medians:
#   table - backtest --report-dir R (aggregate table)
#   json  - backtest --report-dir R --format json (every per-decision row as well)
# Target: at most 2 s median.
# Usage: bench/backtest/bench.sh [BUILD_DIR] [RUNS] [COUNT]
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-9}
COUNT=${3:-10000}
BACKTEST="$BUILD/backtest"
MAKER="$BUILD/bench/backtest-bench-data"
[ -x "$BACKTEST" ] || { echo "bench: $BACKTEST not built (cmake --build $BUILD --target backtest)" >&2; exit 1; }
[ -x "$MAKER" ] || cmake --build "$BUILD" --target backtest-bench-data >/dev/null

WORK=$(mktemp -d "${TMPDIR:-/tmp}/backtest-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
"$MAKER" "$WORK" "$COUNT" >/dev/null
export CANDLEX_CENTER="$WORK/center"
cd "$WORK"

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
      printf "%-6s median %8.1f ms   min %8.1f ms   max %8.1f ms   (%d runs)\n", n, m/1000, a[1]/1000, a[NR]/1000, NR}'
}

# One untimed run that fails loudly when the backtest cannot run at all, and shows the counts.
"$BACKTEST" --report-dir "$WORK/report" 2>"$WORK/first.err" | sed -n 2p || { cat "$WORK/first.err" >&2; exit 1; }
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
median table "$BACKTEST --report-dir $WORK/report"
median json "$BACKTEST --report-dir $WORK/report --format json"
