#!/usr/bin/env bash
# Runs the native build of Kelpo32 with the given switches and start
# directory, building it first when needed. Example: ./kelpo32.sh /N /usr/share
# The build is quiet: its output is shown only when it fails.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$here/build/run"
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || ! command -v ninja >/dev/null; then
  echo "kelpo32.sh: installing cmake, g++ and ninja" >&2
  apt-get update -qq >&2 && apt-get install -y -qq cmake g++ ninja-build >&2
fi
log="$(mktemp)"
if ! { [ -f "$build/build.ninja" ] ||
       cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELPO32_TESTS=OFF
     } >"$log" 2>&1 || ! cmake --build "$build" --target kelpo32 >>"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "kelpo32.sh: the build failed" >&2
  exit 1
fi
rm -f "$log"
exec "$build/kelpo32" "$@"
