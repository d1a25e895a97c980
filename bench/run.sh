#!/usr/bin/env bash
# Speed benchmark: Kelpo32 against the reference walker (the floor) and the
# usual disk-usage tools, on generated trees of 100,000 and 1,000,000 entries.
#
#   bench/run.sh [--quick] [--runs N] [--rounds R] [--cold-runs C] [--work DIR]
#                [--kelpo32 PATH] [--no-install]
#
#   --quick        only the 100,000-entry tree, no depth and flat-directory runs
#   --runs N       timed runs per command in each round (default 5)
#   --rounds R     hyperfine sweeps over all commands (default 3); each starts
#                  with 2 warm-up runs per command. Reported: the median over
#                  the rounds of each round's median, so a burst of load from
#                  elsewhere on the machine hits all commands alike
#   --work DIR     where the trees and results live
#                  (default $KELPO32_BENCH_DIR or /var/tmp/kelpo32-bench;
#                  put it on a real disk, not tmpfs)
#   --cold-runs C  runs per command after dropping the page cache (default 3;
#                  0 skips them). Needs root: before each run the bench
#                  syncs and writes 3 to /proc/sys/vm/drop_caches; where
#                  that is not allowed the cold column says so in a note
#   --kelpo32 PATH use this binary instead of building build/posix/kelpo32
#   --no-install   skip peers that are missing instead of installing them
#   --wine-runs W  interleaved runs per command of the Windows build under
#                  Wine (default 9; 0 skips that part)
#   --kelpo32-exe PATH  use this kelpo32.exe instead of building build/win32
#   --wine-only    only the Windows build under Wine (the 100,000-entry tree)
#
# Builds the floor and the tree generator into build/bench, builds Kelpo32
# with the posix preset, makes each tree once (kept and reused while the
# generator is unchanged), checks that the walkers agree on the byte total,
# then times every command with hyperfine, warm (output to /dev/null) and
# cold, and measures peak RSS with /usr/bin/time. Kelpo32 runs with
# KELPO32_THREADS at 1, 2 and 8 and with its default count, and its exports
# (--format=json, tsv, ncdu) at the default next to ncdu -o and gdu -o
# writing the ncdu export. Prints a table:
# median wall time warm and cold and their ratios to the floor, CPU time
# (user + system, mean per warm run) and its ratio, peak RSS. On a busy
# machine the CPU columns are the steadier ones. The full run also times
# chains of 5,000 and 20,000 directories with /V1 and measures Kelpo32's
# peak RSS on the 20,000-level chain and on one directory of 1,000,000
# files. Results are also kept in the work dir; bench/selftest.sh checks
# the generator and the floor.
#
# Where Wine and MinGW are installed, the Windows build is measured too, on
# the 100,000-entry tree: kelpo32.exe at one thread and at its default
# against floor_win32.exe (a bare recursive FindFirstFileExW walk), all
# under one persistent wineserver, W rounds that run each command once in a
# rotating order; printed: the median of each and its ratio to that floor.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=$ROOT/build/bench
WORK=${KELPO32_BENCH_DIR:-/var/tmp/kelpo32-bench}
QUICK=0
RUNS=5
ROUNDS=3
COLD_RUNS=3
INSTALL=1
KELPO32=
KELPO32_EXE=
WINE_RUNS=9
WINE_ONLY=0
SEED=1

usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit "${1:-0}"; }

while (($#)); do
    case $1 in
        --quick) QUICK=1 ;;
        --runs) RUNS=${2:?--runs needs a number}; shift ;;
        --rounds) ROUNDS=${2:?--rounds needs a number}; shift ;;
        --cold-runs) COLD_RUNS=${2:?--cold-runs needs a number}; shift ;;
        --work) WORK=${2:?--work needs a directory}; shift ;;
        --kelpo32) KELPO32=${2:?--kelpo32 needs a path}; shift ;;
        --no-install) INSTALL=0 ;;
        --wine-runs) WINE_RUNS=${2:?--wine-runs needs a number}; shift ;;
        --kelpo32-exe) KELPO32_EXE=${2:?--kelpo32-exe needs a path}; shift ;;
        --wine-only) WINE_ONLY=1 ;;
        -h|--help) usage 0 ;;
        *) echo "run.sh: unknown argument: $1" >&2; usage 2 ;;
    esac
    shift
