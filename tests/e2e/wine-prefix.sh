#!/bin/sh
# Makes (start) or ends (stop) the Wine prefix that the Wine runs of a test
# run share. Without Wine or Keepxfer.exe there is nothing to do: those runs
# skip with a message.
set -u
action=$1 prefix=$2 exe=$3
loader=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
export WINEPREFIX="$prefix" WINEDEBUG=-all
if [ ! -x "$loader" ] || [ ! -f "$exe" ]; then
  echo "Wine runs skip: wine64 or $exe is missing"
  exit 0
fi
case $action in
  start)
    "$server" -k 2>/dev/null
    rm -rf "$prefix"
    "$loader" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; exit 1; }
    # Keep the server up between the many short runs that follow.
    "$server" -p
    echo "Wine prefix ready: $prefix"
    ;;
  stop)
    "$server" -k 2>/dev/null
    exit 0
    ;;
esac
