#!/usr/bin/env bash
# Times whole tarsen runs (process start to exit) and prints their medians:
#   disk     - the brief is served from the disk cache (no model call)
#   cold     - no brief on disk: data blocks, core table, sentiment and the offline client
#   cold-us  - the same for the US market (no sentiment section)
#   cold-all - nothing cached at all (sentiment snapshots recomputed as well)
# Usage: bench/tarsen/bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-30}
TARSEN="$BUILD/tarsen"
SAMPLE="$BUILD/candlex-sample"
DAY=2024-05-10
for exe in "$TARSEN" "$SAMPLE"; do
  [ -x "$exe" ] || { echo "bench: $exe not built (cmake --build $BUILD)" >&2; exit 1; }
done

if ! command -v hyperfine >/dev/null 2>&1; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  echo "bench: installing hyperfine" >&2
  { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq hyperfine; } \
    >/dev/null 2>&1 || echo "bench: hyperfine unavailable, timing with a shell loop" >&2
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarsen-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
"$SAMPLE" --out "$WORK/center" --through 2024-06-28 >/dev/null 2>&1

export CANDLEX_CENTER="$WORK/center" REPORT_DIR="$WORK/report" LLM_CLIENT_TYPE=offline
unset ZORVANE_SUMORA_DIR KAFKA_BOOTSTRAP_SERVERS
cd "$WORK"

# median NAME PREPARE COMMAND: prints the median wall time of COMMAND (PREPARE runs before each).
median() {
  local name=$1 prepare=$2 cmd=$3
  if command -v hyperfine >/dev/null 2>&1; then
    local args=(-N --warmup 3 --runs "$RUNS" --export-json "$WORK/$name.json" --style none)
    [ -n "$prepare" ] && args+=(--prepare "$prepare")
    hyperfine "${args[@]}" "$cmd" >/dev/null 2>&1
    python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]; print("%-9s median %7.1f ms   mean %7.1f ms   min %7.1f ms   (%d runs)" % (sys.argv[2], r["median"]*1e3, r["mean"]*1e3, r["min"]*1e3, len(r["times"])))' "$WORK/$name.json" "$name"
  else
    local times=() i t0 t1
    for ((i = 0; i < RUNS; i++)); do
      [ -n "$prepare" ] && bash -c "$prepare"
      t0=$(date +%s%N); $cmd >/dev/null 2>&1; t1=$(date +%s%N)
      times+=($(((t1 - t0) / 1000)))
    done
    printf '%s\n' "${times[@]}" | sort -n |
      awk -v n="$name" '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2; printf "%-9s median %7.1f ms   (%d runs)\n", n, m/1000, NR}'
  fi
}

"$TARSEN" -m A -t "$DAY" >/dev/null 2>&1  # prime the disk cache and the sentiment snapshots
"$TARSEN" -m US -t "$DAY" >/dev/null 2>&1

median disk "" "$TARSEN -m A -t $DAY"
median cold "rm -f $WORK/report/sumoras/A_${DAY}_v4.md" "$TARSEN -m A -t $DAY"
median cold-us "rm -f $WORK/report/sumoras/US_${DAY}_v4.md" "$TARSEN -m US -t $DAY"
median cold-all "rm -rf $WORK/report" "$TARSEN -m A -t $DAY"
