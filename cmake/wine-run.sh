#!/bin/sh
# Runs a Windows program under Wine, quietly, in a prefix shared by all runs (created on first
# use). WINEPREFIX names another prefix; WINE another loader (default: the 32-bit one, which
# also starts 64-bit programs through wine64 where that is installed).
: "${WINEPREFIX:=${TMPDIR:-/tmp}/kx-wine}"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
if [ -z "${WINE:-}" ]; then
  WINE=/usr/lib/wine/wine
  [ -x "$WINE" ] || WINE=/usr/lib/wine/wine64
fi
exec "$WINE" "$@"
