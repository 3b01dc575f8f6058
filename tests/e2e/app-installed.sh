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

INSTALLED=$1
PREVIEW=$2
COMPARE=$3

command -v gs >/dev/null 2>&1 || { echo "FAIL: gs is missing (scripts/install-deps.sh installs it)"; exit 1; }

# The private server: its own state directory and loopback port, run under
# a program name of its own (see app-server.sh), so that it leaves the
# system service's socket alone.
APP_TESTS=$(cd "$(dirname "$0")/../app" && pwd)
. "$APP_TESTS/app-server.sh"

WORK=$(mktemp -d /tmp/dotweave-app-e2e-XXXXXX)
LOG=$WORK/state/dotweave-app.log
cleanup() {
  status=$?
  stop_app_server
  if [ "$status" -ne 0 ] && [ -f "$LOG" ]; then
    echo "---- the application's log (last lines)"
    tail -n 30 "$LOG"
  fi
  rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*"
  exit 1
}

# No filter given: the application runs the one it was built for.
start_app_server "$INSTALLED" "" "$WORK/state" || fail "$INSTALLED server did not start"
add_app_printer zpl dotweave-zpl || fail "$INSTALLED add refused the ZPL printer"

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

"$APP" submit -u "ipp://localhost:$APP_PORT/ipp/print/zpl" -o print-darkness=50 "$WORK/label.pdf" >"$WORK/submit.out" 2>&1 ||
  { cat "$WORK/submit.out"; fail "$APP submit refused the PDF"; }

# Done when the server has logged the job's end.
i=0
until grep -q 'Job .*completed\|\[Job [0-9]*\] .*[Cc]ompleted' "$LOG" 2>/dev/null; do
  if grep -q '\[Job [0-9]*\] .*\(aborted\|Aborted\|canceled\)' "$LOG" 2>/dev/null; then
    grep '\[Job ' "$LOG" | tail -n 20
    fail "the job was aborted"
  fi
  [ $i -lt 600 ] || fail "the job did not complete within 60 s"
  sleep 0.1
  i=$((i + 1))
done
out=$(ls "$WORK"/state/out-zpl/* 2>/dev/null | head -n 1)
[ -n "$out" ] && [ -s "$out" ] || fail "nothing reached the printer's device"

summary=$("$PREVIEW" --output "$WORK/decoded" "$out") || { printf '%s\n' "$summary"; fail "dotweave-preview reported problems"; }
printf '%s\n' "$summary" | head -n 6
for want in "language: zpl" "pages: 1" "1218 rows" "darkness=15" "problems: none"; do
  printf '%s\n' "$summary" | grep -qF -- "$want" || fail "the summary lacks \"$want\""
done
"$COMPARE" "$WORK/decoded-1.png" "$WORK/label.png" || fail "the label does not match its page"
echo "PASS: a PDF label through $INSTALLED and the filter it runs"
