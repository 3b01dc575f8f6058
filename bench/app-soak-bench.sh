#!/bin/sh
# The printer application under the soak test's load, one run: the soak's
# good jobs (PWG raster, PNG, JPEG, PDF, raw ZPL to six printers) from four
# clients at once, with jobs per second, the latency from submitting a job
# to its last byte on the file: device (median and 99th percentile) and the
# server's peak memory; then one server with 100 printers on file: devices:
# memory per printer and the time `dotweave-app printers` takes.
#
#   bench/app-soak-bench.sh [BUILD_DIR] [JOBS]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/normal}
DOTWEAVE_SOAK_JOBS=${2:-300} "$BUILD/tests/app_soak_tests" --gtest_also_run_disabled_tests \
  --gtest_filter='AppSoakBench.*' | grep -E '^(good jobs|100 printers)|FAILED'
