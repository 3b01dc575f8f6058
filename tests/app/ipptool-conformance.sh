#!/bin/sh
# CUPS's conformance suites (ipptool with ipp-2.0.test, which includes
# ipp-1.1.test, and ipp-everywhere.test) against a private dotweave-app with
# one printer of each kind: the ZPL label family, the KV412 A thermal and the
# LC586 A needle model. Every check must pass except these, which PAPPL 1.3.1
# itself fails whatever the driver supplies; the suites run from a copy with
# exactly those expectations taken out:
#
# - ipp-1.1.test, Get-Printer-Attributes (default): printer-uri-supported,
#   uri-security-supported and uri-authentication-supported must have as many
#   values as each other. PAPPL lists "none,tls" in uri-security-supported
#   but one ipp: URI and one authentication value (it offers no ipps: URI
#   for a server named localhost).
# - ipp-everywhere.test, Required Operations and Attributes: overrides-supported
#   with "document-number" and "pages". PAPPL has no per-page overrides.
# - ipp-1.1.test, Print-Job with job-hold-until: job-state-reasons in the
#   answer. PAPPL answers with job-state pending-held and no job-state-reasons.
#
# The suites print documents from their own folder (A4 and Letter PDF and
# PostScript, JPEG, PWG raster samples) that Debian does not ship: they are
# made here with Ghostscript, the PWG raster ones at the resolutions and types
# each printer asks for, the others as empty files that the suites skip.
#
#   ipptool-conformance.sh APP FILTER [IPPTOOL_DIR]
set -eu

APP=$1
FILTER=$2
SUITES=${3:-/usr/share/cups/ipptool}
APP_TESTS=$(cd "$(dirname "$0")" && pwd)
. "$APP_TESTS/app-server.sh"

for tool in ipptool gs; do
  command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

WORK=$(mktemp -d /tmp/dotweave-ipptool-XXXXXX)
cleanup() {
  status=$?
  stop_app_server
  if [ "$status" -ne 0 ] && [ -f "$WORK/server/dotweave-app.log" ]; then
    echo "---- last lines of the server's log"
    grep -v 'Filter: \(ATTR\|INFO: Printing\)\|response:' "$WORK/server/dotweave-app.log" | tail -n 40 || true
    echo "---- the server's own output (crash reports)"
    grep -v '^INFO: \|^D \[' "$WORK/server/server.out" | tail -n 80 || true
  fi
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*"
  exit 1
}

# ---- the suites, less the checks PAPPL cannot pass
T=$WORK/suites
mkdir -p "$T"
for f in ipp-1.1.test ipp-2.0.test ipp-everywhere.test; do
  [ -f "$SUITES/$f" ] || fail "$SUITES/$f is missing (Debian package cups-ipp-utils)"
  cp "$SUITES/$f" "$T/$f"
done

# edit FILE TEST PATTERN SED_COMMAND: applies the edit to the one line of the
# test named TEST that matches PATTERN; fails when the test no longer has
# exactly one such line.
edit() {
  n=$(awk -v name="NAME \"$2\"" -v pat="$3" '
    index($0, name) { inside = 1 }
    inside && $0 ~ pat { n++ }
    inside && /^}/ { inside = 0 }
    END { print n + 0 }' "$T/$1")
  [ "$n" -eq 1 ] || fail "\"$2\" in $1 has $n lines matching \"$3\", not one: check the list of PAPPL's failures"
  sed -i "\\|NAME \"$2\"|,/^}/{\\|$3|$4
}" "$T/$1"
}
edit ipp-1.1.test 'RFC 8011 section 4.2.5: Get-Printer-Attributes Operation (default)' \
  'EXPECT printer-uri-supported .*SAME-COUNT-AS uri-security-supported' 's| SAME-COUNT-AS uri-security-supported||'
edit ipp-1.1.test 'RFC 8011 section 4.2.5: Get-Printer-Attributes Operation (default)' \
  'EXPECT uri-security-supported .*SAME-COUNT-AS uri-authentication-supported' 's| SAME-COUNT-AS uri-authentication-supported||'
edit ipp-1.1.test 'Print-Job with job-hold-until' 'EXPECT job-state-reasons ' 'd'
edit ipp-everywhere.test 'PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes' \
  'EXPECT overrides-supported .*"document-number"' 'd'
edit ipp-everywhere.test 'PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes' \
  'EXPECT overrides-supported .*"pages"' 'd'

