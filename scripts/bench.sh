#!/bin/sh
# Builds keepxfer and its benchmark in build/ (RelWithDebInfo unless it is configured Release)
# and runs the benchmark: the machine first, then one Markdown table. Arguments go to the
# benchmark (entry counts, --program=, --exe=, --wine=).
set -eu
cd "$(dirname "$0")/.."
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' build/CMakeCache.txt 2>/dev/null || true)
case "$type" in Release | RelWithDebInfo) ;; *) type=RelWithDebInfo ;; esac
cmake -S . -B build -DCMAKE_BUILD_TYPE="$type" -DKEEPXFER_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

echo "Machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)," \
  "${TMPDIR:-/tmp} on $(df -PT "${TMPDIR:-/tmp}" | awk 'NR == 2 { print $2 }'), kernel $(uname -r); build $type; load average $(cut -d " " -f 1-3 /proc/loadavg)"
echo
# The tests' Windows program and the loader that runs it (cmake/wine-probe.sh): the 32-bit
# Keepxfer.exe of build/windows, or the 64-bit one of build/windows64 where this machine runs no
# 32-bit programs.
probe=$(sh cmake/wine-probe.sh)
loader=${probe#* } exe=build/windows/Keepxfer.exe
case $probe in
  64*)
    echo "This machine cannot run 32-bit programs: Keepxfer.exe is the 64-bit build."
    exe=build/windows64/Keepxfer.exe
    ;;
  none) loader= ;;
esac
exec build/bench/keepxfer_bench --exe="$exe" --wine="$loader" "$@"
