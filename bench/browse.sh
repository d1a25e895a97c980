#!/usr/bin/env bash
# The browser on the 1,000,000-entry tree of bench/run.sh (made once and
# shared with it), beside ncdu and gdu: how long until the first screen of
# the tree shows, after the scan's progress, in a pseudo-terminal of 140x40;
# the peak RSS at that moment (VmHWM); and that the quit key ends it. Also the
# plain report (kelpo32 DIR, output to /dev/null), the time the browser's
# first screen is held to (at most 1.10 times it).
#
#   bench/browse.sh [--rounds R] [--work DIR] [--kelpo32 PATH] [--entries N]
#                   [--wait TEXT] [--quit KEY]
#
#   --rounds R      paired rounds (default 5): each runs every command once,
#                   in an order rotated from round to round, so a burst of
#                   load from elsewhere hits all commands alike
#   --work DIR      where the tree lives (default $KELPO32_BENCH_DIR or
#                   /var/tmp/kelpo32-bench)
#   --kelpo32 PATH  this binary instead of building build/posix/kelpo32
#   --entries N     another tree size (default 1000000)
#   --wait TEXT     what kelpo32 --browse shows once its first screen of the
#                   tree is drawn (not while it scans); without it kelpo32
#                   --browse is not measured
#   --quit KEY      kelpo32 --browse's quit key (default q)
#   --history DIR   also kelpo32 --browse --history=DIR (its walk recorded in
#                   DIR, the growth of DIR beside it), waited for the same way
#
# ncdu and gdu are waited for until their footer ("Apparent size:") shows,
# and quit with q. The cache is warm (one unmeasured run of each command
# first). Printed per command: the median time, the median of each round's
# ratio to the plain report of the same round, the median and largest peak
# RSS, and how many runs the quit key ended. The pseudo-terminal driver is
# bench/browse_timing.py (it needs python3-pyte).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=$ROOT/build/bench
WORK=${KELPO32_BENCH_DIR:-/var/tmp/kelpo32-bench}
ROUNDS=5
KELPO32=
ENTRIES=1000000
SEED=1
WAIT=
QUIT=q
HISTORY=
DRIVER=$ROOT/bench/browse_timing.py

while (($#)); do
    case $1 in
        --rounds) ROUNDS=${2:?--rounds needs a number}; shift ;;
        --work) WORK=${2:?--work needs a directory}; shift ;;
        --kelpo32) KELPO32=${2:?--kelpo32 needs a path}; shift ;;
        --entries) ENTRIES=${2:?--entries needs a number}; shift ;;
        --wait) WAIT=${2:?--wait needs a text}; shift ;;
        --quit) QUIT=${2:?--quit needs a key}; shift ;;
        --history) HISTORY=${2:?--history needs a directory}; shift ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "browse.sh: unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done
[[ $ROUNDS =~ ^[1-9][0-9]*$ && $ENTRIES =~ ^[1-9][0-9]*$ ]] ||
    { echo "browse.sh: --rounds and --entries take a positive number" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "browse.sh: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }
/usr/bin/python3 -c 'import pyte' 2>/dev/null ||
    { echo "browse.sh: the driver needs pyte (Debian package python3-pyte)" >&2; exit 1; }

mkdir -p "$WORK" "$BIN"
WORK=$(cd "$WORK" && pwd)
if [[ -z $KELPO32 ]]; then
    (cd "$ROOT" && cmake --preset posix >/dev/null && cmake --build build/posix -j2 --target kelpo32 >/dev/null)
    KELPO32=$ROOT/build/posix/kelpo32
fi

# The tree as bench/run.sh makes and names it.
. "$ROOT/bench/tree.sh"
bench_tree "$ENTRIES"

# Each command: its name and its kind (how run starts it).
names=("plain report") kinds=(plain)
notes=()
if "$KELPO32" --help 2>&1 | grep -q -- '--browse'; then
    if [[ -n $WAIT ]]; then
        names+=("kelpo32 --browse") kinds+=(browse)
        [[ -n $HISTORY ]] && names+=("kelpo32 --browse --history") kinds+=(history)
    else
        notes+=("kelpo32 --browse not measured: give --wait with the text its first screen of the tree shows")
    fi
else
    notes+=("kelpo32 has no --browse yet ($KELPO32): only the peers and the plain report were measured")
fi
if command -v ncdu >/dev/null; then
    names+=("$(ncdu -v | head -n1)") kinds+=(ncdu)
else
    notes+=("ncdu is not installed: not measured")
fi
if command -v gdu >/dev/null; then
    names+=("gdu $(gdu --version | sed -n 's/^Version:[[:space:]]*//p' | cut -d- -f1)") kinds+=(gdu)
else
    notes+=("gdu is not installed: not measured")
fi
for note in "${notes[@]}"; do echo "browse.sh: $note" >&2; done
n=${#kinds[@]}

# run J: one measurement of command J, as one line of JSON.
run() {
    local py=(/usr/bin/python3 "$DRIVER")
    case ${kinds[$1]} in
        plain) "${py[@]}" --plain -- "$KELPO32" "$tree" ;;
        browse) "${py[@]}" --quit "$QUIT" --wait "$WAIT" -- "$KELPO32" --browse "$tree" ;;
        history) "${py[@]}" --quit "$QUIT" --wait "$WAIT" -- "$KELPO32" --browse \
            --history="$HISTORY" "$tree" ;;
        ncdu) "${py[@]}" --quit q --wait "Apparent size:" -- ncdu "$tree" ;;
        gdu) "${py[@]}" --quit q --wait "Apparent size:" -- gdu "$tree" ;;
    esac
}

results=$(mktemp)
trap 'rm -f "$results"' EXIT
echo "== warming the cache, then $ROUNDS paired rounds of $n commands" >&2
for ((j = 0; j < n; j++)); do run "$j" >/dev/null; done
for ((r = 0; r < ROUNDS; r++)); do
    for ((i = 0; i < n; i++)); do
        j=$(((i + r) % n))
        printf '%s\t%s\t%s\n' "$r" "${names[$j]}" "$(run "$j")" >>"$results"
    done
done
# The plain report first in the table, the rest as listed.
sorted=$(mktemp)
for name in "${names[@]}"; do
    awk -F'\t' -v n="$name" '$2 == n' "$results" >>"$sorted"
done
mv -- "$sorted" "$results"

echo "Tree ${tree##*/tree-}: $(sed -n '2p' "$stamp"); $ROUNDS paired rounds, warm, pseudo-terminal 140x40;" \
    "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo
/usr/bin/python3 "$DRIVER" --summarize "$results"
for note in "${notes[@]}"; do echo; echo "Note: $note"; done
echo
echo "Target: kelpo32 --browse shows its first screen within 1.10 times the plain report's time."