# ---- the documents
page() {  # WIDTH HEIGHT (points): a frame, a bar and a filled square
  echo "%!PS"
  echo "<< /PageSize [$1 $2] >> setpagedevice"
  echo "4 setlinewidth 20 20 $(($1 - 40)) $(($2 - 40)) rectstroke"
  echo "40 $(($2 / 2)) $(($1 - 80)) 30 rectfill 40 40 60 60 rectfill showpage"
}
page 595 842 >"$T/document-a4.ps"
page 612 792 >"$T/document-letter.ps"
page 288 432 >"$WORK/label.ps"
GS="gs -q -dSAFER -dBATCH -dNOPAUSE"
$GS -sDEVICE=pdfwrite -o "$T/document-a4.pdf" "$T/document-a4.ps"
$GS -sDEVICE=pdfwrite -o "$T/document-letter.pdf" "$T/document-letter.ps"
$GS -sDEVICE=pdfwrite -o "$WORK/label.pdf" "$WORK/label.ps"
$GS -sDEVICE=jpeg -r50 -o "$T/color.jpg" "$WORK/label.ps"
$GS -sDEVICE=jpeggray -r50 -o "$T/gray.jpg" "$WORK/label.ps"
for f in $(sed -n 's/^[[:space:]]*FILE[[:space:]]\{1,\}\(pwg-raster-samples-[^[:space:]]*\).*/\1/p' "$T/ipp-everywhere.test"); do
  mkdir -p "$T/$(dirname "$f")"
  : >"$T/$f"
done

# samples RESOLUTION TYPE: the suite's PWG raster samples at that resolution
# and type, made for real from pages of their sizes (4 x 6 inches, A4, Letter).
samples() {
  case $2 in
    black_1) space=3 bits=1 ;;
    sgray_8) space=18 bits=8 ;;
    srgb_8) space=19 bits=8 ;;
    *) return 0 ;;  # no printer here takes cmyk_8 or srgb_16
  esac
  dir=$T/pwg-raster-samples-${1}dpi/$(echo "$2" | tr _ -)
  [ -d "$dir" ] || return 0  # not a resolution the suite prints at
  for f in "$dir"/*.pwg; do
    case $f in
      *-4x6-*) source=$WORK/label.ps ;;
      *-a4-*) source=$T/document-a4.ps ;;
      *-letter-*) source=$T/document-letter.ps ;;
      *) fail "no page for the sample $f" ;;
    esac
    $GS -sDEVICE=pwgraster -r"$1" -dcupsColorSpace=$space -dcupsBitsPerColor=$bits -o "$f" "$source"
  done
}

# ---- the server and its printers
start_app_server "$APP" "$FILTER" "$WORK/server" || fail "dotweave-app did not start"
PRINTERS="zpl:dotweave-zpl thermal:kv412-a needle:lc586-a"
for p in $PRINTERS; do
  add_app_printer "${p%%:*}" "${p#*:}" || fail "could not add ${p%%:*}"
done
for p in $PRINTERS; do
  attrs=$(ipptool -tv "ipp://localhost:$APP_PORT/ipp/print/${p%%:*}" "$SUITES/get-printer-attributes.test" 2>&1)
  resolutions=$(printf '%s\n' "$attrs" | sed -n 's/.*pwg-raster-document-resolution-supported ([^)]*) = //p' | tr ',' ' ' | sed 's/dpi//g')
  types=$(printf '%s\n' "$attrs" | sed -n 's/.*pwg-raster-document-type-supported ([^)]*) = //p' | tr ',' ' ')
  for r in $resolutions; do
    for t in $types; do samples "$r" "$t"; done
  done
done
# A printer reports printer-up-time 0 in its first second, and the suite
# wants more.
sleep 1

# ---- the suites against every printer, the three at once. ipp-everywhere.test
# runs all of ipp-2.0.test (and so of ipp-1.1.test) first: one run covers both.
runs=""
for p in $PRINTERS; do
  name=${p%%:*}
  (
    status=0
    cd "$T" && ipptool -t -T 30 -f "$WORK/label.pdf" "ipp://localhost:$APP_PORT/ipp/print/$name" ipp-everywhere.test \
      >"$WORK/$name.out" 2>&1 || status=$?
    echo "$status" >"$WORK/$name.status"
  ) &
  runs="$runs $!"
done
for pid in $runs; do wait "$pid"; done
failed=""
for p in $PRINTERS; do
  name=${p%%:*}
  if [ "$(cat "$WORK/$name.status")" = 0 ]; then
    echo "$name: ipp-2.0.test and ipp-everywhere.test passed ($(grep -c '\[PASS\]' "$WORK/$name.out") tests)"
  else
    echo "---- $name"
    grep -v '\[PASS\]\|\[SKIP\]' "$WORK/$name.out" | cut -c1-300 | head -n 60
    failed="$failed $name"
  fi
done
kill -0 "$APP_PID" 2>/dev/null || fail "the server stopped during the suites"
[ -z "$failed" ] || fail "the suites failed on:$failed"
# The suites' jobs reached every printer's device.
for p in $PRINTERS; do
  [ -n "$(ls "$WORK/server/out-${p%%:*}")" ] || fail "no job of the suites reached ${p%%:*}"
done
echo "PASS"
