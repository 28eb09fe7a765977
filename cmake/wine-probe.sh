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
#
# With --host it asks the machine, before the 32-bit loader is installed, and prints 32 or 64: it
# runs a 32-bit program of 91 bytes written here, an ELF file whose code is
# "xor ebx,ebx; xor eax,eax; inc eax; int 0x80" (exit with code 0). KEEPXFER_WINE32=no makes it
# answer 64, and KEEPXFER_WINE32=yes 32, without asking (the installer's tests).
if [ "${1:-}" = --host ]; then
  if [ "${KEEPXFER_WINE32:-}" = yes ]; then
    echo 32
    exit 0
  fi
  program=$(mktemp)
  trap 'rm -f "$program"' EXIT
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0' >"$program"
  printf '\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10' >>"$program"
  printf '\133\0\0\0\133\0\0\0\5\0\0\0\0\20\0\0\61\333\61\300\100\315\200' >>"$program"
  chmod +x "$program"
  if [ "${KEEPXFER_WINE32:-}" != no ] && "$program" 2>/dev/null; then
    echo 32
  else
    echo 64
  fi
  exit 0
fi
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
if [ "${KEEPXFER_WINE32:-}" != no ] && "$wine32" --version >/dev/null 2>&1; then
  echo "32 $wine32"
elif [ -x "$wine64" ]; then
  echo "64 $wine64"
else
  echo none
fi