done
[[ $RUNS =~ ^[1-9][0-9]*$ && $ROUNDS =~ ^[1-9][0-9]*$ && $COLD_RUNS =~ ^[0-9]+$ &&
   $WINE_RUNS =~ ^[0-9]+$ ]] ||
    { echo "run.sh: --runs and --rounds take a positive number, --cold-runs a number" >&2; exit 2; }

mkdir -p "$WORK" "$BIN"
WORK=$(cd "$WORK" && pwd)
LOGS=$WORK/logs
mkdir -p "$LOGS"
STAMP=$(date -u +%Y%m%d-%H%M%S)
REPORT=$WORK/results-$STAMP.md
NOTES=()
note() { NOTES+=("$*"); echo "note: $*" >&2; }
say() { echo "== $*" >&2; }

# ---- tools ---------------------------------------------------------------

APT_UPDATED=0
apt_install() {
    ((INSTALL)) || return 1
    [[ $(id -u) == 0 ]] && command -v apt-get >/dev/null || return 1
    say "installing $1"
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$1" >>"$LOGS/apt.log" 2>&1; then
        ((APT_UPDATED)) && return 1
        APT_UPDATED=1
        apt-get update -qq >>"$LOGS/apt.log" 2>&1 || return 1
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$1" >>"$LOGS/apt.log" 2>&1 || return 1
    fi
}

# have COMMAND PACKAGE: true when COMMAND exists, installing PACKAGE if needed.
have() {
    command -v "$1" >/dev/null 2>&1 && return 0
    apt_install "$2" || true
    command -v "$1" >/dev/null 2>&1
}

