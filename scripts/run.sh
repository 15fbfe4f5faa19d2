#!/usr/bin/env bash
# Builds rire-host and the plugin, then walks a held DI from link update to
# completion, across a process restart, on a fresh state directory, printing
# its transcript.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
source scripts/exec-mode.sh
rire_probe_exec_mode
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRIRE_LAUNCHER="$RIRE_LAUNCHER" >/dev/null
cmake --build build -j "$(nproc)" --target rire-host zarided_kelda_orsk_platform >&2
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
$RIRE_LAUNCHER build/rire-host --state "$state" scenarios/held-di.t
