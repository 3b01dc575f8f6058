#!/bin/sh
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every target for a bounded time from
# its seed corpus fuzz/corpus/<target>/ and its kept inputs
# fuzz/regressions/<target>/. The targets are those listed in
# fuzz/CMakeLists.txt; several run at once, one per core.
#
#   scripts/fuzz.sh                   every target, FUZZ_SECONDS each
#   scripts/fuzz.sh raster            only the named targets
#   FUZZ_SECONDS=600 scripts/fuzz.sh  longer runs
#
# FUZZ_SECONDS (default 60) is the time per target, FUZZ_JOBS (default: the
# number of cores) how many run at once. With 2 cores, five targets take three
# rounds: about 3 minutes plus the build.
#
# An input that crashes, hangs, leaks or runs out of memory is written to
# fuzz/regressions/<target>/, where the replay tests of every build
# (ctest -R fuzz.replay) run it from then on; the run fails and prints the
# input's path and the command that reproduces the fault.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build/fuzz}
SECONDS_PER_TARGET=${FUZZ_SECONDS:-60}
JOBS=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 2)}

# Per input: 25 s is a hang (a slow machine under ASan takes well under 5 s
# for the largest page a 16 KiB input can describe). Memory: 2 GiB resident
# is a leak or an unbounded buffer. An allocation above 64 MiB fails, as on a
# small machine: libcups allocates a raster line of any length a page header
# gives before the filter can refuse it, and the OEM engine holds a page of
# any width up to its 512 MiB limit; a few bytes of header ask for that much,
# and reserving it under ASan slows the run down twentyfold without reaching
# any code that smaller pages do not reach.
TIMEOUT=25
RSS_LIMIT_MB=2048
ASAN_FUZZ_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=64:detect_leaks=1
UBSAN_FUZZ_OPTIONS=halt_on_error=1:print_stacktrace=1

command -v clang++ >/dev/null 2>&1 || { echo "FAIL: clang++ is missing (scripts/install-deps.sh installs it)"; exit 1; }

echo "==> fuzz build in $BUILD"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDOTWEAVE_FUZZ=ON -DDOTWEAVE_BUILD_BENCH=OFF >/dev/null
LIST=$BUILD/fuzz-targets.txt   # name max_len binary, written by fuzz/CMakeLists.txt

wanted() {  # NAME: listed on the command line, or no names given
  [ -z "$SELECTED" ] && return 0
  for w in $SELECTED; do [ "$w" = "$1" ] && return 0; done
  return 1
}
SELECTED=${*:-}
for w in $SELECTED; do
  grep -q "^$w " "$LIST" || { echo "unknown fuzz target: $w (see fuzz/CMakeLists.txt)" >&2; exit 2; }
done

TARGETS=""
BINARIES=""
while read -r name max_len binary; do
  wanted "$name" || continue
  TARGETS="$TARGETS $name"
  BINARIES="$BINARIES ${name}_fuzz"
  [ -d "$ROOT/fuzz/corpus/$name" ] || { echo "FAIL: fuzz target $name has no seed corpus fuzz/corpus/$name/"; exit 1; }
done <"$LIST"
# shellcheck disable=SC2086
cmake --build "$BUILD" -j "$JOBS" --target $BINARIES

RUNS=$BUILD/fuzz-runs
mkdir -p "$RUNS"

# start_target NAME MAX_LEN BINARY: starts one libFuzzer run in the
# background, its log in $RUNS/NAME.log; its process id lands in $PIDS.
start_target() {
  name=$1 max_len=$2 binary=$3
  corpus=$BUILD/fuzz-corpus/$name   # what the runs on this machine found so far
  kept=$ROOT/fuzz/regressions/$name
  mkdir -p "$corpus" "$kept"
  ASAN_OPTIONS=$ASAN_FUZZ_OPTIONS UBSAN_OPTIONS=$UBSAN_FUZZ_OPTIONS \
    "$binary" -max_total_time="$SECONDS_PER_TARGET" -timeout="$TIMEOUT" -report_slow_units=1000 \
      -rss_limit_mb="$RSS_LIMIT_MB" -max_len="$max_len" -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$kept/" "$corpus" "$ROOT/fuzz/corpus/$name" "$kept" \
      >"$RUNS/$name.log" 2>&1 &
  PIDS="$PIDS $name:$!"
}

stat_of() {  # NAME STAT: a figure of libFuzzer's final statistics
  sed -n "s/^stat::$2: *//p" "$RUNS/$1.log" | tail -n 1
}

report() {  # NAME BINARY: prints the outcome; returns 1 for a fault
  name=$1 binary=$2
  status=$(cat "$RUNS/$name.status" 2>/dev/null || echo 1)
  if [ "$status" -eq 0 ]; then
    echo "$name: $(stat_of "$name" number_of_executed_units) inputs in ${SECONDS_PER_TARGET} s" \
      "($(stat_of "$name" average_exec_per_sec) per second, $(stat_of "$name" new_units_added) new," \
      "peak $(stat_of "$name" peak_rss_mb) MB), no faults"
    return 0
  fi
  echo "---- fuzz target $name failed (exit status $status); end of its log:"
  grep -v 'WARNING: AddressSanitizer failed to allocate' "$RUNS/$name.log" | tail -n 80
  input=$(sed -n 's/.*Test unit written to //p' "$RUNS/$name.log" | tail -n 1)
  if [ -n "$input" ]; then
    echo "FAIL: fuzz target $name: the input is kept as ${input#"$ROOT"/}"
    echo "  reproduce: ASAN_OPTIONS=$ASAN_FUZZ_OPTIONS UBSAN_OPTIONS=$UBSAN_FUZZ_OPTIONS $binary -rss_limit_mb=$RSS_LIMIT_MB -timeout=$TIMEOUT $input"
    echo "  replay:    ctest --test-dir build/normal -R fuzz.replay.$name --output-on-failure"
    echo "  fix the fault and commit the input with the fix; the replay tests run it in every build"
  else
    echo "FAIL: fuzz target $name stopped without writing an input; full log: $RUNS/$name.log"
  fi
  return 1
}

echo "==> fuzzing$TARGETS: ${SECONDS_PER_TARGET} s each, $JOBS at a time"
PIDS=""
trap 'for p in $PIDS; do kill "${p#*:}" 2>/dev/null || true; done; exit 1' INT TERM HUP
# Rounds of $JOBS targets; every run lasts FUZZ_SECONDS, so rounds lose little.
set -- $TARGETS
while [ $# -gt 0 ]; do
  PIDS=""
  n=0
  while [ $# -gt 0 ] && [ "$n" -lt "$JOBS" ]; do
    # shellcheck disable=SC2046
    start_target $(grep "^$1 " "$LIST")
    n=$((n + 1))
    shift
  done
  for p in $PIDS; do
    status=0
    wait "${p#*:}" || status=$?
    echo "$status" >"$RUNS/${p%%:*}.status"
  done
done
trap - INT TERM HUP

failed=0
while read -r name max_len binary; do
  wanted "$name" || continue
  report "$name" "$binary" || failed=1
done <"$LIST"
[ "$failed" -eq 0 ] || exit 1
echo "==> fuzzing found no faults"
