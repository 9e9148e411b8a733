#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for SECONDS (default 60) with its seed corpus and the dictionary.
# Prints one line per target; fails when any target finds a crash, a leak, a hang, a
# sanitizer report or runs out of memory, and then shows the report.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
build=$root/build-fuzz
all_targets=(scenario checkpoint tags replay moment save read_pages picture recorded tools font)
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")

mkdir -p "$build"
if ! CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOLVANE_FUZZ=ON -DTOLVANE_TESTS=OFF -DTOLVANE_BENCH=OFF -DTOLVANE_WERROR=ON \
    >"$build/configure.log" 2>&1; then
    cat "$build/configure.log"
    echo "fuzz: configuring build-fuzz failed"
    exit 1
fi
if ! cmake --build "$build" -j"$(nproc)" --target fuzz_all >"$build/build.log" 2>&1; then
    tail -n 60 "$build/build.log"
    echo "fuzz: building the fuzz targets failed (is libclang-rt-14-dev installed?)"
    exit 1
fi

# Inputs long enough for a page of 2048 bytes plus its tail, or both demo blocks.
declare -A max_len=([scenario]=20000 [checkpoint]=1024 [moment]=32768 [save]=65536 [read_pages]=4096 [picture]=65536 [recorded]=16384 [tags]=4200 [replay]=4096 [tools]=20000 [font]=4096)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/fuzz/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
passed=0
for t in "${targets[@]}"; do
    binary=$build/fuzz/fuzz_$t
    if [ ! -x "$binary" ]; then
        echo "fuzz $t: no such target"
        failed=$((failed + 1))
        continue
    fi
    # New inputs go into the build folder; the committed seeds are only read.
    work=$build/corpus/$t
    artifacts=$build/artifacts/$t
    mkdir -p "$work" "$artifacts"
    log=$build/fuzz-$t.log
    status=0
    "$binary" "$work" "$root/fuzz/corpus/$t" -dict="$root/fuzz/tolvane.dict" \
        -max_total_time="$seconds" -max_len="${max_len[$t]:-4096}" -rss_limit_mb=2048 \
        -timeout=20 -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" \
        >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n 1)
    last=$(grep -E '^#[0-9]+' "$log" | grep 'cov:' | tail -n 1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
    result=ok
    ((status == 0)) || result="FAILED (exit $status)"
    echo "fuzz $t: ${runs:-?} runs in ${seconds}s, cov ${cov:-?}, ft ${ft:-?}, corpus ${corp:-?}," \
        "peak rss ${rss:-?} MB: $result"
    if ((status == 0)); then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        grep -E 'ERROR|SUMMARY|fuzz check failed|runtime error|Test unit written' "$log" | head -n 20
        crash=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
        if [ -n "$crash" ]; then
            echo "--- reproduce: $binary $crash"
            "$binary" -timeout=20 "$crash" 2>&1 | grep -v '^INFO:' | head -n 60 || true
        fi
    fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
