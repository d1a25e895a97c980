#!/usr/bin/env bash
# Checks the benchmark's own tools on small trees: the generator is
# reproducible and keeps its shape, and the floor's per-directory, subtree
# and grand totals match what find sees. Takes a few seconds.
#
#   bench/selftest.sh
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TMP=$(mktemp -d /var/tmp/kelpo32-selftest.XXXXXX)
trap 'rm -rf -- "$TMP"' EXIT
cc -O2 -Wall -Wextra -Werror -o "$TMP/floor" "$ROOT/bench/floor.c"
c++ -O2 -std=c++20 -Wall -Wextra -Werror -o "$TMP/gentree" "$ROOT/bench/gentree.cpp"

pass=0 fail=0
check() { # check NAME COMMAND...
    local name=$1; shift
    if "$@"; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAIL: $name" >&2; fi
}
listing() { (cd "$1" && find . -mindepth 1 -printf '%P %y %s\n' | LC_ALL=C sort); }
field() { sed -n "s/.*$2=\([0-9]*\).*/\1/p" <<<"$1"; }

# Reproducible: same seed, same tree; another seed, another tree.
a=$("$TMP/gentree" --seed 7 --entries 3000 "$TMP/a")
b=$("$TMP/gentree" --seed 7 --entries 3000 "$TMP/b")
"$TMP/gentree" --seed 8 --entries 3000 "$TMP/c" >/dev/null
check "same seed, same summary" [ "$a" = "$b" ]
check "same seed, same tree" cmp -s <(listing "$TMP/a") <(listing "$TMP/b")
check "other seed, other tree" bash -c '! cmp -s <(cd "$1" && find . | sort) <(cd "$2" && find . | sort)' _ "$TMP/a" "$TMP/c"
check "refuses an existing directory" bash -c '! "$1" --entries 10 "$2" 2>/dev/null' _ "$TMP/gentree" "$TMP/a"

# Shape: entry counts as announced, 9 % directories, depth within 12,
# files sparse (the whole tree takes little more than its directories).
t=$TMP/a
dirs=$(find "$t" -mindepth 1 -type d | wc -l)
files=$(find "$t" -type f | wc -l)
depth=$(find "$t" -type d -printf '%d\n' | sort -n | tail -n1)
check "entry count" [ $((dirs + files)) -eq 3000 ]
check "directory share" [ "$dirs" -eq "$(field "$a" dirs)" -a "$dirs" -eq 270 ]
check "depth 3-12" [ "$depth" -ge 3 -a "$depth" -le 12 -a "$depth" -eq "$(field "$a" maxdepth)" ]
check "sparse files" [ "$(find "$t" -type f -printf '%b\n' | awk '{s += $1} END {print s + 0}')" -eq 0 ]
check "names vary in length" [ "$(find "$t" -printf '%f\n' | awk '{print length($0)}' | sort -u | wc -l)" -ge 20 ]

# Floor: grand totals, one line per directory, subtree totals.
want=$(field "$a" bytes)
out=$("$TMP/floor" "$t")
check "floor total bytes" [ "$(sed -n 's/^Total bytes: //p' <<<"$out")" = "$want" ]
check "floor total files" [ "$(sed -n 's/^Total files: //p' <<<"$out")" = "$files" ]
check "find agrees" [ "$(find "$t" -type f -printf '%s\n' | awk '{s += $1} END {printf "%.0f", s}')" = "$want" ]
check "a line per directory" [ "$(grep -v ' total ' <<<"$out" | grep -c ' files [0-9]* bytes$')" -eq $((dirs + 1)) ]
check "same with a trailing slash" [ "$("$TMP/floor" "$t/" | tail -n3)" = "$(tail -n3 <<<"$out")" ]
sub=$(find "$t" -mindepth 2 -maxdepth 2 -type d -links +2 | head -n1)
sub_bytes=$(find "$sub" -type f -printf '%s\n' | awk '{s += $1} END {printf "%.0f", s}')
sub_files=$(find "$sub" -type f | wc -l)
check "subtree total" grep -qxF "$sub/ total $sub_files files $sub_bytes bytes" <<<"$out"
own=$(find "$sub" -maxdepth 1 -type f -printf '%s\n' | awk '{n++; s += $1} END {printf "%d files %.0f bytes", n, s}')
check "directory's own line" grep -qxF "$sub/ $own" <<<"$out"

# Not a directory, or missing: an error, not an empty success.
check "floor fails on a missing dir" bash -c '! "$1" "$2/none" >/dev/null 2>&1' _ "$TMP/floor" "$TMP"
check "floor fails on a file" bash -c '! "$1" "$2" >/dev/null 2>&1' _ "$TMP/floor" "$(find "$t" -type f | head -n1)"

echo "selftest: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
