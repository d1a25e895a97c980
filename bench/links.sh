#!/usr/bin/env bash
# Memory of the files of several links: a tree of N files, each with a second
# hard link in another directory, walked by this build and (--before) another
# one, by default, with --disk-usage and with --count-links. Printed per
# binary and options: the peak RSS (from /usr/bin/time), the wall time and
# the total, which must be the same for both binaries.
#
#   bench/links.sh [--files N] [--work DIR] [--kelpo32 PATH] [--before PATH]
#
#   --files N       files made, each linked twice (default 3000000)
#   --work DIR      where the tree lives, made once and kept (default
#                   $KELPO32_BENCH_DIR or /var/tmp/kelpo32-bench)
#   --kelpo32 PATH  this binary instead of building build/posix/kelpo32
#   --before PATH   a second binary to compare with (an older build)
#
# Each file has 1 byte and no block on the disk, so the tree takes inodes but
# no space: the apparent total is N once (2N with --count-links).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WORK=${KELPO32_BENCH_DIR:-/var/tmp/kelpo32-bench}
FILES=3000000
KELPO32=
BEFORE=

while (($#)); do
    case $1 in
        --files) FILES=${2:?--files needs a number}; shift ;;
        --work) WORK=${2:?--work needs a directory}; shift ;;
        --kelpo32) KELPO32=${2:?--kelpo32 needs a path}; shift ;;
        --before) BEFORE=${2:?--before needs a path}; shift ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "links.sh: unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done
[[ $FILES =~ ^[1-9][0-9]*$ ]] || { echo "links.sh: --files takes a positive number" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "links.sh: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }

mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
if [[ -z $KELPO32 ]]; then
    (cd "$ROOT" && cmake --preset posix >/dev/null && cmake --build build/posix -j2 --target kelpo32 >/dev/null)
    KELPO32=$ROOT/build/posix/kelpo32
fi

# a/dNNNN/fNNNN, 1,000 files a directory, and b/ the same names linked to them.
tree=$WORK/links-$FILES
if ! [[ -d $tree && -f $tree.done ]]; then
    echo "== making $FILES files and a second link of each in $tree" >&2
    rm -rf -- "$tree" "$tree.done"
    python3 - "$tree" "$FILES" <<'PY'
import os, sys
tree, files = sys.argv[1], int(sys.argv[2])
for top in ("a", "b"):
    os.makedirs(os.path.join(tree, top))
for i in range(files):
    d, f = "d%04d" % (i // 1000), "f%04d" % (i % 1000)
    if i % 1000 == 0:
        os.mkdir(os.path.join(tree, "a", d))
        os.mkdir(os.path.join(tree, "b", d))
    path = os.path.join(tree, "a", d, f)
    fd = os.open(path, os.O_WRONLY | os.O_CREAT, 0o644)
    os.ftruncate(fd, 1)
    os.close(fd)
    os.link(path, os.path.join(tree, "b", d, f))
PY
    touch "$tree.done"
fi

binaries=("$KELPO32")
[[ -n $BEFORE ]] && binaries=("$BEFORE" "$KELPO32")
f=$(mktemp)
echo "Tree: $FILES files of 1 byte, each with 2 links (a/ and b/); $(nproc) cores"
echo
printf '| %-44s | %-16s | %14s | %8s | %12s |\n' binary options "peak RSS (MiB)" "wall (s)" total
printf '|%s|%s|%s|%s|%s|\n' "----------------------------------------------" "------------------" "---------------:" "---------:" "-------------:"
for bin in "${binaries[@]}"; do
    for opts in "" "--disk-usage" "--count-links"; do
        # shellcheck disable=SC2086 # the options are words
        total=$(/usr/bin/time -f '%e %M' -o "$f" "$bin" /N --no-progress $opts "$tree" |
                sed -n 's/.*Total bytes: *//p' | tail -n1)
        read -r e m < <(tail -n1 "$f")
        shown=$bin
        ((${#shown} > 44)) && shown=...${shown: -41}
        printf '| %-44s | %-16s | %14.1f | %8.2f | %12s |\n' "$shown" "${opts:-(default)}" \
            "$(awk -v k="$m" 'BEGIN { print k / 1024 }')" "$e" "$total"
    done
done
rm -f "$f"
