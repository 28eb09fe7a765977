#!/bin/sh
# scripts/install-packages.sh against a package archive made up here: apt-get, dpkg-query and dpkg
# on the PATH are stand-ins that keep their state in a folder, so that a half-synced archive, a
# package that cannot be installed and a machine with or without 32-bit programs happen on cue.
# Each case: the installer's arguments, the archive's state, and what must come out.
# Usage: install-packages_test.sh SOURCE_DIR
set -u
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/sh
eval "pkg=\${$#}"
grep -qx "$pkg" "$FAKE/installed" && echo "install ok installed"
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/bin/sh
[ "$1" = --add-architecture ] && echo "$2" >>"$FAKE/architectures"
[ "$1" = --print-foreign-architectures ] && cat "$FAKE/architectures" 2>/dev/null
exit 0
EOF
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
echo "$*" >>"$FAKE/calls"
if [ "$1" = update ]; then
  failures=$(cat "$FAKE/update-failures")
  [ "$failures" -gt 0 ] || exit 0
  echo $((failures - 1)) >"$FAKE/update-failures"
  echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
fi
shift 4 # install -y -qq --no-install-recommends
for pkg in "$@"; do
  if grep -qx "$pkg" "$FAKE/broken"; then
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100
  fi
done
for pkg in "$@"; do echo "$pkg" >>"$FAKE/installed"; done
EOF
chmod +x "$work/bin/"*

failed=0
# case NAME INSTALLED BROKEN UPDATE-FAILURES HOST EXPECTED-CODE EXPECTED-INSTALLED -- ARGS...
# The output must hold every line of $expect (set before the call), and nothing else.
case_() {
  name=$1 installed=$2 broken=$3 failures=$4 host=$5 code=$6 wanted=$7
  shift 8
  FAKE=$work/$name
  mkdir "$FAKE"
  printf '%s\n' $installed >"$FAKE/installed"
  printf '%s\n' $broken >"$FAKE/broken"
  echo "$failures" >"$FAKE/update-failures"
  PATH="$work/bin:$PATH" FAKE=$FAKE KEEPXFER_APT_PAUSE=0 KEEPXFER_WINE32=$host \
    sh "$source_dir/scripts/install-packages.sh" "$@" >"$FAKE/out" 2>&1
  got=$?
  problem=""
  [ "$got" = "$code" ] || problem="exit code $got, not $code"
  for pkg in $wanted; do
    grep -qx "$pkg" "$FAKE/installed" || problem="$problem; $pkg is not installed"
  done
  if [ "$(sort "$FAKE/out")" != "$(printf '%s\n' "$expect" | sed '/^$/d' | sort)" ]; then
    problem="$problem; the output differs"
  fi
  if [ -n "$problem" ]; then
    echo "FAILED $name: $problem"
    echo "--- output:"
    cat "$FAKE/out"
    echo "--- expected:"
    printf '%s\n' "$expect"
    failed=1
  else
    echo "ok $name"
  fi
}
fetch="Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
held="Unable to correct problems, you have held broken packages."

expect=""
case_ nothing-missing "cmake gcc" "" 3 no 0 "cmake gcc" -- cmake --want gcc
[ "$(cat "$work/nothing-missing/calls" 2>/dev/null)" = "" ] || {
  echo "FAILED nothing-missing: apt-get ran"
  failed=1
}

expect="Installing: cmake
Installing: wine64"
case_ archive-synced-on-the-second-try "" "" 1 no 0 "cmake wine64" -- cmake --want wine64

expect="The package lists could not all be fetched after 3 tries ($fetch); installing from the lists there are.
Installing: cmake g++
Installing: wine64 strace"
case_ archive-mid-sync "" "" 9 no 0 "cmake g++ wine64 strace" -- cmake g++ --want wine64 strace

expect="Installing: cmake g++
Cannot install what this needs: cmake g++ ($held)."
case_ a-needed-package-fails "" "g++" 0 no 1 "" -- cmake g++ --want wine64

expect="Installing: clang-14 strace
Left out: clang-14 ($held); what needs them skips.
Installing: wine64"
case_ a-wanted-package-fails "cmake" "clang-14" 0 no 0 "strace wine64" -- cmake --want clang-14 strace --want wine64

expect="Installing: cmake
Installing: wine32:i386
wine32:i386 cannot be installed ($held): the Wine tests run a 64-bit Keepxfer.exe of the same sources."
case_ wine32-cannot-be-installed "" "wine32:i386" 0 yes 0 "cmake" -- cmake --wine32
grep -qx i386 "$work/wine32-cannot-be-installed/architectures" || {
  echo "FAILED wine32-cannot-be-installed: the i386 architecture was not added"
  failed=1
}

expect="Installing: cmake"
case_ no-wine32-without-32-bit-programs "" "" 0 no 0 "cmake" -- cmake --wine32
grep -q wine32 "$work/no-wine32-without-32-bit-programs/calls" && {
  echo "FAILED no-wine32-without-32-bit-programs: wine32:i386 was asked for"
  failed=1
}

exit $failed