((WINE_ONLY)) || have hyperfine hyperfine || { echo "run.sh: hyperfine is needed (Debian package hyperfine)" >&2; exit 1; }
((WINE_ONLY)) || [[ -x /usr/bin/time ]] || apt_install time || { echo "run.sh: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }
have cc gcc && have c++ g++ || { echo "run.sh: a C and C++ compiler are needed" >&2; exit 1; }

# ---- build -----------------------------------------------------------------

say "building the floor and the tree generator"
cc -O2 -Wall -Wextra -o "$BIN/floor" "$ROOT/bench/floor.c"
c++ -O2 -std=c++20 -Wall -Wextra -o "$BIN/gentree" "$ROOT/bench/gentree.cpp"

if ((WINE_ONLY)); then
    QUICK=1 # the Windows build is measured on the 100,000-entry tree alone
elif [[ -n $KELPO32 ]]; then
    [[ -x $KELPO32 ]] || { echo "run.sh: not executable: $KELPO32" >&2; exit 1; }
    KELPO32=$(cd "$(dirname "$KELPO32")" && pwd)/$(basename "$KELPO32")
else
    say "building kelpo32 (cmake --preset posix)"
    if (cd "$ROOT" && cmake --preset posix && cmake --build build/posix -j2 --target kelpo32) \
        >"$LOGS/kelpo32-build.log" 2>&1; then
        KELPO32=$ROOT/build/posix/kelpo32
    else
        note "kelpo32 did not build (see $LOGS/kelpo32-build.log): measured without it"
    fi
fi

# ---- trees -----------------------------------------------------------------

GEN_ID="gentree $(cksum <"$ROOT/bench/gentree.cpp" | cut -d' ' -f1) seed=$SEED"

# make_tree LABEL ENTRIES: makes $WORK/tree-LABEL once; prints its path.
make_tree() {
    local label=$1 entries=$2
    local dir=$WORK/tree-$label stamp=$WORK/tree-$label.stamp
    if [[ -d $dir && -f $stamp && $(head -n1 "$stamp") == "$GEN_ID entries=$entries" ]]; then
        echo "$dir"
        return
    fi
    say "generating $entries entries in $dir"
    rm -rf -- "$dir" "$dir.tmp" "$stamp"
    local info
    info=$("$BIN/gentree" --seed "$SEED" --entries "$entries" "$dir.tmp")
    mv -- "$dir.tmp" "$dir"
    printf '%s\n%s\n' "$GEN_ID entries=$entries" "$info" >"$stamp"
    echo "$dir"
}

# Bytes the generator wrote into the tree (from its stamp).
expected_bytes() { sed -n '2s/.*bytes=\([0-9]*\).*/\1/p' "$WORK/tree-$1.stamp"; }

LABELS=(100k)
ENTRIES=(100000)
if ((!QUICK)); then LABELS+=(1M); ENTRIES+=(1000000); fi
for i in "${!LABELS[@]}"; do make_tree "${LABELS[$i]}" "${ENTRIES[$i]}" >/dev/null; done

# ---- the Windows build under Wine ---------------------------------------------

# median LIST...: the median of numbers.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wine's own costs (its server, its file-system layer over the host's) are
# not Windows' costs: the ratios say how kelpo32.exe does against the least
# a Windows program can do on the same system, not how fast it is on Windows.
wine_bench() {
    # Wine's drive Z: is the host's root; "/" would start a switch.
    local tree="Z:${WORK//\//\\}\\tree-100k" want runner=$ROOT/tests/wine-run.sh
    command -v wine >/dev/null && command -v i686-w64-mingw32-gcc >/dev/null && [[ -x /usr/bin/time ]] ||
        { note "Wine, MinGW or /usr/bin/time missing: the Windows build was not measured"; return; }
    say "building the Windows floor"
    i686-w64-mingw32-gcc -O2 -Wall -Wextra -municode -o "$BIN/floor_win32.exe" "$ROOT/bench/floor_win32.c"
    if [[ -z $KELPO32_EXE ]]; then
        say "building kelpo32.exe (cmake --preset win32)"
        if (cd "$ROOT" && cmake --preset win32 && cmake --build build/win32 -j2 --target kelpo32) \
            >"$LOGS/kelpo32-win32-build.log" 2>&1; then
            KELPO32_EXE=$ROOT/build/win32/kelpo32.exe
        else
            note "kelpo32.exe did not build (see $LOGS/kelpo32-win32-build.log): not measured"
            return
        fi
    fi
    # One prefix of the bench's own and one server that persists for all runs.
    export KELPO32_WINEPREFIX=$BIN/wineprefix
    "$runner" --setup >>"$LOGS/wine.log" 2>&1 || { note "Wine would not start (see $LOGS/wine.log)"; return; }
    want=$(expected_bytes 100k)
    local got
    got=$("$runner" "$BIN/floor_win32.exe" "$tree" 2>>"$LOGS/wine.log" | sed -n 's/.*Total bytes: //p' | tr -d '\r')
    [[ $got == "$want" ]] || note "100k: floor_win32.exe counts '$got' bytes, generator wrote $want"
    got=$("$runner" "$KELPO32_EXE" /N "$tree" 2>>"$LOGS/wine.log" | sed -n 's/.*Total bytes: *//p' | tail -n1 | tr -cd '0-9')
    [[ $got == "$want" ]] || note "100k: kelpo32.exe reports '${got:-no total}' bytes, expected $want"

    local names=("floor_win32" "kelpo32.exe threads=1" "kelpo32.exe default")
    # wine_cmd J: sets cmd to the command of names[J].
    local -a cmd
    wine_cmd() {
        case $1 in
            0) cmd=("$runner" "$BIN/floor_win32.exe" "$tree") ;;
            1) cmd=(env KELPO32_THREADS=1 "$runner" "$KELPO32_EXE" /N "$tree") ;;
            2) cmd=(env -u KELPO32_THREADS "$runner" "$KELPO32_EXE" /N "$tree") ;;
        esac
    }
    # CPU: the program's own (user + system) and what the wineserver spent
    # meanwhile; steadier than wall time on a busy machine.
    local server= p
    for p in $(pgrep -x wineserver64; pgrep -x wineserver); do
        tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$KELPO32_WINEPREFIX" && server=$p
    done
    server_ticks() { [[ -n $server ]] && awk '{ print $14 + $15 }' "/proc/$server/stat" 2>/dev/null || echo 0; }
    local -A wall=() cpu=()
    local tps r j k start ticks used
    tps=$(getconf CLK_TCK)
    say "timing the Windows build under Wine ($WINE_RUNS interleaved rounds)"
    for ((r = 0; r < WINE_RUNS; r++)); do
        for ((k = 0; k < 3; k++)); do
            j=$(((r + k) % 3))
            ticks=$(server_ticks)
            start=$EPOCHREALTIME
            wine_cmd "$j"
            /usr/bin/time -f "%U %S" -o "$LOGS/wine-cpu.txt" "${cmd[@]}" >/dev/null 2>>"$LOGS/wine.log" </dev/null
            wall[$j]+=" $(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }')"
            used=$(tail -n1 "$LOGS/wine-cpu.txt")
            cpu[$j]+=" $(awk -v u="$used" -v t0="$ticks" -v t1="$(server_ticks)" -v hz="$tps" \
                'BEGIN { split(u, c, " "); printf "%.3f", c[1] + c[2] + (t1 - t0) / hz }')"
        done
    done
    "$runner" --cleanup >>"$LOGS/wine.log" 2>&1 || true
    local w0 c0
    # shellcheck disable=SC2086 # the lists are words
    w0=$(median ${wall[0]}) c0=$(median ${cpu[0]})
    {
        echo
        echo "Windows build under Wine 8 ($(wine --version 2>/dev/null)), tree 100k, $WINE_RUNS interleaved rounds, one persistent wineserver$([[ -n $server ]] || echo " (its CPU not found: the program's alone)"):"
        echo
        printf '| %-24s | %10s | %8s | %8s | %8s | %s |\n' command "median (s)" "x floor" "CPU (s)" "x floor" "all runs (s)"
        printf '|%s|%s|%s|%s|%s|%s|\n' "--------------------------" "-----------:" "---------:" "---------:" "---------:" "---"
        for j in 0 1 2; do
            local w c
            # shellcheck disable=SC2086
            w=$(median ${wall[$j]}) c=$(median ${cpu[$j]})
            printf '| %-24s | %10.3f | %8.2f | %8.3f | %8.2f |%s |\n' "${names[$j]}" "$w" \
                "$(awk -v a="$w" -v b="$w0" 'BEGIN { print a / b }')" "$c" \
                "$(awk -v a="$c" -v b="$c0" 'BEGIN { print b ? a / b : 0 }')" "${wall[$j]}"
        done
        echo
        echo "Targets (wall time): threads=1 <= 1.25 x floor_win32, default <= 1.00 x. Wine's costs are not Windows' own."
    } | tee -a "$REPORT"
}
if ((WINE_ONLY)); then
    ((WINE_RUNS > 0)) || WINE_RUNS=9
    wine_bench
    exit 0
