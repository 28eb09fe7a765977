#!/bin/sh
# Installs what is missing from Debian's packages, builds keepxfer natively and
# Keepxfer.exe for Windows, and runs every test: the Windows build's own tests
# under Wine, then the native tests with the end-to-end cases against both
# programs.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-packages.sh cmake make g++ libgtest-dev googletest util-linux \
  wine64 g++-mingw-w64-x86-64-posix mingw-w64

jobs=2
echo "== Keepxfer.exe (MinGW-w64), tests under Wine =="
cmake --preset windows >/dev/null
cmake --build build-win -j"$jobs"
ctest --preset windows -j"$jobs"

echo "== keepxfer (native), tests =="
cmake --preset native >/dev/null
cmake --build build -j"$jobs"
ctest --preset native -j"$jobs"
