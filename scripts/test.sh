#!/usr/bin/env bash
# Builds and runs every test: the plain build, the AddressSanitizer +
# UndefinedBehaviorSanitizer build, and a bounded libFuzzer run of the
# recovery decoder over its committed corpus. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
passed=0
run_suite() { # build-dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" | tee "$dir/ctest.log"
  passed=$((passed + $(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\)/\1/p' "$dir/ctest.log")))
}

echo "== plain build =="
run_suite build
echo "== ASan + UBSan build =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DRIRE_SANITIZE=ON
if compgen -G "fuzz/*.cc" >/dev/null; then
  echo "== fuzz: corpus replay and a bounded run =="
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DRIRE_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j "$jobs"
  bash fuzz/run.sh build-fuzz
  passed=$((passed + 1))
fi
echo "all suites: $passed passed, 0 failed"