fi

# ---- peers -----------------------------------------------------------------

have du coreutils || note "du missing: skipped"
have find findutils || note "find missing: skipped"
have ncdu ncdu || note "ncdu not installed: skipped"
have tree tree || note "tree not installed: skipped"
have gdu gdu || note "gdu not installed: skipped"

# commands TREE: fills NAMES/CMDS with the commands to measure on TREE.
commands() {
    local t
    t=$(printf '%q' "$1")
    NAMES=() CMDS=()
    if [[ -n $KELPO32 ]]; then
        local k n
        k=$(printf '%q' "$KELPO32")
        for n in "${SWEEP[@]}"; do
            NAMES+=("kelpo32 /N threads=$n"); CMDS+=("env KELPO32_THREADS=$n $k /N $t")
        done
        NAMES+=("$DEFAULT_NAME"); CMDS+=("env -u KELPO32_THREADS $k /N $t")
        # The exports, at the default thread count: against that report row.
        for n in json tsv ncdu; do
            NAMES+=("kelpo32 $n default"); CMDS+=("env -u KELPO32_THREADS $k --format=$n $t")
        done
    fi
    # The floor starts through env(1) as the rows above must, so that the one
    # extra program start is paid by both sides of their ratio.
    NAMES+=("floor"); CMDS+=("env $(printf '%q' "$BIN/floor") $t")
    if command -v du >/dev/null; then
        NAMES+=("du -b" "du -sb"); CMDS+=("du -b $t" "du -sb $t")
    fi
    if command -v ncdu >/dev/null; then NAMES+=("ncdu -0 -x -o /dev/null"); CMDS+=("ncdu -0 -x -o /dev/null $t"); fi
    if command -v find >/dev/null; then NAMES+=("find -printf %s"); CMDS+=("find $t -printf '%s\n'"); fi
    if command -v tree >/dev/null; then NAMES+=("tree -a --du -s"); CMDS+=("tree -a --du -s $t"); fi
    if command -v gdu >/dev/null; then NAMES+=("gdu -n -p -c"); CMDS+=("gdu -n -p -c $t"); fi
    # gdu writing the ncdu export (the ncdu row above writes it too).
    if command -v gdu >/dev/null; then NAMES+=("gdu -o"); CMDS+=("gdu -n -o /dev/null $t"); fi
}

