#!/bin/sh
# Whether this machine can run 32-bit Windows programs, asked in one place for every script,
# build and test that runs a Windows program. The only test is to run the 32-bit Wine loader:
# some hosts of one machine kind run 32-bit programs and others do not, and neither the kernel
# nor the installed packages tell which.
#
# Prints one line, "<bits> <loader>":
#   32 /usr/lib/wine/wine     32-bit programs run: the shipped 32-bit Keepxfer.exe is tested
#   64 /usr/lib/wine/wine64   they do not: a 64-bit build of the same sources is tested
#   none                      no Wine here: the runs under Wine skip, saying so
# KEEPXFER_WINE32=no gives the 64-bit answer on any machine, to try that path where both run.
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
if [ "${KEEPXFER_WINE32:-}" != no ] && "$wine32" --version >/dev/null 2>&1; then
  echo "32 $wine32"
elif [ -x "$wine64" ]; then
  echo "64 $wine64"
else
  echo none
fi
