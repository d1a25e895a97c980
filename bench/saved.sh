#!/usr/bin/env bash
# Saved scans: reading a scan back (--from) and comparing with one
# (--compare) against walking the same tree warm.
#
#   bench/saved.sh [--work DIR] [--quick] [--runs N] [--kelpo32 PATH]
#
#   --work DIR     where the trees live (default $KELPO32_BENCH_DIR or
#                  /var/tmp/kelpo32-bench, shared with run.sh: its tree is
#                  reused when its stamp matches, else made the same way)
#   --quick        the 100,000-entry tree instead of the 1,000,000-entry one
#   --runs N       timed runs per command (default 5, after 2 warm-up runs)
#   --shapes       only the two extreme shapes below
#   --links        only the files of several links below
#   --against OLD  the shapes also with the build OLD (today's): each form
#                  run in pairs, OLD and this one in turn, --runs of each;
#                  prints the median of this one's time over OLD's
#
# Makes the tree's JSON Lines and ncdu exports, and an older scan in which
# the files of every tenth directory had other sizes (as JSON Lines and as an
# ncdu export). Times with hyperfine, output to /dev/null: the walk; --from
# of each export; --compare of the walk with each older scan; --compare of
# --from (JSON Lines) with the older JSON Lines. Prints the
# medians and the mean CPU time (user + system), their ratios to the walk,
# and each command's peak RSS
# (/usr/bin/time). On a machine shared with other work the medians move with
# its load: read the ratios, and run it twice.
#
# Then the two extreme shapes, as saved scans: a chain of 1,000,000
# directories one inside the other (an ncdu export of 15 MB) and a fan of
# 1,000,000 subdirectories of one directory, each as an ncdu export and as
# JSON Lines (the chain's JSON Lines at 10,000 deep: every line carries its
# whole path, so 1,000,000 deep would be a terabyte). Every form and the
# comparison of each with itself, output to /dev/null: seconds and peak
# RSS (/usr/bin/time), and whether the peak is within the target of 64 MiB;
# the script ends with status 1 when one is not. The chain's JSON Lines and
# TSV write every path whole (the square of the depth): they are stopped
# after 20 s, their peak RSS still the run's (and no time ratio).
#
# Then the files of several links in an ncdu export: 2,000,000 of them in
# one directory, each of 2 links (the other outside the export), and
# 1,000,000 pairs (a/dNNNN/fNNNN and b/dNNNN/fNNNN): seconds and peak RSS
# of reading each (the target: within 64 MiB), and their totals.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=${KELPO32_BENCH_DIR:-/var/tmp/kelpo32-bench}
LABEL=1M
ENTRIES=1000000
RUNS=5
KELPO32=$ROOT/build/posix/kelpo32
SEED=1
SHAPES_ONLY=0
LINKS_ONLY=0
AGAINST=
TARGET_MIB=64
while (($#)); do
    case $1 in
    --work) WORK=$2; shift 2 ;;
    --quick) LABEL=100k; ENTRIES=100000; shift ;;
    --runs) RUNS=$2; shift 2 ;;
    --kelpo32) KELPO32=$2; shift 2 ;;
    --shapes) SHAPES_ONLY=1; shift ;;
    --links) LINKS_ONLY=1; shift ;;
    --against) AGAINST=$2; shift 2 ;;
    *) echo "saved.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
mkdir -p "$WORK" "$ROOT/build/bench"
[[ -x $KELPO32 ]] || (cd "$ROOT" && cmake --preset posix >/dev/null && cmake --build build/posix -j2 --target kelpo32 >/dev/null)

