#!/bin/sh
# Builds keepxfer and exports the bundled sample installation.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-packages.sh cmake make g++
cmake -S . -B build-sample -DKEEPXFER_TESTS=OFF -DKEEPXFER_BENCH=OFF >/dev/null
cmake --build build-sample -j2 >/dev/null

prefix="$PWD/examples/sample-prefix"
mkdir -p "$prefix/drive_c/Program Files/Framekeep"
sh examples/make-sample-targets.sh "$prefix/drive_c/Program Files/Framekeep/Targets.DAT"
export WINEPREFIX="$prefix"
build-sample/keepxfer
build-sample/keepxfer -Exp
echo
echo "== build-sample/keepxfer.INI =="
cat build-sample/keepxfer.INI
