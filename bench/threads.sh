#!/usr/bin/env bash
# Thread table: Kelpo32's default thread count (one per processor, more while
# listings wait on the disk) beside 1, 2 and 8 fixed threads (KELPO32_THREADS),
# against the floor, on the generated trees of 100,000 and 1,000,000 entries.
#
#   bench/threads.sh [--quick] [--rounds R] [--cold-rounds C] [--work DIR]
#                    [--kelpo32 PATH]
#
#   --quick          only the 100,000-entry tree
#   --rounds R       warm rounds (default 7), after one warm-up round
#   --cold-rounds C  cold rounds (default 5; 0 for none), the page cache
#                    dropped before every run (needs root)
#   --work DIR       where the trees live (default $KELPO32_BENCH_DIR or
#                    /var/tmp/kelpo32-bench, shared with bench/run.sh)
#   --kelpo32 PATH   the binary (default: build/posix/kelpo32, built here)
#
# Paired runs: each round runs every command once, in an order that rotates
# from round to round, so that load from elsewhere on the machine hits all
# alike. Printed per tree: the median wall time warm and cold, the median CPU
# time (user + system) warm, each with its ratio to the floor's, and the
# largest peak RSS of any run; then one line per tree in the form of the
# README's table, and the targets met or missed. On a busy machine the CPU
# ratios are the steadier ones. About two minutes with --quick, ten
# without, most of it the cold runs of the larger tree.
set -euo pipefail
unset KELPO32_THREADS

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=$ROOT/build/bench
WORK=${KELPO32_BENCH_DIR:-/var/tmp/kelpo32-bench}
QUICK=0
ROUNDS=7
COLD_ROUNDS=5
KELPO32=
SEED=1

while (($#)); do
    case $1 in
        --quick) QUICK=1 ;;
        --rounds) ROUNDS=${2:?--rounds needs a number}; shift ;;
        --cold-rounds) COLD_ROUNDS=${2:?--cold-rounds needs a number}; shift ;;
        --work) WORK=${2:?--work needs a directory}; shift ;;
        --kelpo32) KELPO32=${2:?--kelpo32 needs a path}; shift ;;
        -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "threads.sh: unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done
[[ $ROUNDS =~ ^[1-9][0-9]*$ && $COLD_ROUNDS =~ ^[0-9]+$ ]] ||
    { echo "threads.sh: --rounds takes a positive number, --cold-rounds a number" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "threads.sh: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }

mkdir -p "$WORK" "$BIN"
WORK=$(cd "$WORK" && pwd)
cc -O2 -Wall -Wextra -o "$BIN/floor" "$ROOT/bench/floor.c"
c++ -O2 -std=c++20 -Wall -Wextra -o "$BIN/gentree" "$ROOT/bench/gentree.cpp"
if [[ -z $KELPO32 ]]; then
    echo "== building kelpo32 (cmake --preset posix)" >&2
    (cd "$ROOT" && cmake --preset posix >/dev/null && cmake --build build/posix -j2 --target kelpo32 >/dev/null)
    KELPO32=$ROOT/build/posix/kelpo32
fi
[[ -x $KELPO32 ]] || { echo "threads.sh: not executable: $KELPO32" >&2; exit 1; }

# The trees of bench/run.sh, made the same way and reused while the
# generator is unchanged.
GEN_ID="gentree $(cksum <"$ROOT/bench/gentree.cpp" | cut -d' ' -f1) seed=$SEED"
make_tree() {
    local label=$1 entries=$2 dir=$WORK/tree-$1 stamp=$WORK/tree-$1.stamp info
    [[ -d $dir && -f $stamp && $(head -n1 "$stamp") == "$GEN_ID entries=$entries" ]] && return
    echo "== generating $entries entries in $dir" >&2
    rm -rf -- "$dir" "$dir.tmp" "$stamp"
    info=$("$BIN/gentree" --seed "$SEED" --entries "$entries" "$dir.tmp")
    mv -- "$dir.tmp" "$dir"
    printf '%s\n%s\n' "$GEN_ID entries=$entries" "$info" >"$stamp"
}
LABELS=(100k)
make_tree 100k 100000
if ((!QUICK)); then LABELS+=(1M); make_tree 1M 1000000; fi

drop() { sync && echo 3 2>/dev/null >/proc/sys/vm/drop_caches; }
if ((COLD_ROUNDS > 0)) && ! drop; then
    echo "threads.sh: the page cache cannot be dropped here (needs root): no cold runs" >&2
    COLD_ROUNDS=0
fi

NAMES=(floor threads=1 threads=2 threads=8 default)
# Every run's times are kept in the work directory.
TIMES=$WORK/threads-$(date -u +%Y%m%d-%H%M%S).tsv
: >"$TIMES"
USAGE=$(mktemp)
trap 'rm -f "$USAGE"' EXIT

# run NAME TREE: one run, output discarded; its CPU seconds and peak RSS
# (KiB) land in $USAGE.
# The thread count reaches the program through the shell's own environment,
# not through env(1): an extra program start would cost the small tree 1 %.
run() {
    case $1 in
        floor) /usr/bin/time -f "%U %S %M" -o "$USAGE" "$BIN/floor" "$2" >/dev/null ;;
        default) /usr/bin/time -f "%U %S %M" -o "$USAGE" "$KELPO32" /N "$2" >/dev/null ;;
        threads=*)
            KELPO32_THREADS=${1#threads=} /usr/bin/time -f "%U %S %M" -o "$USAGE" "$KELPO32" /N "$2" \
                >/dev/null
            ;;
    esac
}

