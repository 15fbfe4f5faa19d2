#!/bin/bash
# Replays the committed fuzz corpora, then runs each fuzzer for a bounded
# number of runs: recovery from stored records (recover_fuzz, corpus/) and
# the store file itself (store_fuzz, store/corpus/). Exits non-zero when an
# input crashes; the input is kept as BUILD_DIR/fuzz-artifacts/crash-*.
#
# usage: fuzz/run.sh BUILD_DIR [RUNS [SECONDS [STORE_RUNS]]]
#   BUILD_DIR   a build configured with -DRIRE_FUZZ=ON (clang)
#   RUNS        recovery fuzzing iterations (default 20000)
#   SECONDS     time bound of each fuzzing step (default 60)
#   STORE_RUNS  store fuzzing iterations (default 5000)
set -euo pipefail

build=${1:?usage: fuzz/run.sh BUILD_DIR [RUNS [SECONDS [STORE_RUNS]]]}
seconds=${3:-60}
here=$(cd "$(dirname "$0")" && pwd)
# RIRE_LAUNCHER: empty, or the command that starts an i386 program here.
: "${RIRE_LAUNCHER:=}"

# The store syncs every commit: keep its state directory in memory when we can.
scratch_root=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_root=/dev/shm
work=$(mktemp -d "$scratch_root/rire-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"

# The fuzzer's runtime lists directories without large-file support, so a
# 32-bit build can read a directory on a 64-bit file system as empty. Each
# fuzzer is handed its committed corpus file by file, then checked to have
# loaded every one. New inputs go to the scratch directory; the committed
# corpora are only read.
fuzz() { # name, corpus directory, runs, max_len
    local fuzzer=$build/$1 corpus=("$2"/*)
    [ -x "$fuzzer" ] || { echo "run.sh: no $fuzzer (configure with -DRIRE_FUZZ=ON)" >&2; exit 2; }
    echo "== $1: replaying ${#corpus[@]} corpus inputs"
    $RIRE_LAUNCHER "$fuzzer" -artifact_prefix="$artifacts/" "${corpus[@]}"
    echo "== $1: fuzzing, $3 runs, at most ${seconds}s"
    mkdir -p "$work/$1"
    $RIRE_LAUNCHER "$fuzzer" -artifact_prefix="$artifacts/" -runs="$3" -max_total_time="$seconds" \
        -max_len="$4" -print_final_stats=1 -seed_inputs="$(IFS=,; echo "${corpus[*]}")" "$work/$1" 2>&1 |
        tee "$work/$1.log"
    local loaded
    loaded=$(sed -n 's/^INFO: seed corpus: files: \([0-9]*\).*/\1/p' "$work/$1.log")
    echo "== $1: fuzzing started from ${loaded:-0} of ${#corpus[@]} corpus inputs"
    [ "${loaded:-0}" -eq "${#corpus[@]}" ] || { echo "run.sh: $1 did not load the whole corpus" >&2; exit 1; }
}

fuzz recover_fuzz "$here/corpus" "${2:-20000}" 4096
# A store input is a whole data.mdb of a few dozen pages.
fuzz store_fuzz "$here/store/corpus" "${4:-5000}" 81920
