#!/bin/sh
# Installs what is missing from Debian's packages, builds keepxfer natively and
# Keepxfer.exe for Windows, and runs every test: the Windows build's own tests
# under Wine, the native tests with the end-to-end cases against both
# programs, the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and each fuzz target for a short while.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-packages.sh cmake make g++ libgtest-dev googletest util-linux \
  wine64 g++-mingw-w64-x86-64-posix mingw-w64 clang-14 libclang-rt-14-dev

jobs=2
echo "== Keepxfer.exe (MinGW-w64), tests under Wine =="
cmake --preset windows >/dev/null
cmake --build build-win -j"$jobs"
ctest --preset windows -j"$jobs"

echo "== keepxfer (native), tests =="
cmake --preset native >/dev/null
cmake --build build -j"$jobs"
ctest --preset native -j"$jobs"

echo "== sanitizers =="
sh scripts/sanitize.sh

echo "== fuzzing, ${FUZZ_SECONDS:-30} s a target =="
sh scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
