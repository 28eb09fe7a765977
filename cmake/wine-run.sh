#!/bin/sh
# Runs a Windows program under Wine, quietly, in a prefix shared by all runs (created on
# first use). WINE names another loader; WINEPREFIX another prefix.
: "${WINEPREFIX:=${TMPDIR:-/tmp}/kx-wine}"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
exec "${WINE:-/usr/lib/wine/wine64}" "$@"
