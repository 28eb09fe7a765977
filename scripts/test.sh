#!/bin/sh
# Installs what is missing from Debian's packages, checks the formatting, builds keepxfer
# natively and Keepxfer.exe for 32-bit Windows (in build/windows), and runs every test: the
# native tests, the end-to-end cases against both programs, the Windows build's own tests and
# the INI differential under Wine, then the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, each fuzz target for a short while, and the release packages,
# built and checked.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-packages.sh cmake make g++ libgtest-dev googletest util-linux clang-format \
  wine64 wine32:i386 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64 \
  clang-14 libclang-rt-14-dev

echo "== formatting =="
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

jobs=2
echo "== keepxfer (native) and Keepxfer.exe (MinGW-w64), tests =="
cmake --preset native >/dev/null
cmake --build build -j"$jobs"
ctest --preset native -j"$jobs"

echo "== sanitizers =="
sh scripts/sanitize.sh

echo "== fuzzing, ${FUZZ_SECONDS:-30} s a target =="
sh scripts/fuzz.sh "${FUZZ_SECONDS:-30}"

echo "== release packages =="
sh scripts/package.sh
