#!/usr/bin/env bash
# The daily run against a slow model: a 50-stock watchlist in one kelvo process (--jobs 4)
# versus 50 single kelvo runs one after another, against a loopback model server that answers
# every request after 200 ms. Each repetition re-analyses everything (--force); the brief is
# cached on disk before timing, as on any day after the first run. Prints the medians and
# their ratio. Target: the watchlist run takes at most 1/3 of the 50 single runs.
# Usage: bench/watchlist/bench.sh [BUILD_DIR] [REPETITIONS]
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
REPS=${2:-3}
KELVO="$BUILD/kelvo"
SAMPLE="$BUILD/candlex-sample"
STUB="$BUILD/bench-tools/bench-model-stub"
DAY=2024-05-10
STOCKS=50
for exe in "$KELVO" "$SAMPLE" "$STUB"; do
  [ -x "$exe" ] || { echo "bench: $exe not built (cmake --build $BUILD --target benchmarks)" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/watchlist-bench-XXXXXX")
exec 3> >("$STUB" 200 >"$WORK/stub.url")
trap 'exec 3>&-; rm -rf "$WORK"' EXIT
for _ in $(seq 50); do [ -s "$WORK/stub.url" ] && break; sleep 0.1; done

# 50 A-share stocks: copies of one sample stock's bars under 50 codes.
"$SAMPLE" --out "$WORK/center" --through 2024-06-28 >/dev/null 2>&1
: >"$WORK/watchlist.txt"
for i in $(seq 0 $((STOCKS - 1))); do
  code=$(printf 'sh.6018%02d' "$i")
  cp "$WORK/center/daily/sh.600519.csv" "$WORK/center/daily/$code.csv"
  echo "$code" >>"$WORK/watchlist.txt"
done

export CANDLEX_CENTER="$WORK/center" REPORT_DIR="$WORK/report" LLM_CLIENT_TYPE=openai \
  OPENAI_BASE_URL=$(cat "$WORK/stub.url") OPENAI_API_KEY=bench OPENAI_MODEL=stub \
  LLM_MAX_RETRIES=0 ZORVANE_PROJECT_ROOT="$ROOT"
unset ZORVANE_SUMORA_DIR KAFKA_BOOTSTRAP_SERVERS NOTIFY_WEBHOOK_URL
cd "$WORK"
"$KELVO" -s sh.601800 -t "$DAY" >/dev/null 2>"$WORK/first.err" || { cat "$WORK/first.err" >&2; exit 1; }

ms() { echo $(($(date +%s%N) / 1000000)); }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print NR % 2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

list=() single=()
for ((r = 0; r < REPS; r++)); do
  t0=$(ms)
  "$KELVO" --watchlist watchlist.txt -t "$DAY" --force --jobs 4 >/dev/null 2>&1 || true
  list+=($(($(ms) - t0)))
  t0=$(ms)
  while read -r code; do
    "$KELVO" -s "$code" -t "$DAY" --force >/dev/null 2>&1
  done <watchlist.txt
  single+=($(($(ms) - t0)))
done
m_list=$(median "${list[@]}")
m_single=$(median "${single[@]}")
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "watchlist of $STOCKS (--jobs 4): median ${m_list} ms   runs: ${list[*]}"
echo "$STOCKS single runs:            median ${m_single} ms   runs: ${single[*]}"
awk -v a="$m_list" -v b="$m_single" 'BEGIN {printf "ratio: %.3f (target <= 0.333)\n", a / b}'
