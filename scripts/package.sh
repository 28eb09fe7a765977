#!/bin/sh
# Builds the release packages, stripped, into dist/: Keepxfer-1.32-win32.zip (Keepxfer.exe,
# 32-bit, and README.txt) and keepxfer-1.32-linux-x86_64.tar.gz (bin/keepxfer and its manual
# page), then checks what they hold: the files, README.txt's CR LF line ends, the manual page,
# Keepxfer.exe as far as its file tells (tests/shipped-exe.sh), and both programs' long help,
# Keepxfer.exe's under Wine. Where this machine runs no 32-bit programs (cmake/wine-probe.sh),
# that run is the 64-bit build's of the same sources, and the script says so. A part whose
# packages could not be installed (MinGW-w64, Wine, groff, man-db, unzip) is skipped, and the
# script says which and why.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-packages.sh cmake make g++ \
  --want g++-mingw-w64-i686-posix mingw-w64 wine64 groff man-db zip unzip --wine32
has() { command -v "$1" >/dev/null; }
skipped() { echo "skipped: $*"; }
version=1.32
rm -rf dist
mkdir -p dist

cmake --no-warn-unused-cli -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKEEPXFER_TESTS=OFF \
  -DKEEPXFER_WERROR=ON >/dev/null
cmake --build build-release -j2 >/dev/null
(cd build-release && cpack -B "$PWD/../dist" >/dev/null)
windows=""
if has i686-w64-mingw32-g++-posix; then
  windows=yes
  cmake --no-warn-unused-cli -S . -B build-release-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKEEPXFER_TESTS=OFF -DKEEPXFER_WERROR=ON >/dev/null
  cmake --build build-release-win -j2 >/dev/null
  (cd build-release-win && cpack -B "$PWD/../dist" >/dev/null)
else
  skipped "the Windows package: g++-mingw-w64-i686-posix is not installed"
fi
rm -rf dist/_CPack_Packages

zip=dist/Keepxfer-$version-win32.zip
tgz=dist/keepxfer-$version-linux-x86_64.tar.gz
check() { "$@" || { echo "package check failed: $*" >&2; exit 1; }; }
check test -f "$tgz"
check test "$(tar -tzf "$tgz" | grep -v '/$' | sort | tr '\n' ' ')" = \
  "keepxfer-$version-linux-x86_64/bin/keepxfer keepxfer-$version-linux-x86_64/share/man/man1/keepxfer.1 "
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -xzf "$tgz" -C "$work"
lin=$work/keepxfer-$version-linux-x86_64
# keepxfer is a stripped ELF program that gives its long help.
check test "$(od -An -tx1 -N 4 "$lin/bin/keepxfer" | tr -d ' \n')" = 7f454c46
check test -z "$(nm "$lin/bin/keepxfer" 2>/dev/null | head -n 1)"
"$lin/bin/keepxfer" -Hlp >"$work/native.txt"
check grep -q "Command Line parameters" "$work/native.txt"

if [ -z "$windows" ]; then
  :
elif ! has unzip; then
  skipped "the Windows package's contents: unzip is not installed"
else
  check test -f "$zip"
  check test "$(unzip -Z1 "$zip" | grep -v "/$" | sort | tr "\n" " ")" = \
    "Keepxfer-$version-win32/Keepxfer.exe Keepxfer-$version-win32/README.txt "
  unzip -q "$zip" -d "$work"
  win=$work/Keepxfer-$version-win32
  # Every line of README.txt ends in CR LF.
  check test "$(grep -c . "$win/README.txt")" -gt 0
  check test "$(tr -cd '\n' <"$win/README.txt" | wc -c)" = "$(grep -c "$(printf '\r')\$" "$win/README.txt")"
  check test "$(tr -cd '\n' <"$win/README.txt" | wc -c)" = "$(tr -cd '\r' <"$win/README.txt" | wc -c)"
  # Keepxfer.exe is what tests/shipped-exe.sh reads from its file (32-bit, Windows 7's imports,
  # its version, no manifest), and gives the same long help.
  check sh tests/shipped-exe.sh i686-w64-mingw32 "$win/Keepxfer.exe" tests/windows7-imports.txt >/dev/null
  probe=$(sh cmake/wine-probe.sh)
  run_exe=$win/Keepxfer.exe
  case $probe in
    64*)
      if ! has x86_64-w64-mingw32-g++-posix; then
        skipped "the long help of Keepxfer.exe: this machine runs no 32-bit programs, and g++-mingw-w64-x86-64-posix is not installed"
        probe=none
      else
        echo "This machine cannot run the 32-bit Keepxfer.exe: the long help is run from a 64-bit Keepxfer.exe of the same sources."
        cmake --no-warn-unused-cli -S . -B build-release-win64 \
          -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
          -DKEEPXFER_TESTS=OFF -DKEEPXFER_WERROR=ON >/dev/null
        cmake --build build-release-win64 -j2 >/dev/null
        run_exe=build-release-win64/Keepxfer.exe
      fi
      ;;
    none)
      skipped "the long help of Keepxfer.exe: Wine is not installed"
      ;;
  esac
  if [ "$probe" != none ]; then
    WINEPREFIX="$work/wine" WINEDEBUG=-all "${probe#* }" "$run_exe" -Hlp >"$work/exe.txt" 2>/dev/null
    check cmp -s "$work/native.txt" "$work/exe.txt"
  fi
fi
# The manual page has no warnings.
if has groff && has man; then
  check test -z "$(groff -z -man -ww "$lin/share/man/man1/keepxfer.1" 2>&1)"
  check test -z "$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$lin/share/man/man1/keepxfer.1" 2>&1 >/dev/null)"
else
  skipped "the manual page's check: groff or man-db is not installed"
fi
echo "packages: $tgz${windows:+ $zip}"
