#!/usr/bin/env bash
# Times whole kelvo runs (process start to exit, a fresh process each time) with the offline
# model client on a sample data center, and prints their medians and peak memory:
#   analyse  - kelvo -s sh.600519 --force with the market brief already cached on disk: bars,
#              indicator status, combined pre-screen, prompt, report, summary, storage, flush
#   etf      - the same for a fund (510050)
#   skip     - the report already exists: the run stops after the storage check
# Targets: analyse under 150 ms median, peak resident memory under 64 MB, on two cores.
# Usage: bench/kelvo/bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-30}
KELVO="$BUILD/kelvo"
SAMPLE="$BUILD/candlex-sample"
DAY=2024-05-10
for exe in "$KELVO" "$SAMPLE"; do
  [ -x "$exe" ] || { echo "bench: $exe not built (cmake --build $BUILD)" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
"$SAMPLE" --out "$WORK/center" --through 2024-06-28 >/dev/null 2>&1

export CANDLEX_CENTER="$WORK/center" REPORT_DIR="$WORK/report" LLM_CLIENT_TYPE=offline
unset ZORVANE_SUMORA_DIR KAFKA_BOOTSTRAP_SERVERS
cd "$WORK"

# median NAME COMMAND: median, min and max wall time of COMMAND over RUNS runs, and the largest
# peak resident set size seen (GNU time).
median() {
  local name=$1 cmd=$2 times=() rss=0 i t0 t1 r
  for ((i = 0; i < RUNS; i++)); do
    t0=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$WORK/rss" $cmd >/dev/null 2>&1
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000)))
    r=$(tail -n1 "$WORK/rss")
    ((r > rss)) && rss=$r
  done
  printf '%s\n' "${times[@]}" | sort -n |
    awk -v n="$name" -v rss="$rss" '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2;
      printf "%-8s median %7.1f ms   min %7.1f ms   max %7.1f ms   peak RSS %5.1f MB   (%d runs)\n",
             n, m/1000, a[1]/1000, a[NR]/1000, rss/1024, NR}'
}

# Untimed runs that prime the brief cache (and fail loudly when kelvo cannot run at all).
for code in sh.600519 510050; do
  "$KELVO" -s "$code" -t "$DAY" 2>"$WORK/first.err" >/dev/null || { cat "$WORK/first.err" >&2; exit 1; }
done

median analyse "$KELVO -s sh.600519 -t $DAY --force"
median etf "$KELVO -s 510050 -t $DAY --force"
median skip "$KELVO -s sh.600519 -t $DAY"