# ---- correctness -------------------------------------------------------------

# Byte totals must agree before any timing means anything.
check_totals() {
    local label=$1 tree=$2 want got
    want=$(expected_bytes "$label")
    got=$("$BIN/floor" "$tree" | sed -n 's/^Total bytes: //p')
    [[ $got == "$want" ]] || { echo "run.sh: floor counts $got bytes in $tree, generator wrote $want" >&2; exit 1; }
    got=$(find "$tree" -type f -printf '%s\n' | awk '{s += $1} END {printf "%.0f\n", s}')
    [[ $got == "$want" ]] || note "$label: find sums $got bytes, generator wrote $want"
    if [[ -n $KELPO32 ]]; then
        local out=$LOGS/kelpo32-$label.txt rc=0
        "$KELPO32" /N "$tree" >"$out" 2>"$LOGS/kelpo32-$label.err" || rc=$?
        got=$(sed -n 's/.*Total bytes: *//p' "$out" | tail -n1 | tr -cd '0-9')
        if ((rc != 0)); then
            note "$label: kelpo32 exited with $rc (see $LOGS/kelpo32-$label.err)"
        elif [[ $got != "$want" ]]; then
            note "$label: kelpo32 reports '${got:-no total}' bytes, expected $want"
        else
            say "$label: kelpo32, floor and find agree on $want bytes"
        fi
    fi
}

# ---- measurement ---------------------------------------------------------------

# peak_rss_kib CMD: the largest maximum RSS (KiB) of three runs of CMD.
peak_rss_kib() {
    local cmd=$1 max=0 v f
    f=$(mktemp)
    for _ in 1 2 3; do
        eval "/usr/bin/time -f %M -o $(printf '%q' "$f") $cmd" >/dev/null 2>>"$LOGS/rss.err" || true
        v=$(tail -n1 "$f")
        [[ $v =~ ^[0-9]+$ ]] && ((v > max)) && max=$v
    done
    rm -f "$f"
    echo "$max"
}

# Threads: 1, 2 and 8 fixed, and Kelpo32's default (one per processor, more
# while listings wait on the disk); bench/threads.sh gives their ratios for
# both trees in one table, bench/sweep.sh times the whole curve.
SWEEP=(1 2 8)
DEFAULT_NAME="kelpo32 /N default"

# Cold runs need the page cache dropped before each one.
COLD=0
if ((COLD_RUNS > 0)); then
    if [[ $(id -u) == 0 ]] && sync && echo 3 2>/dev/null >/proc/sys/vm/drop_caches; then
        COLD=1
    else
        note "cold runs skipped: the page cache cannot be dropped here (needs root and a writable /proc/sys/vm/drop_caches)"
    fi
fi
DROP="sh -c 'sync; echo 3 > /proc/sys/vm/drop_caches'"

declare -A RSS_KELPO32

machine() {
    local cpu fs
    cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
    fs=$(df -T "$WORK" | awk 'NR == 2 {print $2}')
    echo "Machine: $(nproc) cores (${cpu:-unknown CPU}), $(free -g | awk '/^Mem:/ {print $2}') GiB memory," \
        "$fs file system, Linux $(uname -r), $(date -u '+%Y-%m-%d')," \
        "load average $(cut -d' ' -f1-3 /proc/loadavg) at start"
}

{
    echo "Kelpo32 speed benchmark: output to /dev/null; warm cache:" \
        "$ROUNDS rounds of 2 warm-up and $RUNS timed runs per command; cold cache:" \
        "$( ((COLD)) && echo "$COLD_RUNS runs per command, page cache dropped before each" || echo "not measured")"
    machine
} | tee "$REPORT"

