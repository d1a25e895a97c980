#!/usr/bin/env bash
# Checks the formatting of every C/C++ source (clang-format, .clang-format),
# holds every source against the program's layers (tools/check_layers.py: no
# include from a layer the file's own does not link, the other platform's
# files too) and runs clang-tidy (.clang-tidy) over the product code of a
# native build: the tests, the fuzz targets and the benchmark tools are
# formatted but not linted. Exits non-zero on any finding.
#
#   tools/lint.sh [BUILD_DIR]    a configured native build, build/posix by default
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/posix}"
jobs=2
cd "$root"

# Tracked sources in a clone; everything outside the build folders otherwise.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t sources < <(git ls-files -- '*.c' '*.cpp' '*.h')
else
  mapfile -t sources < <(find . -path './build*' -prune -o -path './out' -prune -o \
                           -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print |
                         sed 's|^\./||' | sort)
fi

status=0
echo "== clang-format: ${#sources[@]} files"
clang-format --dry-run --Werror "${sources[@]}" || status=1

if [ ! -f "$build/compile_commands.json" ]; then
  echo "lint: $build/compile_commands.json missing: configure the native build first" >&2
  exit 1
fi
echo "== layers: ${#sources[@]} files"
python3 "$root/tools/check_layers.py" "$build/layers.txt" --root "$root" "${sources[@]}" || status=1

# The product's translation units of this build: every compiled source of the
# project that is not a test, a test helper, a fuzz target or a benchmark tool.
mapfile -t product < <(
  python3 - "$build/compile_commands.json" "$root" <<'PY'
import json, os, sys
db, root = sys.argv[1], os.path.realpath(sys.argv[2])
seen = set()
for entry in json.load(open(db)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    rel = os.path.relpath(path, root)
    top = rel.split(os.sep)[0]
    if rel.startswith("..") or top in ("tests", "fuzz", "bench", "build"):
        continue
    name = os.path.basename(rel)
    if name.endswith("_test.cpp") or name.startswith("test_support"):
        continue
    if rel not in seen:
        seen.add(rel)
        print(rel)
PY
)
echo "== clang-tidy: ${#product[@]} files"
# The count of suppressed system-header warnings that each run prints is noise.
set +e
printf '%s\0' "${product[@]}" |
  xargs -0 -n 1 -P "$jobs" clang-tidy -p "$build" --quiet --warnings-as-errors='*' 2>&1 |
  grep -v -E '^[0-9]+ warnings? generated\.$'
tidy="${PIPESTATUS[1]}"
set -e
[ "$tidy" -eq 0 ] || status=1

exit "$status"
