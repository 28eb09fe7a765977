#!/bin/sh
# Builds the libFuzzer targets in build-fuzz/ and runs each for a while.
#
#   sh scripts/fuzz.sh [seconds-per-target] [target...]
#
# Defaults: 60 seconds, every target. Each run starts from the committed seeds in
# fuzz/corpus/<target>/ plus what earlier runs found, kept in build-fuzz/corpus/<target>/ (the
# committed seeds are never added to). A crash, a failed check, a sanitizer report, a leak or a
# hang of more than 10 seconds fails the script; the input is left in build-fuzz/artifacts/.
set -eu
cd "$(dirname "$0")/.."

all_targets="fuzz_cmdline fuzz_datafile fuzz_ini fuzz_integer fuzz_registry"
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-$all_targets}
case $seconds in
  '' | *[!0-9]*)
    echo "usage: sh scripts/fuzz.sh [seconds-per-target] [target...]" >&2
    exit 2
    ;;
esac
for target in $targets; do
  case " $all_targets " in
    *" $target "*) ;;
    *)
      echo "unknown target $target; the targets are: $all_targets" >&2
      exit 2
      ;;
  esac
done

sh scripts/install-packages.sh cmake make --want clang-14 libclang-rt-14-dev
for pkg in clang-14 libclang-rt-14-dev; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    echo "skipped: fuzzing needs $pkg, which is not installed"
    exit 0
  fi
done

cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEEPXFER_FUZZ=ON -DKEEPXFER_TESTS=OFF \
  -DKEEPXFER_BENCH=OFF -DKEEPXFER_WERROR=ON >/dev/null
# shellcheck disable=SC2086
cmake --build build-fuzz -j2 --target $targets

# The longest input each target is given: a command line, a number, a data file of a few
# entries, a registry file, an INI file with its script.
max_len() {
  case $1 in
    fuzz_cmdline) echo 512 ;;
    fuzz_integer) echo 64 ;;
    fuzz_datafile) echo 2048 ;;
    fuzz_registry) echo 4096 ;;
    fuzz_ini) echo 6144 ;;
  esac
}

export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
failed=""
# Inputs that once found a fault are run first, every time.
for input in fuzz/regressions/*; do
  [ -f "$input" ] || continue
  target=${input##*/}
  target=${target%%-*}
  case " $targets " in *" $target "*) ;; *) continue ;; esac
  if build-fuzz/fuzz/"$target" "$input" >build-fuzz/regression.log 2>&1; then
    echo "regression $input: ok"
  else
    echo "regression $input: FAILED"
    tail -n 30 build-fuzz/regression.log
    failed="$failed $input"
  fi
done
for target in $targets; do
  corpus=build-fuzz/corpus/$target
  artifacts=build-fuzz/artifacts/$target
  log=build-fuzz/logs/$target.log
  mkdir -p "$corpus" "$artifacts" build-fuzz/logs
  cp fuzz/corpus/"$target"/* "$corpus"/
  set -- -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts"/
  [ -f fuzz/dict/"$target".dict ] && set -- "$@" -dict=fuzz/dict/"$target".dict
  started=$(date +%s)
  if build-fuzz/fuzz/"$target" "$@" "$corpus" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed="$failed $target"
  fi
  elapsed=$(($(date +%s) - started))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  files=$(find "$corpus" -type f | wc -l)
  printf '%-14s %-6s %s inputs tried in %s s, corpus %s files\n' \
    "$target" "$status" "${runs:-?}" "$elapsed" "$files"
  if [ "$status" = FAILED ]; then
    grep -E -A30 '==== fuzz check failed|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' \
      "$log" | head -n 60 || tail -n 40 "$log"
    echo "full log: $log; inputs: $(ls "$artifacts" | tr '\n' ' ')"
    echo "replay: build-fuzz/fuzz/$target $artifacts/<input>"
  fi
done

if [ -n "$failed" ]; then
  echo "fuzzing found problems in:$failed" >&2
  exit 1
fi