for i in "${!LABELS[@]}"; do
    label=${LABELS[$i]}
    tree=$WORK/tree-$label
    check_totals "$label" "$tree"
    commands "$tree"

    # Drop commands that fail here rather than abort the whole run.
    args=() keep_names=() keep_cmds=()
    for j in "${!CMDS[@]}"; do
        if eval "${CMDS[$j]}" >/dev/null 2>>"$LOGS/probe.err"; then
            keep_names+=("${NAMES[$j]}"); keep_cmds+=("${CMDS[$j]}")
            args+=(-n "${NAMES[$j]}" "${CMDS[$j]}")
        else
            note "$label: '${NAMES[$j]}' failed on the tree: not measured"
        fi
    done

    say "timing ${#keep_cmds[@]} commands on $label ($ROUNDS rounds of $RUNS runs)"
    csvs=()
    for ((r = 1; r <= ROUNDS; r++)); do
        csv=$WORK/hyperfine-$label-$STAMP-$r.csv
        hyperfine -N --style basic --warmup 2 --runs "$RUNS" --export-csv "$csv" "${args[@]}" \
            >>"$LOGS/hyperfine-$label.log" 2>&1
        csvs+=("$csv")
    done

    cold_csv=
    if ((COLD)); then
        say "timing ${#keep_cmds[@]} commands on $label with a cold cache ($COLD_RUNS runs)"
        cold_csv=$WORK/hyperfine-$label-$STAMP-cold.csv
        hyperfine -N --style basic --prepare "$DROP" --runs "$COLD_RUNS" --export-csv "$cold_csv" \
            "${args[@]}" >>"$LOGS/hyperfine-$label.log" 2>&1
    fi

    say "measuring peak RSS on $label"
    rss_file=$(mktemp)
    for j in "${!keep_cmds[@]}"; do
        kib=$(peak_rss_kib "${keep_cmds[$j]}")
        printf '%s\t%s\n' "${keep_names[$j]}" "$kib" >>"$rss_file"
        [[ ${keep_names[$j]} == "$DEFAULT_NAME" ]] && RSS_KELPO32[$label]=$kib
    done

    {
        echo
        echo "Tree $label: $(sed -n '2p' "$WORK/tree-$label.stamp")"
        echo
        awk -F'\t' -v cold_file="${cold_csv:-}" '
            function median(list,    v, n, i, j, t) {
                n = split(list, v, " ")
                for (i = 2; i <= n; i++)
                    for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
                return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
            }
            FNR == NR { rss[$1] = $2; next }
            FNR == 1 { next }
            {
                # Command names are chosen without commas, so plain splitting works.
                # Columns: command,mean,stddev,median,user,system,min,max
                split($0, f, ",")
                if (FILENAME == cold_file) { cold[f[1]] = f[4]; next }
                if (!(f[1] in wall)) order[++k] = f[1]
                wall[f[1]] = wall[f[1]] " " f[4]
                cpu[f[1]] = cpu[f[1]] " " (f[5] + f[6])
            }
            END {
                floor_t = ("floor" in wall) ? median(wall["floor"]) : 0
                floor_c = ("floor" in cpu) ? median(cpu["floor"]) : 0
                floor_k = ("floor" in cold) ? cold["floor"] : 0
                printf "| %-24s | %8s | %7s | %8s | %7s | %7s | %11s | %14s |\n", "command", "warm (s)",
                    "x floor", "cold (s)", "x floor", "CPU (s)", "CPU x floor", "peak RSS (MiB)"
                printf "|%s|%s|%s|%s|%s|%s|%s|%s|\n", "--------------------------", "---------:",
                    "--------:", "---------:", "--------:", "--------:", "------------:", "---------------:"
                for (i = 1; i <= k; i++) {
                    c = order[i]; t = median(wall[c]); u = median(cpu[c])
                    ct = (c in cold) ? sprintf("%8.3f", cold[c]) : sprintf("%8s", "-")
                    cr = (c in cold && floor_k) ? sprintf("%7.2f", cold[c] / floor_k) : sprintf("%7s", "-")
                    printf "| %-24s | %8.3f | %7.2f | %s | %s | %7.3f | %11.2f | %14.1f |\n", c, t,
                        floor_t ? t / floor_t : 0, ct, cr, u, floor_c ? u / floor_c : 0, rss[c] / 1024
                }
            }' "$rss_file" "${csvs[@]}" ${cold_csv:+"$cold_csv"}
    } | tee -a "$REPORT"
    rm -f "$rss_file"