shapes() {
    local dir=$WORK/shapes K="$KELPO32 --no-progress"
    mkdir -p "$dir"
    python3 - "$dir" <<'PY'
import os, sys
d = sys.argv[1]
def chain(path, n):
    if os.path.exists(path): return
    with open(path, "w") as f:
        f.write('[1,2,{},[{"name":"R"},' + '[{"name":"d"},' * (n - 1) + '[{"name":"d"}]'
                + ']' * (n - 1) + ']]')
chain(os.path.join(d, "chain.ncdu"), 1000000)
chain(os.path.join(d, "chain10k.ncdu"), 10000)
fan = os.path.join(d, "fan.ncdu")
if not os.path.exists(fan):
    with open(fan, "w") as f:
        f.write('[1,2,{},[{"name":"R"}' + "".join(',[{"name":"d%d"}]' % i for i in range(1000000))
                + ']]')
PY
    [[ -s $dir/fan.json ]] || $K --from="$dir/fan.ncdu" --format=json >"$dir/fan.json"
    [[ -s $dir/chain10k.json ]] || $K --from="$dir/chain10k.ncdu" --format=json >"$dir/chain10k.json"
    echo "shapes: $(du -h "$dir/chain.ncdu" | cut -f1) chain.ncdu, $(du -h "$dir/fan.ncdu" | cut -f1) fan.ncdu, $(du -h "$dir/fan.json" | cut -f1) fan.json, $(du -h "$dir/chain10k.json" | cut -f1) chain10k.json"
    printf '%-14s %-24s %9s %10s %8s %10s\n' source form seconds "peak MiB" target "x against"
    local src form secs kb over=0
    # One run: its seconds and peak KiB in $secs and $kb.
    run() {
        local bin=$1
        shift
        /usr/bin/time -o "$dir/time" -f '%e %M' timeout 20 "$bin" --no-progress "$@" \
            >/dev/null 2>&1 || true
        read -r secs kb < <(tail -n1 "$dir/time")
    }
    for src in chain.ncdu chain10k.json fan.ncdu fan.json; do
        for form in --format=text --format=windows --format=json --format=tsv --format=html \
            --format=prometheus --sort=size /V1 "--compare=$dir/$src"; do
            local ratio=- times=() olds=() peak=0 runs=1
            [[ -n $AGAINST ]] && runs=$RUNS
            for ((i = 0; i < runs; ++i)); do
                if [[ -n $AGAINST ]]; then
                    # shellcheck disable=SC2086
                    run "$AGAINST" --from="$dir/$src" $form
                    olds+=("$secs")
                fi
                # shellcheck disable=SC2086
                run "$KELPO32" --from="$dir/$src" $form
                times+=("$secs")
                ((kb > peak)) && peak=$kb
            done
            secs=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((${#times[@]} + 1) / 2))p")
            if [[ -n $AGAINST ]] && ! [[ $src == chain.ncdu && $form =~ json|tsv ]]; then
                ratio=$(python3 -c 'import statistics,sys; a,b=sys.argv[1].split(),sys.argv[2].split(); print("%.2f" % statistics.median(float(x)/max(float(y),0.01) for x,y in zip(a,b)))' "${times[*]}" "${olds[*]}")
            fi
            local met=met
            if ((peak > TARGET_MIB * 1024)); then met=missed; over=1; fi
            printf '%-14s %-24s %9s %10s %8s %10s\n' "$src" "${form/$dir\//}" "$secs" "$((peak / 1024))" "$met" "$ratio"
        done
    done
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
    return $over
}
links() {
    local dir=$WORK/shapes K="$KELPO32 --no-progress" src secs kb
    mkdir -p "$dir"
    python3 - "$dir" <<'PY'
import os, sys
d = sys.argv[1]
one = os.path.join(d, "links-one.ncdu")
if not os.path.exists(one):
    with open(one, "w") as f:
        f.write('[1,2,{},[{"name":"R","dev":1}')
        for i in range(2000000):
            f.write(',\n{"name":"f%07d","asize":1,"dsize":0,"ino":%d,"nlink":2}' % (i, i + 1))
        f.write("]]")
pairs = os.path.join(d, "links-pairs.ncdu")
if not os.path.exists(pairs):
    with open(pairs, "w") as f:
        f.write('[1,2,{},[{"name":"R","dev":1}')
        for top in ("a", "b"):
            f.write(',\n[{"name":"%s"}' % top)
            for n in range(1000):
                f.write(',\n[{"name":"d%04d"}' % n)
                for k in range(1000):
                    f.write(',\n{"name":"f%04d","asize":1,"dsize":0,"ino":%d,"nlink":2}'
                            % (k, n * 1000 + k + 1))
                f.write("]")
            f.write("]")
        f.write("]]")
PY
    printf '%-18s %9s %10s  %s\n' source seconds "peak MiB" "total bytes, files"
    for src in links-one.ncdu links-pairs.ncdu; do
        # shellcheck disable=SC2086 # $K is the program and an option
        /usr/bin/time -o "$dir/time" -f '%e %M' $K --from="$dir/$src" --format=tsv \
            >"$dir/links.tsv" 2>/dev/null || true
        read -r secs kb < <(tail -n1 "$dir/time")
        printf '%-18s %9s %10s  %s\n' "$src" "$secs" "$((kb / 1024))" \
            "$(tail -n1 "$dir/links.tsv" | cut -f1,2 | tr '\t' ' ')"
    done
}
if ((LINKS_ONLY)); then
    links
    exit 0
fi
if ((SHAPES_ONLY)); then
    shapes
    exit 0
fi

TREE=$WORK/tree-$LABEL
STAMP=$WORK/tree-$LABEL.stamp
GEN_ID="gentree $(cksum <"$ROOT/bench/gentree.cpp" | cut -d' ' -f1) seed=$SEED"
if ! [[ -d $TREE && -f $STAMP && $(head -n1 "$STAMP") == "$GEN_ID entries=$ENTRIES" ]]; then
    c++ -O2 -std=c++20 -o "$ROOT/build/bench/gentree" "$ROOT/bench/gentree.cpp"
    rm -rf -- "$TREE" "$TREE.tmp" "$STAMP"
    info=$("$ROOT/build/bench/gentree" --seed "$SEED" --entries "$ENTRIES" "$TREE.tmp")
    mv -- "$TREE.tmp" "$TREE"
    printf '%s\n%s\n' "$GEN_ID entries=$ENTRIES" "$info" >"$STAMP"
fi

OUT=$WORK/saved-$LABEL
mkdir -p "$OUT"
K="$KELPO32 --no-progress"
$K --format=json "$TREE" >"$OUT/scan.json"
$K --format=ncdu "$TREE" >"$OUT/scan.ncdu"
# The older scan: the files of every tenth directory twice as large.
python3 - "$OUT/scan.ncdu" "$OUT/old.ncdu" <<'PY'
import re, sys
dirs = 0
grow = False
with open(sys.argv[1], "rb") as src, open(sys.argv[2], "wb") as dst:
    for line in src:
        if line.startswith(b"[{") or line.startswith(b",\n[{") or b'[{"name"' in line[:12]:
            dirs += 1
            grow = dirs % 10 == 0
        elif grow:
            line = re.sub(rb'"asize":(\d+)', lambda m: b'"asize":%d' % (2 * int(m[1])), line)
        dst.write(line)
PY
# As the usual flow saves it: JSON Lines.
$K --from="$OUT/old.ncdu" --format=json >"$OUT/old.json"
echo "tree: $TREE ($(wc -l <"$OUT/scan.json") directories; exports: JSON Lines $(du -h "$OUT/scan.json" | cut -f1), ncdu $(du -h "$OUT/scan.ncdu" | cut -f1))"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

hyperfine --warmup 2 --runs "$RUNS" --export-json "$OUT/times.json" -N \
    -n walk "$K $TREE" \
    -n from-json "$K --from=$OUT/scan.json" \
    -n from-ncdu "$K --from=$OUT/scan.ncdu" \
    -n compare "$K --compare=$OUT/old.json $TREE" \
    -n compare-ncdu "$K --compare=$OUT/old.ncdu $TREE" \
    -n compare-from "$K --compare=$OUT/old.json --from=$OUT/scan.json" >"$OUT/hyperfine.txt"

python3 - "$OUT/times.json" <<'PY'
import json, statistics, sys
results = json.load(open(sys.argv[1]))["results"]
base = statistics.median(results[0]["times"])
cpu = results[0]["user"] + results[0]["system"]
print("%-14s %10s %8s %10s %8s" % ("command", "median s", "x walk", "CPU s", "x walk"))
for r in results:
    m = statistics.median(r["times"])
    c = r["user"] + r["system"]
    print("%-14s %10.3f %8.2f %10.3f %8.2f" % (r["command"], m, m / base, c, c / cpu))
PY
for cmd in "$TREE" "--from=$OUT/scan.json" "--from=$OUT/scan.ncdu" "--compare=$OUT/old.json $TREE" \
    "--compare=$OUT/old.ncdu $TREE"; do
    # shellcheck disable=SC2086
    rss=$(/usr/bin/time -f %M $K $cmd 2>&1 >/dev/null | tail -n1)
    echo "peak RSS $((rss / 1024)) MiB: kelpo32 $cmd"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
shapes
links
