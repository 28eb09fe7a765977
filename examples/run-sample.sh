#!/bin/sh
# Builds keepxfer and exports the bundled sample installation.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-packages.sh cmake make g++
cmake -S . -B build -DKEEPXFER_TESTS=OFF -DKEEPXFER_BENCH=OFF >/dev/null
cmake --build build -j2 >/dev/null

prefix="$PWD/examples/sample-prefix"
mkdir -p "$prefix/drive_c/Program Files/Framekeep"
sh examples/make-sample-targets.sh "$prefix/drive_c/Program Files/Framekeep/Targets.DAT"
export WINEPREFIX="$prefix"
build/keepxfer
build/keepxfer -Exp
echo
echo "== build/keepxfer.INI =="
cat build/keepxfer.INI
