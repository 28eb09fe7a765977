#!/bin/sh
# Keepxfer.exe imports only functions that Windows 7 has: each import must be in the list.
# Usage: windows-imports.sh OBJDUMP EXE LIST
set -eu
objdump=$1 exe=$2 list=$3
imports=$("$objdump" -p "$exe" | awk '/DLL Name/ { dll = $3 } /^\t[ 0-9a-f]+\t/ { print dll " " $NF }' | sort -u)
[ -n "$imports" ] || { echo "no imports found in $exe"; exit 1; }
unknown=$(printf '%s\n' "$imports" | grep -vxF -f "$list" || true)
if [ -n "$unknown" ]; then
  echo "imports not known to be in Windows 7:"
  echo "$unknown"
  exit 1
fi
echo "$(printf '%s\n' "$imports" | wc -l) imports, all in Windows 7"
