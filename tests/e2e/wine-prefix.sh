#!/bin/sh
# Makes (start) or ends (stop) the Wine prefix that the Wine runs of a test run share, with the
# loader that wine-probe.sh named. Without Wine or Keepxfer.exe there is nothing to do: those
# runs skip with a message.
# Usage: wine-prefix.sh start|stop PREFIX EXE LOADER
set -u
action=$1 prefix=$2 exe=$3 loader=$4
server=/usr/lib/wine/wineserver
export WINEPREFIX="$prefix" WINEDEBUG=-all
if [ -z "$loader" ] || [ ! -f "$exe" ]; then
  echo "Wine runs skip: ${loader:-no Wine loader} or ${exe:-Keepxfer.exe} is missing"
  exit 0
fi
case $action in
  start)
    "$server" -k 2>/dev/null
    rm -rf "$prefix"
    "$loader" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; exit 1; }
    # wineboot's server ends with its last client. A persistent one takes its place, and its
    # services start here, outside any test's process group, so that the many short runs that
    # follow find them there and no test's signal ends them.
    # (None of them may keep this script's output open: the test run waits for its end.)
    "$server" -w
    "$server" -p </dev/null >/dev/null 2>&1
    "$loader" cmd.exe /c exit </dev/null >/dev/null 2>&1
    echo "Wine prefix ready: $prefix ($loader)"
    ;;
  stop)
    "$server" -k 2>/dev/null
    exit 0
    ;;
esac
