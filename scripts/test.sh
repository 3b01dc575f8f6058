#!/bin/sh
# Installs what the build and the tests need, then builds and runs every test
# twice, in a normal build and an AddressSanitizer + UndefinedBehaviorSanitizer
# build, and the filter's own tests in the USB-serial-only lookup variant
# (which changes nothing but the filter's printer lookup). Then three more steps:
# the Debian package (built, checked, installed, printed through, purged;
# scripts/package-test.sh), the fuzz targets (scripts/fuzz.sh) and the tsan
# step, which builds only the printer application and its soak test with
# ThreadSanitizer and runs a shorter soak; any report fails it (about two
# minutes, build included).
#
#   scripts/test.sh              # everything
#   scripts/test.sh normal fuzz  # only the listed steps: normal, sanitize, serial-only, package, fuzz, tsan
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

"$ROOT/scripts/install-deps.sh"

JOBS=$(nproc 2>/dev/null || echo 2)
BUILDS=${*:-normal sanitize serial-only package fuzz tsan}

run_build() {
  name=$1; shift
  dir="$ROOT/build/$name"
  echo "==> $name build in $dir"
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$JOBS"
  echo "==> $name tests"
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS" --timeout 600
}

for b in $BUILDS; do
  case $b in
    normal)
      run_build normal -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    sanitize)
      # umockdev preloads its own library ahead of the ASan runtime.
      ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:verify_asan_link_order=0 \
      UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        run_build sanitize -DCMAKE_BUILD_TYPE=Debug -DDOTWEAVE_SANITIZE=ON -DDOTWEAVE_BUILD_BENCH=OFF ;;
    serial-only)
      # The variant differs only in the filter's printer lookup: the filter,
      # its PPD files and the filter's own unit and integration tests.
      dir="$ROOT/build/serial-only"
      echo "==> serial-only build in $dir"
      cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOTWEAVE_USB_SERIAL_ONLY=ON \
        -DDOTWEAVE_BUILD_BENCH=OFF
      cmake --build "$dir" -j "$JOBS" --target dotweave dotweave_ppds unit_tests integration_tests
      echo "==> serial-only tests"
      ctest --test-dir "$dir" --output-on-failure -j "$JOBS" --timeout 600 -L 'unit|integration' -LE 'app|fuzz' ;;
    package)
      echo "==> Debian package"
      "$ROOT/scripts/package-test.sh" "$ROOT/build/normal" ;;
    fuzz)
      "$ROOT/scripts/fuzz.sh" ;;
    tsan)
      "$ROOT/scripts/tsan-soak.sh" "$ROOT/build/tsan" ;;
    *) echo "unknown build: $b" >&2; exit 2 ;;
  esac
done
echo "==> all tests passed"
