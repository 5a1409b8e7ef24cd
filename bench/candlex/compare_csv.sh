#!/usr/bin/env bash
# Pairs the daily-CSV benchmarks of this build with those of an older commit (built here from
# git) and prints every pair and the median ratio, this build / the older one:
#   BM_LoadCsv2000Rows  - open, read and parse a 2,000-row file
#   BM_ParseCsv2000Rows - parse the same text from memory
# Each benchmark value is itself the median of ten repetitions; the two builds alternate so
# that a change in the machine's speed hits both.
# Usage: bench/candlex/compare_csv.sh BASE_REV [BUILD_DIR] [PAIRS]
# The older build stays in ${TMPDIR:-/tmp}/csv-base-<commit> for the next run.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
REV=${1:?usage: bench/candlex/compare_csv.sh BASE_REV [BUILD_DIR] [PAIRS]}
BUILD=$(cd "${2:-$ROOT/build}" && pwd)
PAIRS=${3:-5}
SHA=$(git -C "$ROOT" rev-parse --short "$REV^{commit}")
BASE=${TMPDIR:-/tmp}/csv-base-$SHA
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

if [ ! -f "$BASE/src/CMakeLists.txt" ]; then
  rm -rf "$BASE"
  mkdir -p "$BASE/src"
  git -C "$ROOT" archive "$SHA" | tar -x -C "$BASE/src"
fi
echo "building candlex_csv_bench of $SHA in $BASE and of $BUILD" >&2
cmake -S "$BASE/src" -B "$BASE/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "${LAUNCHER[@]}" >/dev/null
cmake --build "$BASE/build" -j2 --target candlex_csv_bench >/dev/null
cmake --build "$BUILD" -j2 --target candlex_csv_bench >/dev/null

# "NAME MICROSECONDS" for each 2,000-row benchmark of one binary.
run() {
  "$1" --benchmark_filter='Csv2000Rows' 2>/dev/null |
    awk '/_median/ { name = $1; sub(/\/.*/, "", name); print name, $2 }'
}
value() { awk -v n="$1" '$1 == n { print $2 }' <<<"$2"; }
median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) }'; }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A ratios
for ((i = 1; i <= PAIRS; i++)); do
  base=$(run "$BASE/build/bench/candlex_csv_bench")
  this=$(run "$BUILD/bench/candlex_csv_bench")
  for name in BM_LoadCsv2000Rows BM_ParseCsv2000Rows; do
    b=$(value "$name" "$base")
    t=$(value "$name" "$this")
    [ -n "$b" ] && [ -n "$t" ] || { echo "bench: $name missing from a build" >&2; exit 1; }
    r=$(awk -v t="$t" -v b="$b" 'BEGIN { printf "%.3f", t / b }')
    printf '%-20s pair %d: %s %7s us, this build %7s us, ratio %s\n' "$name" "$i" "$SHA" "$b" "$t" "$r"
    ratios[$name]+="$r"$'\n'
  done
done
for name in BM_LoadCsv2000Rows BM_ParseCsv2000Rows; do
  printf '%-20s median ratio this build / %s: %s (%d pairs)\n' "$name" "$SHA" \
    "$(printf '%s' "${ratios[$name]}" | median)" "$PAIRS"
done
