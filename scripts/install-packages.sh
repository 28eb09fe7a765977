#!/bin/sh
# Installs what is missing from Debian's packages, in groups by need:
#
#   sh scripts/install-packages.sh NEEDED... [--want WANTED...]... [--wine32]
#
# - NEEDED: what the script that calls this cannot do without (for the test command, what builds
#   and runs the native tests). When one of them cannot be installed, this stops with exit code 1
#   and says which and why.
# - --want: a group that the work can go on without; tried whole, then package by package. What
#   cannot be installed is named in one line, and what needs it skips, saying so.
# - --wine32: wine32:i386, last and on its own, only where this machine runs 32-bit programs
#   (cmake/wine-probe.sh --host). Where it cannot be installed, one line says so, and the Wine
#   tests run a 64-bit Keepxfer.exe, as on a machine without 32-bit programs.
#
# The package lists come from `apt-get update`, tried up to three times with a pause between (an
# archive can be in the middle of its sync); an index that still cannot be fetched is named in
# one line, and the packages are installed from the lists that there are.
#
# KEEPXFER_APT_PAUSE sets the pause in seconds (default 15).
set -eu
here=$(dirname "$0")
pause=${KEEPXFER_APT_PAUSE:-15}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# The first error line apt wrote, without its "E: ".
reason() { sed -n 's/^E: //p' "$log" | head -n 1; }

# The groups, as "need|want|wine32<TAB>packages" lines, each with only what is missing.
groups=""
group=need
list=""
close_group() {
  missing=""
  for pkg in $list; do installed "$pkg" || missing="$missing $pkg"; done
  [ -n "$missing" ] && groups="$groups$group	$missing
"
  list=""
}
wine32=""
for arg in "$@"; do
  case $arg in
    --want)
      close_group
      group=want
      ;;
    --wine32) wine32=yes ;;
    *) list="$list $arg" ;;
  esac
done
close_group
if [ -n "$wine32" ] && ! installed wine32:i386; then
  if [ "$(sh "$here/../cmake/wine-probe.sh" --host)" = 32 ]; then
    groups="${groups}wine32	 wine32:i386
"
  fi
fi
[ -z "$groups" ] && exit 0

case $groups in
  *wine32:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    ;;
esac
tries=1
until apt-get update -qq >"$log" 2>&1; do
  if [ "$tries" -ge 3 ]; then
    echo "The package lists could not all be fetched after $tries tries ($(reason)); installing from the lists there are."
    break
  fi
  sleep $((pause * tries))
  tries=$((tries + 1))
done

install() {
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $1 >"$log" 2>&1
}

while IFS='	' read -r kind packages; do
  [ -z "$kind" ] && continue
  echo "Installing:$packages"
  install "$packages" && continue
  case $kind in
    need)
      echo "Cannot install what this needs:$packages ($(reason))." >&2
      exit 1
      ;;
    want)
      left=""
      why=""
      for pkg in $packages; do
        if ! install "$pkg"; then
          left="$left $pkg"
          why=${why:-$(reason)}
        fi
      done
      [ -n "$left" ] && echo "Left out:$left ($why); what needs them skips."
      ;;
    wine32)
      echo "wine32:i386 cannot be installed ($(reason)): the Wine tests run a 64-bit Keepxfer.exe of the same sources."
      ;;
  esac
done <<EOF
$groups
EOF
