#!/usr/bin/env bash
# Runs the native build of Kelpo32 with the given switches and start
# directory, building it first when needed. Example: ./kelpo32.sh /N /usr/share
# The build is quiet: its output is shown only when it fails.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$here/build/run"
# What the build needs comes from one list that run-tests.sh reads too.
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
while read -r p; do
  case "$p" in ''|'#'*) continue ;; esac
  installed "$p" || missing+=("$p")
done <"$here/tools/build-packages.txt"
if [ "${#missing[@]}" -gt 0 ]; then
  if ! command -v apt-get >/dev/null; then
    echo "kelpo32.sh: the build needs ${missing[*]}; install them and run again" >&2
    exit 1
  fi
  echo "kelpo32.sh: installing ${missing[*]}" >&2
  log="$(mktemp)"
  if ! { DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
         DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
       } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "kelpo32.sh: installing the build's packages failed" >&2
    exit 1
  fi
  rm -f "$log"
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
