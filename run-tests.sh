#!/usr/bin/env bash
# Installs what the tests need (only what is missing), builds the native and the
# Windows build and runs every test of both (the Windows tests run on a 64-bit
# build of the same source where the kernel cannot run 32-bit programs): unit tests, end-to-end tests in
# temporary trees and pseudo-terminals, the Windows program under Wine, the
# whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, the
# walk's tests under ThreadSanitizer, and short fuzzing runs. After the native build, tools/lint.sh checks the
# formatting and runs clang-tidy; any finding fails the run.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
jobs="$(nproc 2>/dev/null || echo 2)"

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# The build's own packages come from the list kelpo32.sh reads; the rest are the tests'.
mapfile -t packages < <(grep -v -e '^#' -e '^$' tools/build-packages.txt)
packages+=(libgtest-dev googletest python3 python3-pyte clang
          libclang-rt-14-dev clang-format clang-tidy g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
          wine wine64 wine32:i386
          strace util-linux zip unzip man-db dpkg-dev file lintian icoutils gdu ncdu
          chromium chromium-driver python3-selenium
          prometheus prometheus-node-exporter)
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in the middle of a sync can fail one index; try again, then go on
  # with the indexes that did arrive (the install below still fails loudly if
  # a package cannot be had).
  for try in 1 2 3; do
    apt-get update -qq && break
    if [ "$try" = 3 ]; then echo "== apt-get update failed; going on with the indexes it has"; else sleep 10; fi
  done
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Windows program is 32-bit and its tests run it under Wine. Some kernels
# (virtual machines without 32-bit support) cannot start a 32-bit program, and
# so not Wine's 32-bit loader: there the 32-bit program is built (with the same
# warnings as errors) but not run, and the Windows tests run on the same source
# built as a 64-bit program under Wine's 64-bit loader.
presets=(posix win32 sanitize)
untested=
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "== this kernel cannot run 32-bit programs: the Windows tests run on the 64-bit build (win64)"
  presets=(posix win32 win64 sanitize)
  untested=win32
fi

for preset in "${presets[@]}"; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [ "$preset" = posix ]; then
    echo "== lint"
    tools/lint.sh build/posix
  fi
  if [ "$preset" = "$untested" ]; then
    echo "== $preset: built, not run (see above)"
    continue
  fi
  echo "== $preset: test"
  ctest --preset "$preset" -j "$jobs"
done

# The walk's unit tests and its thread-equivalence end-to-end test under
# ThreadSanitizer; any report ends that program with an error, failing the test.
echo "== tsan: configure and build"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
echo "== tsan: test"
ctest --preset tsan -j "$jobs"

if [ -x fuzz/run.sh ]; then
  echo "== fuzz"
  fuzz/run.sh
fi
