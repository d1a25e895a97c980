#!/usr/bin/env bash
# The history (--history, --growth) on the 1,000,000-entry tree of
# bench/run.sh (made once and shared with it):
#
#   bench/history.sh [--rounds R] [--work DIR] [--kelpo32 PATH] [--browse]
#
#   - a run that records its scan against the same run without (the plain
#     report to /dev/null), in paired rounds of alternating order: the
#     median of each round's ratio of time and of CPU (user + system);
#   - the kept scan's bytes and directories;
#   - --growth over a history of 100 kept scans of that tree (copies of the
#     kept one, dated an hour apart for two days and a day apart before):
#     median time and peak RSS;
#   - with --browse, bench/browse.sh with --history: the first screen of
#     --browse --history beside the plain report.
#
# --work DIR: where the tree and the histories live (default
# $KELPO32_BENCH_DIR or /var/tmp/kelpo32-bench). On a machine shared with
# other work the times move with its load: read the ratios, run it twice.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=${KELPO32_BENCH_DIR:-/var/tmp/kelpo32-bench}
ROUNDS=5
KELPO32=
BROWSE=0
while (($#)); do
    case $1 in
        --rounds) ROUNDS=${2:?--rounds needs a number}; shift ;;
        --work) WORK=${2:?--work needs a directory}; shift ;;
        --kelpo32) KELPO32=${2:?--kelpo32 needs a path}; shift ;;
        --browse) BROWSE=1 ;;
        *) echo "history.sh: unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done
[[ -x /usr/bin/time ]] || { echo "history.sh: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }
if [[ -z $KELPO32 ]]; then
    (cd "$ROOT" && cmake --preset posix >/dev/null && cmake --build build/posix -j2 --target kelpo32 >/dev/null)
    KELPO32=$ROOT/build/posix/kelpo32
fi
tree=$WORK/tree-1M
if [[ ! -d $tree ]]; then
    # bench/browse.sh makes the tree as bench/run.sh does.
    "$ROOT/bench/browse.sh" --work "$WORK" --kelpo32 "$KELPO32" --rounds 1 >/dev/null
fi
rec=$WORK/history-record
many=$WORK/history-100
rm -rf -- "$rec" "$many"

# timed ARGS...: "wall user+system peak-KiB" of one run, output to /dev/null.
timed() {
    local t
    t=$({ /usr/bin/time -f '%e %U %S %M' "$@" >/dev/null 2>/dev/null; } 2>&1 | tail -n1)
    awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' <<<"$t"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "== warming the cache, then $ROUNDS paired rounds" >&2
"$KELPO32" --no-progress "$tree" >/dev/null
ratios=() cpus=() plains=() records=()
for ((r = 0; r < ROUNDS; r++)); do
    if ((r % 2 == 0)); then
        p=$(timed "$KELPO32" --no-progress "$tree")
        h=$(timed "$KELPO32" --no-progress --history="$rec" --history-keep=all "$tree")
    else
        h=$(timed "$KELPO32" --no-progress --history="$rec" --history-keep=all "$tree")
        p=$(timed "$KELPO32" --no-progress "$tree")
    fi
    read -r pw pc _ <<<"$p"
    read -r hw hc _ <<<"$h"
    plains+=("$pw") records+=("$hw")
    ratios+=("$(awk -v a="$hw" -v b="$pw" 'BEGIN { printf "%.3f", a / b }')")
    cpus+=("$(awk -v a="$hc" -v b="$pc" 'BEGIN { printf "%.3f", a / b }')")
done
newest=$(ls "$rec" | sort | tail -n1)
bytes=$(stat -c %s "$rec/$newest")
dirs=$(($(zcat "$rec/$newest" | wc -l) - 1))

# 100 kept scans: the newest one, dated anew.
python3 - "$rec/$newest" "$many" <<'PY'
import gzip, json, os, sys, time
src, out = sys.argv[1], sys.argv[2]
os.makedirs(out)
with gzip.open(src) as f:
    head, rest = f.read().split(b"\n", 1)
h = json.loads(head)
now = int(time.time())
times = [now - i * 3600 for i in range(48)] + [now - 2 * 86400 - i * 86400 for i in range(52)]
for i, t in enumerate(times):
    stamp = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(t))
    h["recorded"] = stamp
    h["fs_free"] = h.get("fs_free", 10 ** 12) + i * 10 ** 8
    name = "kelpo32-scan-" + stamp.replace("-", "").replace(":", "") + ".jsonl.gz"
    with gzip.open(os.path.join(out, name), "wb", compresslevel=6) as f:
        f.write(json.dumps(h, separators=(",", ":")).encode() + b"\n" + rest)
PY
gtimes=() grss=()
for ((r = 0; r < ROUNDS; r++)); do
    read -r gw _ gm <<<"$(timed "$KELPO32" --history="$many" --growth)"
    gtimes+=("$gw") grss+=("$gm")
done

echo "Tree 1M: $(sed -n '2p' "$WORK/tree-1M.stamp" 2>/dev/null); $ROUNDS rounds;" \
    "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
printf 'plain report          median %6.2f s\n' "$(printf '%s\n' "${plains[@]}" | median)"
printf 'with --history        median %6.2f s  ratio %s (time), %s (CPU)\n' \
    "$(printf '%s\n' "${records[@]}" | median)" "$(printf '%s\n' "${ratios[@]}" | median)" \
    "$(printf '%s\n' "${cpus[@]}" | median)"
printf 'kept scan             %d bytes, %d directories\n' "$bytes" "$dirs"
printf -- '--growth, 100 scans   median %6.2f s  peak RSS %d KiB (largest)\n' \
    "$(printf '%s\n' "${gtimes[@]}" | median)" "$(printf '%s\n' "${grss[@]}" | sort -n | tail -n1)"
if ((BROWSE)); then
    echo
    "$ROOT/bench/browse.sh" --work "$WORK" --kelpo32 "$KELPO32" --rounds "$ROUNDS" \
        --wait "?: help" --history "$rec"
fi
