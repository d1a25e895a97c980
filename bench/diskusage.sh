#!/usr/bin/env bash
# Disk usage as du counts it: every directory's total of --disk-usage beside
# du -B1's, on a copy of a real tree (default /usr/share) and on the
# 1,000,000-entry tree of bench/run.sh (made once and shared with it); then
# what counting directories' own blocks costs, in paired runs against a
# build from before it.
#
#   bench/diskusage.sh [--rounds R] [--work DIR] [--kelpo32 PATH]
#                      [--before PATH] [--copy DIR] [--entries N]
#
#   --rounds R      paired rounds (default 11): each runs both builds once,
#                   in an order that alternates from round to round
#   --work DIR      where the trees live (default $KELPO32_BENCH_DIR or
#                   /var/tmp/kelpo32-bench)
#   --kelpo32 PATH  this binary instead of building build/posix/kelpo32
#   --before PATH   the build to compare with; without it only the
#                   comparison with du is made
#   --copy DIR      the real tree to copy (cp -a, once) and compare
#   --entries N     another size of the generated tree (default 1000000)
#
# Printed: per tree the directories compared and those whose total differs
# from du's (the first few named); per tree and size kind the median CPU
# time (user + system) of each build and the median of each round's ratio,
# with the load average. Output goes to /dev/null, the cache is warm.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=$ROOT/build/bench
WORK=${KELPO32_BENCH_DIR:-/var/tmp/kelpo32-bench}
ROUNDS=11
KELPO32=
BEFORE=
COPY=/usr/share
ENTRIES=1000000
SEED=1

while (($#)); do
    case $1 in
        --rounds) ROUNDS=${2:?--rounds needs a number}; shift ;;
        --work) WORK=${2:?--work needs a directory}; shift ;;
        --kelpo32) KELPO32=${2:?--kelpo32 needs a path}; shift ;;
        --before) BEFORE=${2:?--before needs a path}; shift ;;
        --copy) COPY=${2:?--copy needs a directory}; shift ;;
        --entries) ENTRIES=${2:?--entries needs a number}; shift ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "diskusage.sh: unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done
[[ $ROUNDS =~ ^[1-9][0-9]*$ && $ENTRIES =~ ^[1-9][0-9]*$ ]] ||
    { echo "diskusage.sh: --rounds and --entries take a positive number" >&2; exit 2; }

mkdir -p "$WORK" "$BIN"
WORK=$(cd "$WORK" && pwd)
if [[ -z $KELPO32 ]]; then
    (cd "$ROOT" && cmake --preset posix >/dev/null && cmake --build build/posix -j2 --target kelpo32 >/dev/null)
    KELPO32=$ROOT/build/posix/kelpo32
fi

# The tree as bench/run.sh makes and names it.
. "$ROOT/bench/tree.sh"
bench_tree "$ENTRIES"
copy=$WORK/copy-$(basename "$COPY")
if ! [[ -d $copy ]]; then
    echo "== copying $COPY to $copy" >&2
    rm -rf -- "$copy.tmp"
    cp -a -- "$COPY" "$copy.tmp"
    mv -- "$copy.tmp" "$copy"
fi

# Every directory's total beside du's, by path. du's order may count a file
# linked from two directories in another of them: such differences are
# named with the rest.
compare() {
    local t=$1 ours theirs
    ours=$(mktemp) theirs=$(mktemp)
    "$KELPO32" --disk-usage --format=tsv "$t" | awk -F'\t' '{ print $5 "\t" $1 }' | sort >"$ours"
    du -B1 "$t" | awk -F'\t' '{ print $2 "\t" $1 }' | sort >"$theirs"
    echo "$(basename "$t"): $(wc -l <"$theirs") directories by du, $(wc -l <"$ours") by kelpo32," \
        "$(comm -3 "$ours" "$theirs" | cut -f1 | sort -u | grep -c . || true) whose total differs"
    comm -3 "$ours" "$theirs" | head -n 6
    rm -f -- "$ours" "$theirs"
}
compare "$copy"
compare "$tree"
[[ -n $BEFORE ]] || exit 0

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cpu_of() { # cpu_of BINARY ARGS...: CPU seconds of one run, to the microsecond
    python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.6f" % (r.ru_utime + r.ru_stime))' "$@"
}
echo
echo "Paired CPU time (user + system), $ROUNDS rounds, warm, output to /dev/null; $(nproc) cores"
printf '| %-14s | %-16s | %10s | %10s | %8s |\n' tree kind "before (s)" "after (s)" "ratio"
printf '|%s|%s|%s|%s|%s|\n' "----------------" "------------------" "-----------:" "-----------:" "---------:"
for t in "$copy" "$tree"; do
    for kind in "--disk-usage" "--apparent-size"; do
        before=() after=() ratio=()
        cpu_of "$BEFORE" /N "$kind" "$t" >/dev/null
        cpu_of "$KELPO32" /N "$kind" "$t" >/dev/null
        for ((r = 0; r < ROUNDS; r++)); do
            if ((r % 2)); then
                a=$(cpu_of "$KELPO32" /N "$kind" "$t") b=$(cpu_of "$BEFORE" /N "$kind" "$t")
            else
                b=$(cpu_of "$BEFORE" /N "$kind" "$t") a=$(cpu_of "$KELPO32" /N "$kind" "$t")
            fi
            before+=("$b") after+=("$a")
            ratio+=("$(awk -v a="$a" -v b="$b" 'BEGIN { print b ? a / b : 0 }')")
        done
        printf '| %-14s | %-16s | %10.3f | %10.3f | %8.4f |\n' "$(basename "$t")" "$kind" \
            "$(median "${before[@]}")" "$(median "${after[@]}")" "$(median "${ratio[@]}")"
    done
done
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
