#!/bin/sh
# The printer application against the filter alone, in one run: N (200)
# 4 x 6 inch labels submitted as PNG to a ZPL printer on a file: device of a
# private dotweave-app, then the same number of the same page as CUPS raster
# through the dotweave filter alone. Prints labels per second through the
# application, its overhead per job over the filter alone, and the server's
# peak memory. Then serial printers: a KV412 A and a ZPL printer on a
# pseudo-terminal at 115200 baud whose far end takes bytes no faster than
# the line carries them (bench/line.cpp); for one 4 x 6 inch label each, the
# time from submitting it to its last byte on the line, against the line's
# own time for those bytes (10 bits a byte), the physical floor. Last,
# status queries side by side: M (20) labels each to three printers on
# loopback socket:// ports (bench/sink.cpp) that take the bytes as fast as
# they come: a ZPL printer that never answers its status query (asked once,
# then left alone), a ZPL printer that answers it (asked before and after
# each job) and an EPL printer, which is never asked.
#
#   bench/app-bench.sh [BUILD_DIR] [N] [M]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/normal}
N=${2:-200}
APP=$BUILD/app/dotweave-app
FILTER=$BUILD/dotweave
LINE=$BUILD/bench/dotweave-bench-line
BAUD=115200
PPD=$BUILD/ppd/dotweave-zpl.ppd
WORK=$(mktemp -d /tmp/dotweave-app-bench-XXXXXX)
# Under a program name of its own, so that its sub-commands reach this
# server through its own local socket (PAPPL's clients use the local socket
# whatever -u names).
NAME=dotweave-app-bench-$$
ln -s "$APP" "$WORK/$NAME"
APP=$WORK/$NAME
PORT=$((20000 + $$ % 20000))
SERVER=""
LINE_PID=""
SINKS=""
cleanup() {
  [ -n "$LINE_PID" ] && kill "$LINE_PID" 2>/dev/null
  for pid in $SINKS; do kill "$pid" 2>/dev/null; done
  [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null && wait "$SERVER" 2>/dev/null
  rm -f "/run/$NAME.sock" "${TMPDIR:-/tmp}/$NAME$(id -u).sock"
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

now() { date +%s.%N; }

# The page: the sample label rendered at 203 dpi, as PNG and as CUPS raster.
gs -q -dSAFER -dBATCH -dNOPAUSE -dFirstPage=1 -dLastPage=1 -sDEVICE=pnggray -r203 -o "$WORK/label.png" "$ROOT/samples/label-4x6.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -dFirstPage=1 -dLastPage=1 -sDEVICE=cups -dcupsColorSpace=3 -dcupsBitsPerColor=1 -r203 \
   -o "$WORK/label.ras" "$ROOT/samples/label-4x6.ps"

DOTWEAVE_FILTER=$FILTER "$APP" server -o server-port=$PORT -o listen-hostname=localhost \
  -o state-directory="$WORK/state" -o file-device-directory="$WORK" -o log-level=warn >"$WORK/server.out" 2>&1 &
SERVER=$!
i=0
until "$APP" printers -u "ipp://localhost:$PORT/ipp/system" >/dev/null 2>&1; do
  i=$((i + 1)); [ $i -lt 100 ] || { echo "server did not start"; exit 1; }; sleep 0.1
done
mkdir -p "$WORK/out"
"$APP" add -u "ipp://localhost:$PORT/ipp/system" -d zpl -v "file://$WORK/out" -m dotweave-zpl

start=$(now)
i=0
while [ $i -lt "$N" ]; do
  cp "$WORK/label.png" "$WORK/label-$i.png"
  "$APP" submit -u "ipp://localhost:$PORT/ipp/print/zpl" "$WORK/label-$i.png" >/dev/null
  i=$((i + 1))
done
until [ "$(ls "$WORK/out" | wc -l)" -ge "$N" ] &&
      ! "$APP" jobs -u "ipp://localhost:$PORT/ipp/print/zpl" | grep -q -E 'pending|processing'; do
  sleep 0.05
done
app_end=$(now)
peak=$(awk '/VmHWM/ {print $2}' "/proc/$SERVER/status")

fstart=$(now)
i=0
while [ $i -lt "$N" ]; do
  PPD=$PPD "$FILTER" 1 user label 1 "" <"$WORK/label.ras" >/dev/null 2>&1
  i=$((i + 1))
done
fend=$(now)

awk -v a0="$start" -v a1="$app_end" -v f0="$fstart" -v f1="$fend" -v n="$N" -v peak="$peak" 'BEGIN {
  app = a1 - a0; filt = f1 - f0
  printf "labels through dotweave-app: %d in %.2f s (%.1f labels/s)\n", n, app, n / app
  printf "filter alone:                %d in %.2f s (%.1f ms each)\n", n, filt, 1000 * filt / n
  printf "application overhead per job: %.1f ms (submit client included)\n", 1000 * (app - filt) / n
  printf "server peak memory (VmHWM):   %.1f MiB\n", peak / 1024
}'

# serial_label NAME DRIVER: one label to a printer on a paced line.
serial_label() {
  rm -f "$WORK/line.out"
  "$LINE" "$BAUD" 2000 >"$WORK/line.out" &
  LINE_PID=$!
  until [ -s "$WORK/line.out" ]; do sleep 0.01; done
  tty=$(head -n 1 "$WORK/line.out")
  "$APP" add -u "ipp://localhost:$PORT/ipp/system" -d "$1" -v "serial:$tty?baud=$BAUD" -m "$2"
  submitted=$(now)
  "$APP" submit -u "ipp://localhost:$PORT/ipp/print/$1" "$WORK/label.png" >/dev/null
  wait "$LINE_PID"
  LINE_PID=""
  tail -n 1 "$WORK/line.out" | awk -v s="$submitted" -v baud="$BAUD" -v name="$1" '{
    line = $1 * 10 / baud
    printf "%-7s on serial at %d baud: %d bytes; submit to first byte %.3f s, to last byte %.3f s; line time %.3f s; ratio %.3f\n",
           name, baud, $1, $2 - s, $3 - s, line, ($3 - s) / line
  }'
}
serial_label kv412 kv412-a
serial_label zpl-serial dotweave-zpl

