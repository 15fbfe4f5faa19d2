#!/usr/bin/env bash
# Builds and runs every test this machine can run, after installing what they
# need. Where i386 programs run natively: the plain build, the AddressSanitizer
# + UndefinedBehaviorSanitizer build with leak checks, and bounded libFuzzer
# runs of the recovery decoder and of the store file over their committed
# corpora. Where they run only under qemu (scripts/exec-mode.sh),
# AddressSanitizer cannot run, so the sanitizer build and the fuzzer use
# UndefinedBehaviorSanitizer alone.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/exec-mode.sh
rire_probe_exec_mode

jobs=$(nproc)
passed=0 ran=() skipped=()
run_suite() { # name, build-dir, extra cmake args...
    local name=$1 dir=$2
    shift 2
    echo "== $name =="
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRIRE_LAUNCHER="$RIRE_LAUNCHER" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" | tee "$dir/ctest.log"
    passed=$((passed + $(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\)/\1/p' "$dir/ctest.log")))
    ran+=("$name")
}
skip() { # name, why
    echo "== $1: $2: skipped =="
    skipped+=("$1")
}

run_suite plain build
if [ "$RIRE_EXEC_MODE" = native ]; then
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_suite "ASan+UBSan" build-asan -DRIRE_SANITIZE=ON
    fuzz_sanitizer=ON
else
    skip "ASan+LSan" "AddressSanitizer and LeakSanitizer need native 32-bit execution"
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_suite UBSan build-ubsan -DRIRE_SANITIZE=undefined
    fuzz_sanitizer=undefined
fi

echo "== fuzz ($fuzz_sanitizer): corpus replay and a bounded run =="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DRIRE_FUZZ=ON -DRIRE_SANITIZE=$fuzz_sanitizer \
    -DRIRE_LAUNCHER="$RIRE_LAUNCHER" >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzzers
timeout 900 bash fuzz/run.sh build-fuzz
passed=$((passed + 1))
ran+=("fuzz")

echo "32-bit programs: $RIRE_EXEC_MODE ($RIRE_EXEC_WHY)"
echo "suites run: ${ran[*]}${skipped:+; skipped: ${skipped[*]}}"
echo "tests: $passed passed, 0 failed"
