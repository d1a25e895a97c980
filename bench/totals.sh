#!/usr/bin/env bash
# Cost of the layout of totals, the largest files and the exclusions against
# the plain report, on the 1,000,000-entry tree of bench/run.sh (made once
# and shared with it), next to du piped to sort and gdu.
#
#   bench/totals.sh [--rounds R] [--work DIR] [--kelpo32 PATH] [--entries N]
#
#   --rounds R      paired rounds (default 7): each runs every command once,
#                   in an order rotated from round to round, so a burst of
#                   load from elsewhere hits all commands alike
#   --work DIR      where the tree lives (default $KELPO32_BENCH_DIR or
#                   /var/tmp/kelpo32-bench)
#   --kelpo32 PATH  this binary instead of building build/posix/kelpo32
#   --entries N     another tree size (default 1000000)
#
# Output goes to /dev/null, the cache is warm (one unmeasured run of each
# command first). Printed per command: the median wall time, the median of
# each round's ratio to the plain report of the same round, the median CPU
# time (user + system) and its ratio, and the largest peak RSS of all rounds
# (from /usr/bin/time). Peak RSS is steady; wall time on a loaded machine is
# not: read the CPU ratio beside it.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=$ROOT/build/bench
WORK=${KELPO32_BENCH_DIR:-/var/tmp/kelpo32-bench}
ROUNDS=7
KELPO32=
ENTRIES=1000000
SEED=1

while (($#)); do
    case $1 in
        --rounds) ROUNDS=${2:?--rounds needs a number}; shift ;;
        --work) WORK=${2:?--work needs a directory}; shift ;;
        --kelpo32) KELPO32=${2:?--kelpo32 needs a path}; shift ;;
        --entries) ENTRIES=${2:?--entries needs a number}; shift ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "totals.sh: unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done
[[ $ROUNDS =~ ^[1-9][0-9]*$ && $ENTRIES =~ ^[1-9][0-9]*$ ]] ||
    { echo "totals.sh: --rounds and --entries take a positive number" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "totals.sh: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }

mkdir -p "$WORK" "$BIN"
WORK=$(cd "$WORK" && pwd)
if [[ -z $KELPO32 ]]; then
    (cd "$ROOT" && cmake --preset posix >/dev/null && cmake --build build/posix -j2 --target kelpo32 >/dev/null)
    KELPO32=$ROOT/build/posix/kelpo32
fi

# The tree as bench/run.sh makes and names it.
. "$ROOT/bench/tree.sh"
bench_tree "$ENTRIES"
label=$(basename "$tree" | sed "s/^tree-//")

k=$(printf '%q' "$KELPO32") t=$(printf '%q' "$tree")
# Ten patterns of the kind people exclude; few of them match generated names.
excl=""
for p in '*.o' '*.tmp' '*~' '.git' 'node_modules' '__pycache__' '*.swp' 'build' '[Tt]humbs.db' '*.bak'; do
    excl+=" --exclude=$(printf '%q' "$p")"
done
names=("plain report" "--sort=size" "--sort=size --top=10 --min-size=1M" "--largest-files=100"
       "--format=prometheus (3 levels)"
       "--exclude x10 (plain)" "--sort=size --human-readable --exclude x10" "du -h --max-depth=3 | sort -h" "gdu -n")
cmds=("$k /N $t" "$k /N --sort=size $t" "$k /N --sort=size --top=10 --min-size=1M $t"
      "$k /N --largest-files=100 $t" "$k --format=prometheus $t" "$k /N$excl $t" "$k /N --sort=size --human-readable$excl $t"
      "du -h --max-depth=3 $t | sort -h" "gdu -n -p -c $t")
n=${#cmds[@]}

# The totals must agree with the plain report before timing means anything.
plain=$("$KELPO32" /N "$tree" | sed -n 's/.*Total bytes: *//p' | tail -n1 | tr -cd '0-9')
sorted=$("$KELPO32" /N --sort=size "$tree" | sed -n '2p' | awk '{ print $(NF - 1) }' | tr -cd '0-9')
[[ $plain == "$sorted" ]] || echo "totals.sh: the sorted report's total $sorted is not the plain $plain" >&2

# The metrics form's file must stay small for a collector that reads it often.
echo "--format=prometheus writes $("$KELPO32" --format=prometheus "$tree" | wc -c) bytes" \
    "in $("$KELPO32" --format=prometheus "$tree" | grep -c '^kelpo32_directory_size_bytes') directories"

declare -A wall cpu rss
f=$(mktemp)
for ((j = 0; j < n; j++)); do eval "${cmds[$j]}" >/dev/null 2>&1 || true; done
for ((r = 0; r < ROUNDS; r++)); do
    for ((i = 0; i < n; i++)); do
        j=$(((i + r) % n))
        eval "/usr/bin/time -f '%e %U %S %M' -o $f sh -c $(printf '%q' "${cmds[$j]}") >/dev/null" 2>/dev/null || true
        read -r e u s m < <(tail -n1 "$f")
        wall[$r,$j]=$e cpu[$r,$j]=$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')
        ((${rss[$j]:-0} < m)) && rss[$j]=$m
    done
done
rm -f "$f"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "Tree ${tree##*/tree-}: $(sed -n '2p' "$stamp"); $ROUNDS paired rounds, warm, output to /dev/null;" \
    "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo
printf '| %-38s | %8s | %9s | %7s | %9s | %14s |\n' command "wall (s)" "x plain" "CPU (s)" "CPU x pl." "peak RSS (MiB)"
printf '|%s|%s|%s|%s|%s|%s|\n' "----------------------------------------" "---------:" "----------:" "--------:" "----------:" "---------------:"
for ((j = 0; j < n; j++)); do
    ws=() cs=() wr=() cr=()
    for ((r = 0; r < ROUNDS; r++)); do
        ws+=("${wall[$r,$j]}") cs+=("${cpu[$r,$j]}")
        wr+=("$(awk -v a="${wall[$r,$j]}" -v b="${wall[$r,0]}" 'BEGIN { print b ? a / b : 0 }')")
        cr+=("$(awk -v a="${cpu[$r,$j]}" -v b="${cpu[$r,0]}" 'BEGIN { print b ? a / b : 0 }')")
    done
    printf '| %-38s | %8.2f | %9.2f | %7.2f | %9.2f | %14.1f |\n' "${names[$j]}" "$(median "${ws[@]}")" \
        "$(median "${wr[@]}")" "$(median "${cs[@]}")" "$(median "${cr[@]}")" \
        "$(awk -v k="${rss[$j]}" 'BEGIN { print k / 1024 }')"
done
