#!/bin/sh
# The filter against the least a raster filter can spend on the same job.
#
#   bench/filter-vs-floor.sh [--baseline DOTWEAVE] [--runs N] [--quick] [--build DIR]
#                            [--only PATTERN]
#
# Builds the filter, the PPD files and the three bench programs (in build/bench
# unless --build names a build directory), writes the raster jobs of the
# workloads below, and runs the floor (bench/floor.cpp: PPD open and marking,
# every header and line read, each line written and flushed for the families
# that flush per line, each line written for the ESC/POS and TSPL families,
# whose languages carry the image uncompressed) and the dotweave binary on the same raster files,
# interleaved, N times each (default 5). The floor runs twice per round:
# as the issue defines it (libcups's own reader, one read(2) per
# uncompressed line) and reading 64 KiB at a time as the filter does
# (DOTWEAVE_FLOOR_BLOCKS=1, "block floor"), so that what the filter spends
# beyond decoding is visible on equal terms. Each process runs under
# dotweave-bench-run, which reads its standard output through a pipe as CUPS
# does and takes its CPU time and peak resident set from wait4.
#
# Printed per workload: the median CPU time (user + system) of the floor, the
# block floor and the filter, the filter's ratio to each floor, the filter's peak RSS above the floor's as a
# multiple of the raw page (cupsBytesPerLine x cupsHeight), and the floor's
# own peak RSS. --baseline adds the same columns for another dotweave binary
# (say one built from main), run in the same loop, and checks that both
# binaries write the same bytes. --quick runs tiny jobs once (a smoke test);
# --only runs the workloads whose names match an extended regular expression.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/bench
BASELINE=
RUNS=5
QUICK=0
ONLY=.
while [ $# -gt 0 ]; do
  case $1 in
    --baseline) BASELINE=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --quick) QUICK=1; RUNS=1; shift ;;
    --build) BUILD=$2; shift 2 ;;
    --only) ONLY=$2; shift 2 ;;
    *) echo "usage: $0 [--baseline DOTWEAVE] [--runs N] [--quick] [--build DIR] [--only PATTERN]" >&2
       exit 2 ;;
  esac
done

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOTWEAVE_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" --target dotweave dotweave_ppds dotweave-floor dotweave-bench-raster dotweave-bench-run >/dev/null

FILTER=$BUILD/dotweave
FLOOR=$BUILD/bench/dotweave-floor
RASTER=$BUILD/bench/dotweave-bench-raster
RUN=$BUILD/bench/dotweave-bench-run
PPDS=$BUILD/ppd
WORK=$BUILD/bench-work
mkdir -p "$WORK"

# name | PPD | PRINTER | job options | raster: width height bits dpi pages page-size
# (escpos-receipt: one 80 mm receipt 3 m long; tspl: 100 labels of 4 x 6 in)
if [ "$QUICK" = 1 ]; then
  WORKLOADS="zpl|dotweave-zpl.ppd|labels||812 60 1 203 2 288x21
pcl|dotweave-pcl.ppd|office|PageSize=Letter Resolution=300dpi|2550 40 1 300 1 612x10
dymo|dotweave-dymo.ppd|labels||338 50 1 300 2 81x12
epl-page|dotweave-epl-page.ppd|labels||812 60 1 203 2 288x21
oem-thermal|kv412-a.ppd|KV412-A|ImagePrint=0|832 80 24 203 1 0x0
oem-thermal-dither-90|kv412-a.ppd|KV412-A|ImagePrint=1 Rotation=90|832 80 24 203 1 0x0
oem-needle|lc586-a.ppd|LC586-A||1440 60 24 180 1 0x0
escpos-receipt|dotweave-escpos-80.ppd|receipt||576 300 1 203 1 204x106
tspl|dotweave-tspl-4in.ppd|labels||812 60 1 203 2 288x21"
else
  WORKLOADS="zpl|dotweave-zpl.ppd|labels||812 1218 1 203 100 288x432
pcl|dotweave-pcl.ppd|office|PageSize=Letter Resolution=300dpi|2550 3300 1 300 10 612x792
dymo|dotweave-dymo.ppd|labels||338 1050 1 300 200 81x252
epl-page|dotweave-epl-page.ppd|labels||812 1218 1 203 100 288x432
oem-thermal|kv412-a.ppd|KV412-A|ImagePrint=0|832 8000 24 203 1 0x0
oem-thermal-dither-90|kv412-a.ppd|KV412-A|ImagePrint=1 Rotation=90|832 8000 24 203 1 0x0
oem-needle|lc586-a.ppd|LC586-A||1440 2100 24 180 3 0x0
escpos-receipt|dotweave-escpos-80.ppd|receipt||576 24000 1 203 1 204x8512
tspl|dotweave-tspl-4in.ppd|labels||812 1218 1 203 100 288x432"
fi

