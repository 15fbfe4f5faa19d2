#!/bin/bash
# Replays the committed fuzz corpus, then fuzzes recovery for a bounded number
# of runs. Exits non-zero when an input crashes; the input is kept as
# BUILD_DIR/fuzz-artifacts/crash-*.
#
# usage: fuzz/run.sh BUILD_DIR [RUNS [SECONDS]]
#   BUILD_DIR  a build configured with -DRIRE_FUZZ=ON (clang)
#   RUNS       fuzzing iterations (default 20000)
#   SECONDS    time bound of the fuzzing step (default 60)
set -euo pipefail

build=${1:?usage: fuzz/run.sh BUILD_DIR [RUNS [SECONDS]]}
runs=${2:-20000}
seconds=${3:-60}
here=$(cd "$(dirname "$0")" && pwd)
fuzzer=$build/recover_fuzz
# RIRE_LAUNCHER: empty, or the command that starts an i386 program here.
: "${RIRE_LAUNCHER:=}"
[ -x "$fuzzer" ] || { echo "run.sh: no $fuzzer (configure with -DRIRE_FUZZ=ON)" >&2; exit 2; }

# The store syncs every commit: keep its state directory in memory when we can.
scratch_root=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_root=/dev/shm
work=$(mktemp -d "$scratch_root/rire-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts" "$work/new"

corpus=("$here"/corpus/*)
echo "== replaying ${#corpus[@]} corpus inputs"
$RIRE_LAUNCHER "$fuzzer" -artifact_prefix="$artifacts/" "${corpus[@]}"

echo "== fuzzing: $runs runs, at most ${seconds}s"
# The fuzzer's runtime lists directories without large-file support, so a
# 32-bit build can read a directory on a 64-bit file system as empty. Hand it
# the committed corpus file by file, then check that it loaded every one. New
# inputs go to the scratch directory; the committed corpus is only read.
seeds=$(IFS=,; echo "${corpus[*]}")
$RIRE_LAUNCHER "$fuzzer" -artifact_prefix="$artifacts/" -runs="$runs" -max_total_time="$seconds" \
    -max_len=4096 -print_final_stats=1 -seed_inputs="$seeds" "$work/new" 2>&1 | tee "$work/fuzz.log"
loaded=$(sed -n 's/^INFO: seed corpus: files: \([0-9]*\).*/\1/p' "$work/fuzz.log")
echo "== fuzzing started from ${loaded:-0} of ${#corpus[@]} corpus inputs"
[ "${loaded:-0}" -eq "${#corpus[@]}" ] || { echo "run.sh: the fuzzer did not load the whole corpus" >&2; exit 1; }
