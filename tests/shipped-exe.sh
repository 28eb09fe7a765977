#!/bin/sh
# What can be checked of the shipped Keepxfer.exe without running it, read from the file itself:
# a 32-bit (PE32, i386) program; every function it imports is in Windows 7 (the list); its
# version resource says what the program is; no manifest asks for an execution level.
# Usage: shipped-exe.sh TRIPLET EXE LIST     (TRIPLET: the MinGW-w64 tools' prefix)
set -eu
tools=$1 exe=$2 list=$3
fail() {
  echo "$exe: $*"
  exit 1
}
bytes() { od -An -tx1 -j "$1" -N "$2" "$exe" | tr -d ' \n'; }

# The PE header: machine i386 (4c 01), and an optional header of PE32 (0b 01), not PE32+.
pe=$(od -An -tu4 -j 60 -N 4 "$exe" | tr -d ' ')
[ "$(bytes "$pe" 4)" = 50450000 ] || fail "no PE header"
[ "$(bytes $((pe + 4)) 2)" = 4c01 ] || fail "machine $(bytes $((pe + 4)) 2), not i386 (4c01)"
[ "$(bytes $((pe + 24)) 2)" = 0b01 ] || fail "optional header $(bytes $((pe + 24)) 2), not PE32 (0b01)"

imports=$("$tools-objdump" -p "$exe" |
  awk '/DLL Name/ { dll = $3 } /^\t[ 0-9a-f]+\t/ { print dll " " $NF }' | sort -u)
[ -n "$imports" ] || fail "no imports found"
unknown=$(printf '%s\n' "$imports" | grep -vxF -f "$list" || true)
[ -z "$unknown" ] || fail "imports not known to be in Windows 7: $unknown"

resources=$("$tools-windres" -J coff -i "$exe" -O rc)
for value in '"CompanyName", "https://framekeep.example/"' \
  '"FileDescription", "Framekeep Export/Import"' '"FileVersion", "1.32"' \
  '"ProductName", "Keepxfer"' '"ProductVersion", "1.32"' '"OriginalFilename", "Keepxfer.exe"'; do
  printf '%s\n' "$resources" | grep -qF "VALUE $value" || fail "no version value $value"
done
printf '%s\n' "$resources" | grep -q '^ FILEVERSION 1, 32, 0, 0$' || fail "file version is not 1.32"
# A manifest is resource type 24; an execution level would be asked for in one.
if printf '%s\n' "$resources" | grep -q '^/\* Type: \(24\|manifest\)'; then fail "has a manifest"; fi
if grep -q requestedExecutionLevel "$exe"; then fail "asks for an execution level"; fi

echo "$exe: PE32 i386, $(printf '%s\n' "$imports" | wc -l) imports all in Windows 7, version 1.32, no manifest"