# rounds LABEL KIND COUNT: every command COUNT times, the order rotating.
rounds() {
    local label=$1 kind=$2 count=$3 tree=$WORK/tree-$1 r i k n=${#NAMES[@]} t0 t1
    for ((r = 0; r < count; r++)); do
        for ((i = 0; i < n; i++)); do
            k=${NAMES[$(((i + r) % n))]}
            [[ $kind == cold ]] && drop
            t0=$(date +%s%N)
            run "$k" "$tree" || { echo "threads.sh: '$k' failed on $tree" >&2; exit 1; }
            t1=$(date +%s%N)
            read -r user sys rss <"$USAGE"
            printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$label" "$kind" "$k" "$(((t1 - t0) / 1000))" \
                "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$rss" >>"$TIMES"
        done
        echo "== $label: $kind round $((r + 1)) of $count done" >&2
    done
}

echo "Kelpo32 thread table: $(nproc) cores, $(df -T "$WORK" | awk 'NR == 2 { print $2 }') file system," \
    "Linux $(uname -r), $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg) at start;" \
    "$ROUNDS warm rounds after one warm-up, $COLD_ROUNDS cold rounds; medians of interleaved runs"
for label in "${LABELS[@]}"; do
    for k in "${NAMES[@]}"; do run "$k" "$WORK/tree-$label"; done # warm-up
    rounds "$label" warm "$ROUNDS"
    ((COLD_ROUNDS > 0)) && rounds "$label" cold "$COLD_ROUNDS"
done
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

awk -F'\t' -v order="${NAMES[*]}" -v labels="${LABELS[*]}" '
    function median(list,    v, n, i, j, t) {
        n = split(list, v, " ")
        for (i = 2; i <= n; i++)
            for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    function ratio(l, kind, c) { return ((l, kind, c) in t) ? median(t[l, kind, c]) / median(t[l, kind, "floor"]) : -1 }
    function show(r) { return r < 0 ? "-" : sprintf("%.2fx", r) }
    {
        t[$1, $2, $3] = t[$1, $2, $3] " " $4 / 1e6
        if ($2 == "warm") cpu[$1, $3] = cpu[$1, $3] " " $5
        if ($6 + 0 > rss[$1, $3] + 0) rss[$1, $3] = $6
    }
    END {
        n = split(order, names, " "); m = split(labels, trees, " ")
        for (j = 1; j <= m; j++) {
            l = trees[j]
            printf "\nTree %s:\n\n", l
            printf "| %-10s | %8s | %7s | %8s | %7s | %7s | %7s | %8s |\n", "command", "warm (s)", "x floor",
                "cold (s)", "x floor", "CPU (s)", "x floor", "RSS (MiB)"
            printf "|------------|---------:|--------:|---------:|--------:|--------:|--------:|---------:|\n"
            fc = median(cpu[l, "floor"])
            for (i = 1; i <= n; i++) {
                c = names[i]; w = median(t[l, "warm", c]); u = median(cpu[l, c])
                k = ((l, "cold", c) in t) ? sprintf("%8.3f", median(t[l, "cold", c])) : sprintf("%8s", "-")
                printf "| %-10s | %8.3f | %7s | %s | %7s | %7.3f | %7s | %8.1f |\n", c, w, show(ratio(l, "warm", c)),
                    k, show(ratio(l, "cold", c)), u, (fc > 0 ? sprintf("%.2fx", u / fc) : "-"), rss[l, c] / 1024
            }
        }
        printf "\n| tree | 1 thread warm / cold | 2 threads warm / cold | 8 threads warm / cold | default warm / cold | default CPU |\n"
        printf "|---|---|---|---|---|---|\n"
        for (j = 1; j <= m; j++) {
            l = trees[j]; fc = median(cpu[l, "floor"])
            line = sprintf("| %s |", l)
            for (i = 2; i <= n; i++)
                line = line sprintf(" %s / %s |", show(ratio(l, "warm", names[i])), show(ratio(l, "cold", names[i])))
            printf "%s %s |\n", line, (fc > 0 ? sprintf("%.2fx", median(cpu[l, "default"]) / fc) : "-")
        }
        printf "\nTargets: default warm <= 0.60x, cold <= 0.35x, CPU <= 1.25x the floor; one thread <= 1.05x warm and cold;\n"
        printf "default within 5%% of the best fixed count; peak RSS <= 16 MiB.\n"
        for (j = 1; j <= m; j++) {
            l = trees[j]; miss = ""
            dw = ratio(l, "warm", "default"); dc = ratio(l, "cold", "default")
            du = median(cpu[l, "default"]) / median(cpu[l, "floor"])
            if (dw > 0.60) miss = miss " default-warm"
            if (dc > 0.35) miss = miss " default-cold"
            if (du > 1.25) miss = miss " default-CPU"
            if (ratio(l, "warm", "threads=1") > 1.05) miss = miss " one-thread-warm"
            if (ratio(l, "cold", "threads=1") > 1.05) miss = miss " one-thread-cold"
            for (kind = 1; kind <= 2; kind++) {
                kn = kind == 1 ? "warm" : "cold"; best = -1
                for (i = 2; i < n; i++) { r = ratio(l, kn, names[i]); if (r >= 0 && (best < 0 || r < best)) best = r }
                d = ratio(l, kn, "default")
                if (best > 0 && d > best * 1.05) miss = miss " default-vs-best-" kn
            }
            for (i = 1; i <= n; i++) if (rss[l, names[i]] > 16 * 1024) miss = miss " RSS-" names[i]
            printf "%s: %s\n", l, miss == "" ? "all met" : "missed:" miss
        }
    }' "$TIMES"
