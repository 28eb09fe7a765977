#!/bin/sh
# Installs what is missing, builds keepxfer and runs every test.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-packages.sh cmake make g++ libgtest-dev util-linux

jobs=2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
