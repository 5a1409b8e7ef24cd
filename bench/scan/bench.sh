#!/usr/bin/env bash
# Times whole scan runs (process start to exit, a fresh process each time, files read cold in
# every process) over generated data centers under /tmp and prints medians of wall time and
# peak resident memory:
#   radar 5000x2000   - scan --market A --selector radar, 5,000 stocks of 2,000 bars
#                       (targets: 0.35 s, 150 MiB)
#   combined          - the same center with --selector combined (a pattern scan per stock)
#   500 vs 8000 bars  - radar over 1,000 stocks with 500-bar and with 8,000-bar files
#                       (target: at most 1.3x the time and the memory)
#   20000x2000        - radar over 20,000 stocks under `ulimit -v 2000000` (target: exit 0)
#   pandas peer       - bench/scan/peer_indicators.py over the 5,000-stock center; prints the
#                       ratio scan / peer. Installs python3-pandas with apt-get when missing.
# Usage: bench/scan/bench.sh [BUILD_DIR] [RUNS]
# Environment: SCAN_BENCH_BIG=0 skips the 20,000-stock case, SCAN_BENCH_PEER=0 the pandas
# peer; BASE_SCAN=/path/to/scan also times another scan binary (an older build) on each case.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-5}
SCAN="$BUILD/scan"
MAKER="$BUILD/bench/scan-bench-center"
DAY=2024-06-28
[ -x "$SCAN" ] || { echo "bench: $SCAN not built (cmake --build $BUILD --target scan)" >&2; exit 1; }
[ -x "$MAKER" ] || cmake --build "$BUILD" --target scan-bench-center >/dev/null

WORK=$(mktemp -d "${TMPDIR:-/tmp}/scan-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"

# center NAME COUNT BARS: (re)generates $WORK/NAME.
center() {
  rm -rf "${WORK:?}/$1"
  "$MAKER" "$WORK/$1" "$2" "$3" "$DAY" >/dev/null
}

# measure NAME CENTER COMMAND...: runs COMMAND RUNS times with CANDLEX_CENTER=CENTER, prints
# median wall time and median peak RSS, and leaves them in $WALL_MS and $RSS_MIB.
measure() {
  local name=$1 dir=$2 i t0 t1 walls=() rss=()
  shift 2
  for ((i = 0; i < RUNS; i++)); do
    t0=$(date +%s%N)
    CANDLEX_CENTER=$dir /usr/bin/time -f '%M' -o "$WORK/rss" "$@" >/dev/null 2>"$WORK/err" ||
      { echo "bench: $name failed:" >&2; cat "$WORK/err" >&2; exit 1; }
    t1=$(date +%s%N)
    walls+=($(((t1 - t0) / 1000)))
    rss+=($(tail -1 "$WORK/rss"))
  done
  WALL_MS=$(printf '%s\n' "${walls[@]}" | sort -n | awk '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2; printf "%.1f", m/1000}')
  RSS_MIB=$(printf '%s\n' "${rss[@]}" | sort -n | awk '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2; printf "%.1f", m/1024}')
  printf '%-28s median %9s ms  %7s MiB peak   (%d runs, load %s)\n' "$name" "$WALL_MS" "$RSS_MIB" "$RUNS" "$(cut -d' ' -f1 /proc/loadavg)"
}

radar() { echo "$1" --market A -t "$DAY" --selector radar; }

# Each binary under test: this build, and BASE_SCAN when given.
BINS=("$SCAN")
[ -n "${BASE_SCAN:-}" ] && BINS+=("$BASE_SCAN")
label() { [ "$1" = "$SCAN" ] && echo "" || echo " [base]"; }

center big2000 5000 2000
for bin in "${BINS[@]}"; do
  measure "radar 5000x2000$(label "$bin")" "$WORK/big2000" $(radar "$bin")
  [ "$bin" = "$SCAN" ] && SCAN_RADAR_MS=$WALL_MS
  measure "combined 5000x2000$(label "$bin")" "$WORK/big2000" "$bin" --market A -t "$DAY" \
    --selector combined --log-level ERROR
done

if [ "${SCAN_BENCH_PEER:-1}" != 0 ]; then
  PY=/usr/bin/python3
  if ! "$PY" -c 'import pandas' 2>/dev/null; then
    echo "installing python3-pandas for the peer script" >&2
    apt-get install -y -q python3-pandas >/dev/null 2>&1 ||
      { apt-get update -q >/dev/null 2>&1 && apt-get install -y -q python3-pandas >/dev/null 2>&1; }
  fi
  PEER_S=$("$PY" "$HERE/peer_indicators.py" "$WORK/big2000" "$DAY" | tail -1)
  awk -v p="$PEER_S" -v s="$SCAN_RADAR_MS" 'BEGIN {
    printf "pandas peer 5000x2000         %9.1f ms  (1 run); scan radar / peer = %.4f\n", p*1000, s/(p*1000) }'
fi
rm -rf "${WORK:?}/big2000"

for bin in "${BINS[@]}"; do
  center short 1000 500
  measure "radar 1000x500$(label "$bin")" "$WORK/short" $(radar "$bin")
  SHORT_MS=$WALL_MS SHORT_MIB=$RSS_MIB
  rm -rf "${WORK:?}/short"
  center long 1000 8000
  measure "radar 1000x8000$(label "$bin")" "$WORK/long" $(radar "$bin")
  rm -rf "${WORK:?}/long"
  awk -v a="$SHORT_MS" -v b="$WALL_MS" -v c="$SHORT_MIB" -v d="$RSS_MIB" -v l="$(label "$bin")" 'BEGIN {
    printf "8000 vs 500 bars%s: %.2fx the time, %.2fx the memory (target <= 1.3x)\n", l, b/a, d/c }'
done

if [ "${SCAN_BENCH_BIG:-1}" != 0 ]; then
  center huge 20000 2000
  for bin in "${BINS[@]}"; do
    t0=$(date +%s%N)
    set +e
    (ulimit -v 2000000 && CANDLEX_CENTER="$WORK/huge" /usr/bin/time -f '%M' -o "$WORK/rss" \
      "$bin" --market A -t "$DAY" --selector radar >/dev/null 2>"$WORK/err")
    status=$?
    set -e
    t1=$(date +%s%N)
    printf 'radar 20000x2000 ulimit -v 2000000%s: exit %d, %.1f ms, %.1f MiB peak\n' "$(label "$bin")" \
      "$status" "$(((t1 - t0) / 1000))e-3" "$(awk '{v=$1} END {print v/1024}' "$WORK/rss" 2>/dev/null || echo 0)"
    [ "$status" = 0 ] || tail -3 "$WORK/err"
  done
  rm -rf "${WORK:?}/huge"
fi
