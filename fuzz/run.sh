#!/bin/sh
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and runs each for a bounded time, starting from its committed seed
# corpus. Exits non-zero when a target finds a crash, a sanitizer report or a
# violated property; the failing input is kept under the build folder.
#
#   fuzz/run.sh [SECONDS]     seconds per target, 20 by default
#
# KELPO32_FUZZ_BUILD overrides the build folder (build/fuzz).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build=${KELPO32_FUZZ_BUILD:-$root/build/fuzz}

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DKELPO32_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target fuzz_cmdline fuzz_numbers fuzz_saved

failed=""
for target in cmdline numbers saved; do
    # New inputs go to a scratch folder; the committed corpus is only read.
    scratch="$build/corpus/$target"
    findings="$build/findings/$target"
    mkdir -p "$scratch" "$findings"
    extra=""
    if [ "$target" = saved ]; then
        # Each seed runs whole first: some are longer than the inputs fuzzed
        # (more than a thousand directories), which would slow every run.
        echo "== fuzz_saved: the seeds whole"
        if ! "$build/fuzz_saved" "$root"/fuzz/corpus/saved/* 2>"$build/fuzz_saved_seeds.log"; then
            tail -n 40 "$build/fuzz_saved_seeds.log"
            failed="$failed fuzz_saved(seeds)"
        fi
        # The words of the format: keys, values, escapes.
        extra="-dict=$root/fuzz/saved.dict"
    fi
    echo "== fuzz_$target: $seconds s"
    # shellcheck disable=SC2086 # $extra is empty or one option
    if ! "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -max_len=4096 $extra \
        -print_final_stats=1 -artifact_prefix="$findings/" \
        "$scratch" "$root/fuzz/corpus/$target" 2>"$build/fuzz_$target.log"; then
        tail -n 40 "$build/fuzz_$target.log"
        failed="$failed fuzz_$target"
    else
        grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec)' \
            "$build/fuzz_$target.log" || true
    fi
done

if [ -n "$failed" ]; then
    echo "fuzzing found problems in:$failed (inputs in $build/findings)" >&2
    exit 1
fi
echo "fuzzing: no findings"