# One measured run: prints "cpu_us user_us sys_us maxrss_kib bytes hash status".
measure() {  # binary ppd printer options raster [NAME=VALUE]
  "$RUN" "PPD=$PPDS/$2" "PRINTER=$3" "DEVICE_URI=serial:/dev/ttyUSB0?baud=115200" ${6:+"$6"} -- \
    "$1" 1 bench job 1 "$4" "$5"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%s\n' "CPU: median of $RUNS runs of user + system time, ms; ratio: against the floor, bratio: against"
printf '%s\n' "the block floor (the floor reading its input 64 KiB at a time, as the filter does)."
printf '%s\n' "RSS: peak resident set; +MB: above the floor's, and xraw: that as a multiple of the raw page"
printf '%s\n' "(cupsBytesPerLine x cupsHeight of one page)."
if [ -n "$BASELINE" ]; then
  printf '%-22s %8s %8s | %8s %6s | %8s %6s %6s | %7s %8s | %7s %6s | %7s %6s | %s\n' workload floor \
    bfloor baseline ratio filter ratio bratio raw-MB floor-MB base+MB xraw +MB xraw bytes
else
  printf '%-22s %8s %8s | %8s %6s %6s | %7s %8s | %7s %6s\n' workload floor bfloor filter ratio bratio raw-MB \
    floor-MB +MB xraw
fi

echo "$WORKLOADS" | grep -E "^[^|]*($ONLY)[^|]*[|]" | {
failed=0
while IFS='|' read -r name ppd printer options shape; do
  set -- $shape
  args="--width $1 --height $2 --bits $3 --dpi $4 --pages $5"
  [ "$6" != 0x0 ] && args="$args --page-size $6"
  # A raster file per shape (the two thermal workloads share one), written
  # once and kept for later runs.
  ras=$WORK/$(echo "$args" | tr -d ' -').ras
  if [ ! -f "$ras.raw" ]; then
    "$RASTER" $args "$ras" >"$ras.tmp"
    mv "$ras.tmp" "$ras.raw"
  fi
  raw=$(cat "$ras.raw")

  : >"$WORK/$name.floor"; : >"$WORK/$name.bfloor"; : >"$WORK/$name.filter"; : >"$WORK/$name.base"
  i=0
  while [ $i -lt "$RUNS" ]; do
    measure "$FLOOR" "$ppd" "$printer" "$options" "$ras" >>"$WORK/$name.floor"
    measure "$FLOOR" "$ppd" "$printer" "$options" "$ras" DOTWEAVE_FLOOR_BLOCKS=1 >>"$WORK/$name.bfloor"
    [ -n "$BASELINE" ] && measure "$BASELINE" "$ppd" "$printer" "$options" "$ras" >>"$WORK/$name.base"
    measure "$FILTER" "$ppd" "$printer" "$options" "$ras" >>"$WORK/$name.filter"
    i=$((i + 1))
  done

  for f in floor bfloor filter base; do
    [ -s "$WORK/$name.$f" ] || continue
    if awk '$7 != 0 { bad = 1 } END { exit !bad }' "$WORK/$name.$f"; then
      echo "$name: a $f run exited with an error status" >&2
      failed=1
    fi
  done
  col() { cut -d' ' -f"$1" "$WORK/$name.$2" | median; }
  if [ -n "$BASELINE" ]; then
    same=same
    if [ "$(cut -d' ' -f5,6 "$WORK/$name.base" | sort -u)" != "$(cut -d' ' -f5,6 "$WORK/$name.filter" | sort -u)" ]; then
      same=DIFFERENT
      failed=1
    fi
    row=$(awk -v n="$name" -v fc="$(col 1 floor)" -v fr="$(col 4 floor)" -v bc="$(col 1 base)" -v br="$(col 4 base)" \
      -v c="$(col 1 filter)" -v r="$(col 4 filter)" -v raw="$raw" -v same="$same" -v kc="$(col 1 bfloor)" '
      BEGIN {
        printf "%-22s %8.1f %8.1f | %8.1f %5.2fx | %8.1f %5.2fx %5.2fx | %7.1f %8.1f | %7.1f %5.2fx | %7.1f %5.2fx | %s",
          n, fc / 1000, kc / 1000, bc / 1000, bc / fc, c / 1000, c / fc, c / kc, raw / 1048576, fr / 1024,
          (br - fr) / 1024, (br - fr) * 1024 / raw, (r - fr) / 1024, (r - fr) * 1024 / raw, same
      }')
  else
    row=$(awk -v n="$name" -v fc="$(col 1 floor)" -v fr="$(col 4 floor)" -v c="$(col 1 filter)" \
      -v r="$(col 4 filter)" -v raw="$raw" -v kc="$(col 1 bfloor)" '
      BEGIN {
        printf "%-22s %8.1f %8.1f | %8.1f %5.2fx %5.2fx | %7.1f %8.1f | %7.1f %5.2fx",
          n, fc / 1000, kc / 1000, c / 1000, c / fc, c / kc, raw / 1048576, fr / 1024, (r - fr) / 1024,
          (r - fr) * 1024 / raw
      }')
  fi
  echo "$row"
done
exit $failed
}
