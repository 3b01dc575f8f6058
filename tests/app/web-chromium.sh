#!/bin/sh
# The printers' web pages in a real browser (headless Chromium): the
# "Printing Defaults" pages of a ZPL, a thermal and a needle printer show the
# vendor settings by readable labels and choice names, never a raw attribute
# name or a bare number, none offers colour, and each printer's icon is ours (a different picture for each kind
# of printer, at the size PAPPL serves).
#
#   web-chromium.sh DOTWEAVE-APP DOTWEAVE-FILTER
set -eu

CHROMIUM=$(command -v chromium || command -v chromium-browser || true)
[ -n "$CHROMIUM" ] || { echo "SKIP: chromium is not installed (Debian package chromium)"; exit 77; }
command -v curl >/dev/null 2>&1 || { echo "SKIP: curl is not installed"; exit 77; }

APP_TESTS=$(cd "$(dirname "$0")" && pwd)
. "$APP_TESTS/app-server.sh"
DIR=$(mktemp -d /tmp/dw-web-XXXXXX)
trap 'stop_app_server; rm -rf "$DIR"' EXIT INT TERM
start_app_server "$1" "$2" "$DIR/app" || { echo "FAIL: dotweave-app did not start"; exit 1; }
BASE=http://localhost:$APP_PORT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The page as the browser has it after running it.
dom() {
  "$CHROMIUM" --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --no-first-run \
    --user-data-dir="$DIR/profile" --dump-dom "$BASE$1" 2>/dev/null
}

check_printer() {
  name=$1 driver=$2 shift 2
  add_app_printer "$name" "$driver" >/dev/null || { fail "cannot add $name ($driver)"; return; }
  page=$(dom "/$name/printing")
  [ -n "$page" ] || { fail "$name: the browser got no page"; return; }
  for text in "$@"; do
    case $page in *"$text"*) ;; *) fail "$name: \"$text\" is not on the page" ;; esac
  done
  # Labels are the <th> cells; none may be an attribute name (lower case
  # words joined by hyphens, as the vendor attributes are named).
  raw=$(printf '%s' "$page" | grep -o '<th>[a-z0-9]*-[a-z0-9-]*:</th>' || true)
  [ -z "$raw" ] || fail "$name: raw attribute names shown: $raw"
  # A choice shown as its bare number: <option value="N">N</option>.
  bare=$(printf '%s' "$page" | grep -oE '<option value="(-?[0-9]+)"[^>]*>-?[0-9]+</option>' |
    sed -nE 's/<option value="(-?[0-9]+)"[^>]*>(-?[0-9]+)<.*/\1 \2/p' | awk '$1 == $2' || true)
  [ -z "$bare" ] || fail "$name: choices shown as bare numbers: $bare"
  # These printers print black only.
  case $page in *'name="print-color-mode" value="color"'*) fail "$name: offers Color" ;; esac
  # The printer's icon on its page is served from the printer's own path.
  status=$(dom "/$name")
  case $status in *"/$name/icon-md.png"*) ;; *) fail "$name: its page shows no icon of its own" ;; esac
  curl -sf "$BASE/$name/icon-md.png" -o "$DIR/$name.png" || fail "$name: no icon-md.png"
}

check_printer zpl dotweave-zpl "Error reprint" "Thermal media type" "Cut media" "Printer setting" "Direct thermal" \
  "After each label" "Tear-off offset (dots)"
check_printer thermal kv412-a "Gray threshold" "Rotation" "Horizontal offset" "Darker" "90 degrees"
check_printer needle lc586-a "Print direction" "Tear-off position" "Fixed page length" "One direction (sharper)" \
  "11 in (full form)"

# Ours: a 128-pixel PNG, a different one for each kind of printer (PAPPL's
# own icon is the same for all).
for name in zpl thermal needle; do
  [ -f "$DIR/$name.png" ] || continue
  size=$(od -An -tu1 -j16 -N8 "$DIR/$name.png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
  [ "$size" = "128x128" ] || fail "$name: icon-md.png is $size, not 128x128"
done
if cmp -s "$DIR/zpl.png" "$DIR/thermal.png" || cmp -s "$DIR/zpl.png" "$DIR/needle.png" ||
  cmp -s "$DIR/thermal.png" "$DIR/needle.png"; then
  fail "two kinds of printer show the same icon"
fi

[ $failures -eq 0 ] || exit 1
echo "PASS: readable settings and our own icons on the pages of a ZPL, a thermal and a needle printer"
