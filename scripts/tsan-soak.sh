#!/bin/sh
# The printer application under ThreadSanitizer: a build of only what the
# soak test needs (the application, the decoder child, the filter, the PPD
# files and the test), then the soak with fewer jobs. The server's reports
# go to files; any report fails the step. tests/app/tsan-pappl.supp holds
# only races shown to be inside PAPPL or libcups, each with its reason.
#
#   scripts/tsan-soak.sh [BUILD_DIR]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIR=${1:-$ROOT/build/tsan}
JOBS=$(nproc 2>/dev/null || echo 2)
echo "==> tsan build in $DIR"
cmake -S "$ROOT" -B "$DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOTWEAVE_TSAN=ON -DDOTWEAVE_BUILD_BENCH=OFF
cmake --build "$DIR" -j "$JOBS" --target app_soak_tests dotweave-app dotweave-image dotweave dotweave_ppds
REPORTS=$DIR/tsan-reports
rm -rf "$REPORTS"
mkdir -p "$REPORTS"
echo "==> tsan soak"
status=0
TSAN_OPTIONS="log_path=$REPORTS/report second_deadlock_stack=1 suppressions=$ROOT/tests/app/tsan-pappl.supp" \
DOTWEAVE_SOAK_LOG_LEVEL=warn DOTWEAVE_SOAK_JOBS=${DOTWEAVE_SOAK_JOBS:-120} "$DIR/tests/app_soak_tests" || status=$?
if [ -n "$(ls "$REPORTS")" ]; then
  cat "$REPORTS"/*
  echo "ThreadSanitizer reported the above" >&2
  exit 1
fi
exit $status
