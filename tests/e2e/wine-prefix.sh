#!/bin/sh
# Makes (start), restarts with its registry written (restart) or ends (stop) the Wine prefix that
# the Wine runs of a test run share, with the loader that wine-probe.sh named. Without Wine or
# Keepxfer.exe there is nothing to do: those runs skip with a message.
# Usage: wine-prefix.sh start|restart|stop PREFIX EXE LOADER
set -u
action=$1 prefix=$2 exe=$3 loader=$4
server=/usr/lib/wine/wineserver
export WINEPREFIX="$prefix" WINEDEBUG=-all
if [ -z "$loader" ] || [ ! -f "$exe" ]; then
  echo "Wine runs skip: ${loader:-no Wine loader} or ${exe:-Keepxfer.exe} is missing"
  exit 0
fi
# A persistent server in place of whatever ran the prefix, and its services started here, outside
# any test's process group, so that the many short runs that follow find them there and no test's
# signal ends them. None of them may keep this script's output open: whoever reads it (the test
# run, a test's pipe) would wait for their end.
persist() {
  "$server" -p </dev/null >/dev/null 2>&1
  "$loader" cmd.exe /c exit </dev/null >/dev/null 2>&1
}
case $action in
  start)
    "$server" -k 2>/dev/null
    rm -rf "$prefix"
    "$loader" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; exit 1; }
    # wineboot's server ends with its last client.
    "$server" -w
    persist
    echo "Wine prefix ready: $prefix ($loader)"
    ;;
  restart)
    # The server writes the registry to its files when it ends.
    "$server" -k 2>/dev/null
    persist
    ;;
  stop)
    "$server" -k 2>/dev/null
    exit 0
    ;;
esac