done

# ---- depth and one large directory ----------------------------------------------

# make_chain N: $WORK/chain-N, N nested directories with one file at the bottom.
make_chain() {
    local dir=$WORK/chain-$1
    [[ -f $dir.done ]] && { echo "$dir"; return; }
    say "generating a chain of $1 directories"
    rm -rf -- "$dir" && mkdir -p "$dir"
    python3 - "$dir" "$1" <<'EOF'
import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
for _ in range(int(sys.argv[2])):
    os.mkdir("d", dir_fd=fd)
    nxt = os.open("d", os.O_RDONLY, dir_fd=fd)
    os.close(fd)
    fd = nxt
os.close(os.open("leaf", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd))
EOF
    touch "$dir.done"
    echo "$dir"
}

# make_flat N: $WORK/flat-N, one directory of N empty files.
make_flat() {
    local dir=$WORK/flat-$1
    [[ -f $dir.done ]] && { echo "$dir"; return; }
    say "generating one directory of $1 files"
    rm -rf -- "$dir" && mkdir -p "$dir"
    python3 - "$dir" "$1" <<'EOF'
import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
for i in range(int(sys.argv[2])):
    os.close(os.open("f%07d" % i, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd))
EOF
    touch "$dir.done"
    echo "$dir"
}

if ((!QUICK)) && [[ -n $KELPO32 ]] && command -v python3 >/dev/null; then
    c5=$(make_chain 5000)
    c20=$(make_chain 20000)
    flat=$(make_flat 1000000)
    k=$(printf '%q' "$KELPO32")
    csv=$WORK/hyperfine-depth-$STAMP.csv
    say "timing the chains with /V1"
    hyperfine -N --style basic --warmup 1 --runs "$RUNS" --export-csv "$csv" \
        -n chain-5000 "$k /V1 $(printf '%q' "$c5")" -n chain-20000 "$k /V1 $(printf '%q' "$c20")" \
        >>"$LOGS/hyperfine-depth.log" 2>&1
    say "measuring peak RSS on the chain and the flat directory"
    rss_chain=$(peak_rss_kib "$k /V1 $(printf '%q' "$c20")")
    rss_flat=$(peak_rss_kib "$k /N $(printf '%q' "$flat")")
    rss_flat_log=$(cd "$WORK" && peak_rss_kib "$k /N /L $(printf '%q' "$flat")")
    {
        echo
        awk -F, 'NR > 1 { t[$1] = $4 } END {
            printf "Depth, /V1, warm: 5,000 levels %.3f s, 20,000 levels %.3f s (%.2f times)\n",
                t["chain-5000"], t["chain-20000"], t["chain-5000"] ? t["chain-20000"] / t["chain-5000"] : 0 }' "$csv"
        awk -v a="$rss_chain" -v b="$rss_flat" -v c="$rss_flat_log" 'BEGIN {
            printf "Kelpo32 peak RSS: 20,000-level chain %.1f MiB, one directory of 1,000,000 files %.1f MiB (%.1f MiB with /L)\n",
                a / 1024, b / 1024, c / 1024 }'
    } | tee -a "$REPORT"
fi

((WINE_RUNS > 0)) && wine_bench


{
    if [[ -n $KELPO32 ]]; then
        echo
        line="Kelpo32 peak RSS:"
        for label in "${LABELS[@]}"; do
            [[ -n ${RSS_KELPO32[$label]:-} ]] && line+=" $label entries $(awk -v k="${RSS_KELPO32[$label]}" 'BEGIN {printf "%.1f", k / 1024}') MiB,"
        done
        if [[ -n ${RSS_KELPO32[100k]:-} && -n ${RSS_KELPO32[1M]:-} ]]; then
            line+=" growth $(awk -v a="${RSS_KELPO32[100k]}" -v b="${RSS_KELPO32[1M]}" 'BEGIN {printf "%.2f", (b - a) / 1024}') MiB"
        fi
        echo "${line%,}"
    fi
    for n in "${NOTES[@]}"; do echo "Note: $n"; done
} | tee -a "$REPORT"
echo "(kept in $REPORT)" >&2
