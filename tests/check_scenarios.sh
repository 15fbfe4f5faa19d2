#!/usr/bin/env bash
# Each bundled scenario runs in a fresh state directory and must print exactly
# its transcript (NAME.out beside it). A scenario NAME.scn with a NAME.2.scn
# beside it runs the second one on the same state: a real process restart.
# usage: check_scenarios.sh RIRE_HOST SCENARIO_DIR
set -uo pipefail
host=$1 dir=$2 fail=0 count=0
# RIRE_LAUNCHER: empty, or the command that starts an i386 program here.
: "${RIRE_LAUNCHER:=}"
diffs=$(mktemp)
trap 'rm -f "$diffs"' EXIT
for scn in "$dir"/*.scn; do
  case $scn in *.2.scn) continue ;; esac
  name=${scn%.scn}
  state=$(mktemp -d)
  actual=$( { $RIRE_LAUNCHER "$host" --state "$state" "$scn"; [ -f "$name.2.scn" ] && $RIRE_LAUNCHER "$host" --state "$state" "$name.2.scn"; } 2>&1)
  rm -rf "$state"
  count=$((count + 1))
  if ! diff -u "$name.out" <(printf '%s\n' "$actual") >"$diffs"; then
    echo "FAIL $(basename "$scn"):"; cat "$diffs"; fail=1
  fi
done
echo "$count scenario transcripts checked"
exit $fail
