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

echo "== replaying $(ls "$here/corpus" | wc -l) corpus inputs"
$RIRE_LAUNCHER "$fuzzer" -artifact_prefix="$artifacts/" "$here"/corpus/*

echo "== fuzzing: $runs runs, at most ${seconds}s"
# New inputs go to the scratch directory; the committed corpus is only read.
$RIRE_LAUNCHER "$fuzzer" -artifact_prefix="$artifacts/" -runs="$runs" -max_total_time="$seconds" \
    -max_len=4096 -print_final_stats=1 "$work/new" "$here/corpus"
