#!/bin/sh
# The main job in one command: installs the Debian packages that are missing,
# builds the filter, its PPD files and the preview tool, then prints the
# bundled 4 x 6 inch sample label the way a CUPS queue would, without a
# scheduler:
#   - Ghostscript (through cups-filters' gstoraster, driven by the printer's
#     PPD file) renders samples/label-4x6.ps to CUPS raster;
#   - dotweave turns the raster into the printer's own language, once for a
#     KV412 A thermal printer on a serial port and once for a ZPL label printer;
#   - dotweave-preview decodes each printer stream back into a PNG.
# Everything lands in out/.
#
#   scripts/demo.sh [POSTSCRIPT_OR_PDF_FILE]
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SAMPLE=${1:-$ROOT/samples/label-4x6.ps}
BUILD=$ROOT/build/demo
OUT=$ROOT/out

"$ROOT/scripts/install-deps.sh"

echo "==> building in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDOTWEAVE_BUILD_TESTS=OFF -DDOTWEAVE_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" --target dotweave dotweave_ppds dotweave-preview

GSTORASTER="$(cups-config --serverbin)/filter/gstoraster"
if [ ! -x "$GSTORASTER" ]; then
  echo "demo: $GSTORASTER is missing (Debian package cups-filters)" >&2
  exit 1
fi
mkdir -p "$OUT"

# print NAME PPD DEVICE_URI QUEUE OPTIONS: one job through renderer and filter.
print() {
  name=$1 ppd=$BUILD/ppd/$2 uri=$3 queue=$4 options=$5
  echo "==> $name: $SAMPLE on queue \"$queue\" ($uri), options \"$options\""
  PPD=$ppd "$GSTORASTER" 1 "$(id -un)" sample 1 "$options" "$SAMPLE" \
    >"$OUT/$name.ras" 2>"$OUT/$name-render.log"
  PPD=$ppd DEVICE_URI=$uri PRINTER=$queue "$BUILD/dotweave" 1 "$(id -un)" sample 1 "$options" \
    "$OUT/$name.ras" >"$OUT/$name.prn" 2>"$OUT/$name-filter.log"
  "$BUILD/tools/dotweave-preview" --output "$OUT/$name" "$OUT/$name.prn" | sed 's/^/    /'
}

# The OEM engine recognises a serial printer by the model name in its queue
# name or device URI.
print kv412-a kv412-a.ppd "serial:/dev/ttyUSB0?baud=115200" "KV412-A" "Density=90"
print zpl dotweave-zpl.ppd "usb://Generic/ZPL%20Label%20Printer" "zpl-labels" "Darkness=50 zePrintRate=4"

cat <<MSG

Done. In $OUT:
  kv412-a.prn, zpl.prn          what the printers would receive
  kv412-a-1.png, zpl-1.png      the printed dots, decoded back from those streams
  *.ras, *-render.log, *-filter.log   the CUPS raster and the job logs
MSG