# ---- status queries side by side
M=${3:-20}
SINK=$BUILD/bench/dotweave-bench-sink
# socket_printer NAME DRIVER MODE: a printer on a new sink.
socket_printer() {
  "$SINK" "$3" >"$WORK/sink-$1" &
  SINKS="$SINKS $!"
  until [ -s "$WORK/sink-$1" ]; do sleep 0.01; done
  "$APP" add -u "ipp://localhost:$PORT/ipp/system" -d "$1" -v "socket://127.0.0.1:$(head -n 1 "$WORK/sink-$1")" -m "$2"
}
socket_printer zplmute dotweave-zpl mute
socket_printer zplanswers dotweave-zpl zpl
socket_printer eplsocket dotweave-epl-page mute
# The mute printer is asked once when it is found, and gives up after the
# read timeout; the measurement starts after that.
i=0
until grep -q "zplmute.*does not answer" "$WORK/state/dotweave-app.log" 2>/dev/null; do
  i=$((i + 1)); [ $i -lt 400 ] || { echo "the mute printer was never asked"; break; }; sleep 0.1
done
# labels_to NAME: M labels, one job each, until the last is done.
labels_to() {
  s=$(now)
  i=0
  while [ $i -lt "$M" ]; do
    "$APP" submit -u "ipp://localhost:$PORT/ipp/print/$1" "$WORK/label.png" >/dev/null
    i=$((i + 1))
  done
  while "$APP" jobs -u "ipp://localhost:$PORT/ipp/print/$1" | grep -q -E 'pending|processing'; do sleep 0.02; done
  e=$(now)
  awk -v s="$s" -v e="$e" -v m="$M" -v name="$1" 'BEGIN {
    printf "%-11s %d labels in %.2f s (%.1f ms each)\n", name, m, e - s, 1000 * (e - s) / m }'
}
echo "status queries, socket:// printers on loopback:"
labels_to zplmute
labels_to zplanswers
labels_to eplsocket
