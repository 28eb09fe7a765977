#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ and runs
# the whole test suite there. The end-to-end tests start the program built there, so it runs
# sanitized as well. Any report (a memory error, undefined behaviour, a leak) stops the process
# that made it with a failure, which fails its test.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-packages.sh cmake make g++ libgtest-dev util-linux

jobs=${JOBS:-2}
# Keepxfer.exe is not rebuilt here: its runs under Wine are the native test run's.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEEPXFER_SANITIZE=ON \
  -DKEEPXFER_WERROR=ON -DKEEPXFER_TESTS=ON -DKEEPXFER_WINDOWS_BUILD=OFF >/dev/null
cmake --build build-asan -j"$jobs"

# No recovery: the build stops at the first report of UndefinedBehaviorSanitizer, and these
# make AddressSanitizer's reports fatal and complete.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
(cd build-asan && ctest --output-on-failure -j"$jobs")
