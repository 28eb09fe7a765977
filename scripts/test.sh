#!/bin/sh
# Installs what is missing from Debian's packages, checks the formatting, builds keepxfer
# natively and Keepxfer.exe (in build/windows), and runs every test: the native tests, the
# end-to-end cases against both programs, the Windows build's own tests and the INI differential
# under Wine, then the whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# each fuzz target for a short while, and the release packages, built and checked.
#
# The Windows program under test is the shipped 32-bit Keepxfer.exe where this machine runs
# 32-bit programs; where it does not (cmake/wine-probe.sh decides), a 64-bit build of the same
# sources, and the 32-bit one is built and checked without being run. The first line says so.
#
# Packages come in groups by need (scripts/install-packages.sh): what builds and runs the native
# tests must install; Wine and MinGW-w64, then the tools (clang-format, clang-14 for the fuzz
# targets, strace) may be left out, and what needs them skips, saying so; wine32:i386 comes last.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-packages.sh cmake make g++ libgtest-dev util-linux \
  --want wine64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64 googletest \
  --want clang-format clang-14 libclang-rt-14-dev strace \
  --wine32

case $(sh cmake/wine-probe.sh) in
  64*)
    if [ "$(sh cmake/wine-probe.sh --host)" = 64 ]; then
      echo "This machine cannot run 32-bit programs: the Wine tests run a 64-bit Keepxfer.exe of the same sources; the shipped 32-bit one is built and checked without running it."
    fi
    ;;
  none) echo "Wine is not here: the tests under Wine skip." ;;
esac

echo "== formatting =="
if command -v clang-format >/dev/null; then
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
else
  echo "skipped: clang-format is not installed"
fi

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
