#!/bin/sh
# Runs a Windows program of the win32 build under Wine, in a Wine prefix of the
# build's own. It is the CMAKE_CROSSCOMPILING_EMULATOR of cmake/mingw32.cmake, so
# CTest runs every unit test through it, and the end-to-end tests get its path
# in KELPO32_RUNNER.
#
#   tests/wine-run.sh PROGRAM.exe [ARGS...]   run a program (exit code passed on)
#   tests/wine-run.sh --setup                 make the prefix, start a persistent
#                                             wineserver and warm it up (CTest fixture)
#   tests/wine-run.sh --cleanup               stop that wineserver (CTest fixture)
#
# The prefix is $KELPO32_WINEPREFIX, or build/win32/wineprefix of this source
# tree. KELPO32_WINEARCH is win32 (the default) or win64, for the 64-bit build
# of the same source that carries the tests where 32-bit programs cannot run;
# a win64 prefix is run by Wine's 64-bit loader alone, as the `wine` command
# would pick the 32-bit one. Making it takes a few seconds (once); it is guarded by a lock, so
# concurrent runs wait for one another. A run without the CTest fixture starts
# a wineserver that stays up for 30 s after the last Wine program ends, so a
# series of manual runs is fast too. KELPO32_WINEDEBUG overrides WINEDEBUG.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
prefix=${KELPO32_WINEPREFIX:-$root/build/win32/wineprefix}
case $prefix in
/*) ;;
*) prefix=$(pwd)/$prefix ;;
esac

export WINEPREFIX="$prefix"
export WINEARCH="${KELPO32_WINEARCH:-win32}"
case $WINEARCH in
win32) wine=wine ;;
win64)
    wine=/usr/lib/wine/wine64
    export WINELOADER=$wine
    ;;
*)
    echo "wine-run.sh: KELPO32_WINEARCH must be win32 or win64, not $WINEARCH" >&2
    exit 2
    ;;
esac
export WINEDEBUG="${KELPO32_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY LC_ALL || true

ready="$prefix/.kelpo32-ready"

# Runs a command with its standard handles on /dev/null and without the lock
# descriptors (a wineserver or a Wine service inheriting one would hold the lock).
quiet() { "$@" </dev/null >/dev/null 2>&1 8>&- 9>&-; }

# Makes the prefix once: wineboot --init, then wait for its wineserver to end.
# `wineserver -w` never returns while a persistent server is up; no persistent
# server is started before the prefix is ready, and the timeout is a last guard.
ensure_prefix() {
    [ -f "$ready" ] && return 0
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$ready" ]; then
        echo "wine-run.sh: creating the Wine prefix $prefix" >&2
        quiet "$wine" wineboot --init || true
        quiet timeout 300 wineserver -w || true
        if [ ! -f "$prefix/system.reg" ]; then
            echo "wine-run.sh: wineboot could not create $prefix" >&2
            exit 125
        fi
        touch "$ready"
    fi
    exec 9>&-
}

# The first Wine program of a wineserver session starts Wine's background
# services, which inherit its standard handles and keep them open: warm up with
# all three on /dev/null, so no test's pipe is held open by them.
warm_up() {
    quiet "$wine" cmd /c exit 0 || true
}

# Starts a wineserver that persists `$1` (empty: for ever) and warms it up;
# does nothing when a server of this prefix is already running.
start_server() {
    exec 8>"$prefix.server.lock"
    flock 8
    if quiet wineserver "-p$1"; then
        warm_up
    fi
    exec 8>&-
}

case "${1:-}" in
--setup)
    ensure_prefix
    exec 8>"$prefix.server.lock"
    flock 8
    # A server that is already running (one that lingers after a manual run)
    # would end on its own: replace it by one that persists until --cleanup.
    if ! quiet wineserver -p; then
        quiet wineserver -k || true
        i=0
        until quiet wineserver -p; do
            i=$((i + 1))
            if [ $i -ge 50 ]; then
                echo "wine-run.sh: could not start a persistent wineserver" >&2
                exit 1
            fi
            sleep 0.1
        done
    fi
    warm_up
    exec 8>&-
    echo "wine-run.sh: persistent wineserver up for $prefix"
    exit 0
    ;;
--cleanup)
    if [ -f "$ready" ]; then
        quiet wineserver -k || true
    fi
    echo "wine-run.sh: wineserver stopped for $prefix"
    exit 0
    ;;
"" | --help | -h)
    sed -n '2,/^set -eu/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
    [ $# -gt 0 ] && exit 0
    exit 2
    ;;
esac

ensure_prefix
start_server 30
exec "$wine" "$@"
