#!/usr/bin/env bash
# Thread sweep: Kelpo32's wall time at each KELPO32_THREADS value and with
# the variable unset (the default), against the floor, warm and cold.
#
#   bench/sweep.sh [--threads "1 2 4 8 16"] [--rounds R] [--cold-rounds C]
#                  [--kelpo32 PATH] TREE
#
#   --threads LIST   thread counts to time (default "1 2 4 8 16")
#   --rounds R       warm rounds (default 7); each round runs every command
#                    once, in an order that rotates from round to round, so
#                    load from elsewhere on the machine hits all alike
#   --cold-rounds C  cold rounds (default 3; 0 for none), the page cache
#                    dropped before every run (needs root)
#   --kelpo32 PATH   the binary (default build/posix/kelpo32)
#
# TREE is a tree made by bench/run.sh (or bench/gentree). Prints, per
# command, the median wall time warm and cold and its ratio to the floor,
# then which counts meet the targets: cold <= 0.45 and warm <= 0.65 times
# the floor, and one thread <= 1.05 times the floor warm.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
THREADS="1 2 4 8 16"
ROUNDS=7
COLD_ROUNDS=3
KELPO32=$ROOT/build/posix/kelpo32

while (($#)); do
    case $1 in
        --threads) THREADS=${2:?--threads needs a list}; shift ;;
        --rounds) ROUNDS=${2:?--rounds needs a number}; shift ;;
        --cold-rounds) COLD_ROUNDS=${2:?--cold-rounds needs a number}; shift ;;
        --kelpo32) KELPO32=${2:?--kelpo32 needs a path}; shift ;;
        -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        -*) echo "sweep.sh: unknown argument: $1" >&2; exit 2 ;;
        *) break ;;
    esac
    shift
done
(($# == 1)) || { echo "sweep.sh: one tree expected (see --help)" >&2; exit 2; }
TREE=$1
[[ -d $TREE ]] || { echo "sweep.sh: not a directory: $TREE" >&2; exit 2; }
[[ -x $KELPO32 ]] || { echo "sweep.sh: not executable: $KELPO32" >&2; exit 2; }
FLOOR=$ROOT/build/bench/floor
mkdir -p "$ROOT/build/bench"
cc -O2 -Wall -Wextra -o "$FLOOR" "$ROOT/bench/floor.c"

NAMES=(floor default)
for n in $THREADS; do NAMES+=("threads=$n"); done

run() { # run NAME: one run of the command, output discarded
    case $1 in
        floor) "$FLOOR" "$TREE" >/dev/null ;;
        default) env -u KELPO32_THREADS "$KELPO32" /N "$TREE" >/dev/null ;;
        threads=*) KELPO32_THREADS=${1#threads=} "$KELPO32" /N "$TREE" >/dev/null ;;
    esac
}

drop() { sync && echo 3 >/proc/sys/vm/drop_caches; }

TIMES=$(mktemp)
trap 'rm -f "$TIMES"' EXIT

# rounds KIND COUNT: times every command COUNT times, rotating the order.
rounds() {
    local kind=$1 count=$2 r i k n=${#NAMES[@]} t0 t1
    for ((r = 0; r < count; r++)); do
        for ((i = 0; i < n; i++)); do
            k=${NAMES[$(((i + r) % n))]}
            [[ $kind == cold ]] && drop
            t0=$(date +%s%N)
            run "$k" || { echo "sweep.sh: '$k' failed" >&2; exit 1; }
            t1=$(date +%s%N)
            printf '%s\t%s\t%s\n' "$kind" "$k" "$(((t1 - t0) / 1000))" >>"$TIMES"
        done
        echo "sweep: $kind round $((r + 1)) of $count done" >&2
    done
}

if ((COLD_ROUNDS > 0)) && ! drop 2>/dev/null; then
    echo "sweep: the page cache cannot be dropped here (needs root): no cold runs" >&2
    COLD_ROUNDS=0
fi
echo "Thread sweep on $TREE: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)," \
    "$ROUNDS warm rounds (after one warm-up), $COLD_ROUNDS cold rounds; medians of interleaved runs"
for k in "${NAMES[@]}"; do run "$k"; done # warm-up
rounds warm "$ROUNDS"
((COLD_ROUNDS > 0)) && rounds cold "$COLD_ROUNDS"

awk -F'\t' -v order="${NAMES[*]}" '
    function median(list,    v, n, i, j, t) {
        n = split(list, v, " ")
        for (i = 2; i <= n; i++)
            for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    { t[$1, $2] = t[$1, $2] " " $3 / 1e6 }
    END {
        n = split(order, names, " ")
        fw = median(t["warm", "floor"]); fc = (("cold", "floor") in t) ? median(t["cold", "floor"]) : 0
        printf "| %-12s | %8s | %7s | %8s | %7s |\n", "command", "warm (s)", "x floor", "cold (s)", "x floor"
        printf "|--------------|---------:|--------:|---------:|--------:|\n"
        for (i = 1; i <= n; i++) {
            c = names[i]; w = median(t["warm", c])
            if (fc) { k = median(t["cold", c]); cs = sprintf("%8.3f | %7.2f", k, k / fc) }
            else cs = sprintf("%8s | %7s", "-", "-")
            printf "| %-12s | %8.3f | %7.2f | %s |\n", c, w, w / fw, cs
            if (c ~ /^threads=/) {
                ok = w / fw <= 0.65 && (!fc || median(t["cold", c]) / fc <= 0.45)
                if (ok) meets = meets " " substr(c, 9)
            }
        }
        one = ("warm", "threads=1") in t ? median(t["warm", "threads=1"]) / fw : 0
        printf "\nMeet cold <= 0.45x and warm <= 0.65x:%s\n", meets == "" ? " none" : meets
        if (one) printf "One thread warm: %.2fx the floor (target <= 1.05x)\n", one
    }' "$TIMES"
