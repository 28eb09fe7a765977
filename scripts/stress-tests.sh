#!/bin/sh
# Runs the native test suite (the cases under Wine left out) ROUNDS times (default 10) with
# ctest -j4 while two busy loops keep both cores full, and lists every test that failed in any
# round; exits 1 when there is one. Builds build/ with the native preset first. Not part of the
# test command: it looks for tests that depend on timing or on each other.
# Usage: sh scripts/stress-tests.sh [ROUNDS]
set -eu
cd "$(dirname "$0")/.."
rounds=${1:-10}
cmake --preset native >/dev/null
cmake --build build -j2 >/dev/null

yes >/dev/null &
busy1=$!
yes >/dev/null &
busy2=$!
failures=$(mktemp)
trap 'kill "$busy1" "$busy2" 2>/dev/null; rm -f "$failures"' EXIT

round=1
while [ "$round" -le "$rounds" ]; do
  rm -f build/Testing/Temporary/LastTestsFailed.log
  start=$(date +%s)
  (cd build && ctest -j4 -E 'Wine|wine_prefix|windows_unit_tests' >/dev/null 2>&1) || true
  failed=0
  if [ -f build/Testing/Temporary/LastTestsFailed.log ]; then
    sed "s/^[0-9]*:/round $round: /" build/Testing/Temporary/LastTestsFailed.log >>"$failures"
    failed=$(wc -l <build/Testing/Temporary/LastTestsFailed.log)
  fi
  echo "round $round of $rounds: $failed failed ($(($(date +%s) - start)) s, load $(cut -d ' ' -f 1 /proc/loadavg))"
  round=$((round + 1))
done

if [ -s "$failures" ]; then
  echo "Tests that failed:"
  cat "$failures"
  exit 1
fi
echo "No test failed in $rounds rounds."
