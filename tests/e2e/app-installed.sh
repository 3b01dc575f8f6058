#!/bin/sh
# A job through an installed dotweave-app: starts a private instance (its own
# state directory, a free loopback port), adds a ZPL label printer on a file:
# device, submits a PDF label with the application's own "submit" command,
# waits for the job to complete, decodes what reached the device with
# dotweave-preview and compares the dots with Ghostscript's rendering of the
# page. The application runs the filter it was built for (the installed one),
# so this checks the two together. The server is stopped and its directory
# removed whether the test passes or fails.
#
#   app-installed.sh APP PREVIEW COMPARE_TOOL
set -eu

APP=$1
PREVIEW=$2
COMPARE=$3

for tool in gs python3; do
  command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

WORK=$(mktemp -d /tmp/dotweave-app-e2e-XXXXXX)
SERVER_PID=""
# PAPPL's sub-commands reach a server on this machine through the local
# socket named after the program (/run/NAME.sock for root), whatever host and
# port -u names, and a new server takes that socket over. Under a name of its
# own this instance leaves the system service's socket alone, and its
# sub-commands reach this instance only.
NAME=dotweave-app-test-$$
ln -s "$APP" "$WORK/$NAME"
INSTALLED=$APP
APP=$WORK/$NAME
cleanup() {
  status=$?
  if [ -n "$SERVER_PID" ] && kill -0 "$SERVER_PID" 2>/dev/null; then
    kill -TERM "$SERVER_PID" 2>/dev/null || true
    i=0
    while kill -0 "$SERVER_PID" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    kill -KILL "$SERVER_PID" 2>/dev/null || true
  fi
  if [ "$status" -ne 0 ] && [ -f "$WORK/state/dotweave-app.log" ]; then
    echo "---- the application's log (last lines)"
    tail -n 30 "$WORK/state/dotweave-app.log"
  fi
  rm -f "/run/$NAME.sock" "${TMPDIR:-/tmp}/$NAME$(id -u).sock"
  rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*"
  exit 1
}

# A port nobody listens on now; the server says so and stops if that changes.
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
SYSTEM=ipp://localhost:$PORT/ipp/system
mkdir -p "$WORK/state" "$WORK/out"
"$APP" server -o server-port="$PORT" -o listen-hostname=localhost -o state-directory="$WORK/state" \
  -o log-level=debug >"$WORK/server.out" 2>&1 &
SERVER_PID=$!
i=0
until "$APP" status -u "$SYSTEM" >/dev/null 2>&1; do
  kill -0 "$SERVER_PID" 2>/dev/null || { cat "$WORK/server.out"; fail "$APP server stopped at start"; }
  [ $i -lt 200 ] || fail "$APP server does not answer on port $PORT"
  sleep 0.1
  i=$((i + 1))
done

"$APP" add -u "$SYSTEM" -d zpl -m dotweave-zpl -v "file://$WORK/out" || fail "$APP add refused the ZPL printer"

cat >"$WORK/label.ps" <<'EOF'
%!PS
<< /PageSize [288 432] >> setpagedevice
6 setlinewidth 12 12 264 408 rectstroke
/Helvetica-Bold findfont 28 scalefont setfont 30 370 moveto (DOTWEAVE) show
30 300 228 40 rectfill
/x 30 def
[3 1 1 2 3 1 2 1 1 3 2 2 1 1 3 1 2 3 1 1 2 1 3 2 1 2 1 1 3]
{ /w exch 2 mul def x 120 w 140 rectfill /x x w add 3 add def } forall
showpage
EOF
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$WORK/label.pdf" "$WORK/label.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r203 -o "$WORK/label.png" "$WORK/label.ps"

"$APP" submit -u "ipp://localhost:$PORT/ipp/print/zpl" -o print-darkness=50 "$WORK/label.pdf" >"$WORK/submit.out" 2>&1 ||
  { cat "$WORK/submit.out"; fail "$APP submit refused the PDF"; }

# Done when the server has logged the job's end.
i=0
until grep -q 'Job .*completed\|\[Job [0-9]*\] .*[Cc]ompleted' "$WORK/state/dotweave-app.log" 2>/dev/null; do
  if grep -q '\[Job [0-9]*\] .*\(aborted\|Aborted\|canceled\)' "$WORK/state/dotweave-app.log" 2>/dev/null; then
    grep '\[Job ' "$WORK/state/dotweave-app.log" | tail -n 20
    fail "the job was aborted"
  fi
  [ $i -lt 600 ] || fail "the job did not complete within 60 s"
  sleep 0.1
  i=$((i + 1))
done
out=$(ls "$WORK"/out/* 2>/dev/null | head -n 1)
[ -n "$out" ] && [ -s "$out" ] || fail "nothing reached the printer's device"

summary=$("$PREVIEW" --output "$WORK/decoded" "$out") || { printf '%s\n' "$summary"; fail "dotweave-preview reported problems"; }
printf '%s\n' "$summary" | head -n 6
for want in "language: zpl" "pages: 1" "1218 rows" "darkness=15" "problems: none"; do
  printf '%s\n' "$summary" | grep -qF -- "$want" || fail "the summary lacks \"$want\""
done
"$COMPARE" "$WORK/decoded-1.png" "$WORK/label.png" || fail "the label does not match its page"
echo "PASS: a PDF label through $INSTALLED and the filter it runs"
