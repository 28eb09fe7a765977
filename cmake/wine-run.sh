#!/bin/sh
# Runs a Windows program under Wine, quietly, in a prefix shared by all runs (created on first
# use; WINEPREFIX names another). Usage: wine-run.sh LOADER PROGRAM [ARGUMENTS...], with the
# loader that wine-probe.sh named.
: "${WINEPREFIX:=${TMPDIR:-/tmp}/kx-wine}"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
loader=$1
shift
exec "$loader" "$@"
