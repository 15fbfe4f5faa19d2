#!/usr/bin/env bash
# Builds rire-host and the plugin, then walks a held DI from link update to
# completion, across a restart, on a fresh state directory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target rire-host zarided_kelda_orsk_platform
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
build/rire-host --state "$state" scenarios/held-di.scn
