#!/usr/bin/env bash
# Runs the native build of Kelpo32 with the given switches and start
# directory, building it first when needed. Example: ./kelpo32.sh /N /usr/share
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$here/build/run"
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || ! command -v ninja >/dev/null; then
  echo "kelpo32.sh: installing cmake, g++ and ninja" >&2
  apt-get update -qq >&2 && apt-get install -y -qq cmake g++ ninja-build >&2
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELPO32_TESTS=OFF >&2
fi
cmake --build "$build" --target kelpo32 >&2
exec "$build/kelpo32" "$@"
