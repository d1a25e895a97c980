#!/usr/bin/env bash
# The HTML page on the 1,000,000-entry bench tree: how big it is and how long
# a headless Chromium takes to lay it out.
#
#   bench/html.sh [--work DIR] [--kelpo32 PATH] [--runs N]
#
#   --work DIR      where the tree lives (default $KELPO32_BENCH_DIR or
#                   /var/tmp/kelpo32-bench, as bench/run.sh: a tree made by
#                   either is reused by the other)
#   --kelpo32 PATH  use this binary instead of building build/posix/kelpo32
#   --runs N        page loads, each in a fresh browser (default 5)
#
# Writes the page with --format=html, prints its size in bytes, the
# directories it shows and folds, and over the runs the median and the
# largest time from the start of navigation to the end of the page's first
# layout (the mark its script sets) and to the first frame drawn after it.
# Needs chromium, chromium-driver and python3-selenium.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=$ROOT/build/bench
WORK=${KELPO32_BENCH_DIR:-/var/tmp/kelpo32-bench}
KELPO32=
RUNS=5
SEED=1
ENTRIES=1000000
while (($#)); do
    case $1 in
    --work) WORK=$2; shift 2 ;;
    --kelpo32) KELPO32=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    *) echo "html.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
mkdir -p "$BIN" "$WORK"
say() { echo "== $*" >&2; }

if [[ -z $KELPO32 ]]; then
    say "building kelpo32 (cmake --preset posix)"
    (cd "$ROOT" && cmake --preset posix >/dev/null && cmake --build build/posix -j2 --target kelpo32 >/dev/null)
    KELPO32=$ROOT/build/posix/kelpo32
fi

# The tree, made as bench/run.sh makes it (same generator, seed, name, stamp).
c++ -O2 -std=c++20 -Wall -Wextra -o "$BIN/gentree" "$ROOT/bench/gentree.cpp"
GEN_ID="gentree $(cksum <"$ROOT/bench/gentree.cpp" | cut -d' ' -f1) seed=$SEED"
TREE=$WORK/tree-1M
STAMP=$WORK/tree-1M.stamp
if ! [[ -d $TREE && -f $STAMP && $(head -n1 "$STAMP") == "$GEN_ID entries=$ENTRIES" ]]; then
    say "generating $ENTRIES entries in $TREE"
    rm -rf -- "$TREE" "$TREE.tmp" "$STAMP"
    info=$("$BIN/gentree" --seed "$SEED" --entries "$ENTRIES" "$TREE.tmp")
    mv -- "$TREE.tmp" "$TREE"
    printf '%s\n%s\n' "$GEN_ID entries=$ENTRIES" "$info" >"$STAMP"
fi

PAGE=$WORK/tree-1M.html
say "writing the page"
start=$(date +%s.%N)
"$KELPO32" --no-progress --format=html "$TREE" >"$PAGE"
end=$(date +%s.%N)
echo "tree: $(sed -n 2p "$STAMP")"
echo "page: $(stat -c %s "$PAGE") bytes, written in $(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.2f", b - a}') s"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
say "loading it $RUNS times in headless Chromium"
/usr/bin/python3 "$ROOT/bench/html_timing.py" "$PAGE" "$RUNS"
