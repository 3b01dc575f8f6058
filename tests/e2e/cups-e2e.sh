#!/bin/sh
# End to end through a real CUPS scheduler. Installs the built filter and PPD
# files into a staging tree, starts a private cupsd (as root, on a loopback
# port, with its own configuration, spool, log, cache and state directories),
# adds queues with lpadmin from the installed PPDs, prints a PDF and a PNG
# with lp and job options, captures what each queue sends to its device and
# decodes it with dotweave-preview, then checks the settings commands and
# compares the printed dots with a reference rendering of the same page.
#
# Queues: a ZPL label printer; an 80 mm ESC/POS receipt printer; a 4-inch
# TSPL label printer; a KV412 A thermal printer on a serial port,
# recognised from its queue name; an LC586 A needle printer on a serial port,
# recognised from its device URI; a KV412 A on USB, recognised by the serial
# number in its device URI among the USB devices that umockdev fakes for the
# scheduler and its children. The devices are a capture backend of this test
# installed under the schemes "serial" and "usb", so that the filter sees the
# device URIs it recognises printers by. And a driverless queue for a ZPL
# printer of a private dotweave-app (on a loopback port, its own directory):
# what reaches the application's file: device is decoded and compared too.
#
#   cups-e2e.sh BUILD_DIR COMPARE_TOOL PREVIEW_TOOL [usb-only]
#   cups-e2e.sh --installed COMPARE_TOOL PREVIEW_TOOL [usb-only]
#
# "usb-only" (for builds without model-name matching) leaves out the two
# queues recognised by name. "--installed" prints through what the Debian
# package installed (the filter in CUPS's filter directory, the PPD files in
# /usr/share/ppd/dotweave) instead of staging the build. Exit 77 (skipped)
# when not root and sudo cannot be used.
set -eu

BUILD=$1
COMPARE=$2
PREVIEW=$3
MODE=${4:-all}

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    exec sudo -n sh "$0" "$@"
  fi
  echo "SKIP: the private cupsd needs root (or password-less sudo)"
  exit 77
fi

for tool in cupsd lpadmin lp lpstat lpinfo gs cups-config umockdev-run; do
  command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

SYSTEM_SERVERBIN=$(cups-config --serverbin)
SYSTEM_DATADIR=$(cups-config --datadir)

APP_TESTS=$(cd "$(dirname "$0")/../app" && pwd)
. "$APP_TESTS/app-server.sh"

WORK=$(mktemp -d /tmp/dotweave-e2e-XXXXXX)
chmod 755 "$WORK"
CUPSD_PID=""
USB_DEVICES=$(cd "$(dirname "$0")/../fixtures/umockdev" && pwd)/kv412a.umockdev

# The processes whose parent is $1.
children_of() {
  for stat in /proc/[0-9]*/stat; do
    awk -v parent="$1" '$4 == parent { print $1 }' "$stat" 2>/dev/null || true
  done
}

# Stops the scheduler: umockdev-run and the cupsd it started, waiting up to
# 5 seconds before killing.
stop_cupsd() {
  [ -n "$CUPSD_PID" ] || return 0
  pids="$(children_of "$CUPSD_PID") $CUPSD_PID"
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  for pid in $pids; do
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
    kill -9 "$pid" 2>/dev/null || true
  done
  CUPSD_PID=""
}

cleanup() {
  status=$?
  stop_cupsd
  stop_app_server
  if [ "$status" -ne 0 ] && [ -f "$WORK/app/dotweave-app.log" ]; then
    echo "---- last lines of dotweave-app's log"
    grep -v 'Filter: \(ATTR\|INFO: Printing\)\|response:\|request:' "$WORK/app/dotweave-app.log" | tail -n 40 || true
  fi
  if [ "$status" -ne 0 ] && [ -f "$WORK/log/error_log" ]; then
    echo "---- last lines of the scheduler's error log"
    grep -v ' \[CGI\]\| \[Client' "$WORK/log/error_log" | tail -n 60 || true
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

# ---- the installed tree: filter and PPDs, staged from the build as a
# package would lay them out, or installed by the package
if [ "$BUILD" = "--installed" ]; then
  FILTER=$SYSTEM_SERVERBIN/filter/dotweave
  MODELS=/usr/share/ppd/dotweave
else
  STAGE=$WORK/stage
  DESTDIR=$STAGE cmake --install "$BUILD" --prefix /usr >/dev/null
  FILTER=$STAGE/usr/lib/cups/filter/dotweave
  MODELS=$STAGE/usr/share/cups/model/dotweave
fi
[ -x "$FILTER" ] || fail "the install put no filter at $FILTER"
[ -f "$MODELS/kv412-a.ppd" ] || fail "the install put no PPD files into $MODELS"
echo "filter $FILTER, PPD files from $MODELS"

# ServerBin: the system's backends, filters and helpers, plus our filter and
# the capture backend. DataDir: the system's data files plus our models.
SERVERBIN=$WORK/serverbin
for dir in "$SYSTEM_SERVERBIN"/*/; do
  name=$(basename "$dir")
  mkdir -p "$SERVERBIN/$name"
  for f in "$dir"*; do
    [ -e "$f" ] && ln -s "$f" "$SERVERBIN/$name/$(basename "$f")"
  done
done
rm -f "$SERVERBIN/filter/dotweave" "$SERVERBIN/backend/serial" "$SERVERBIN/backend/usb"
# The scheduler does not hand LD_PRELOAD on to its children, so the filter is
# started through umockdev's wrapper, which preloads the library that shows it
# the test's USB devices (UMOCKDEV_DIR, which cupsd does pass on).
cat >"$SERVERBIN/filter/dotweave" <<EOF
#!/bin/sh
exec umockdev-wrapper "$FILTER" "\$@"
EOF
chmod 755 "$SERVERBIN/filter/dotweave"

# The capture backend: writes the job's printer stream to CAPTURE_DIR/<queue>.
# Mode 0700 makes cupsd run it as root, like the real serial and USB backends.
cat >"$SERVERBIN/backend/serial" <<'EOF'
#!/bin/sh
if [ $# -eq 0 ]; then
  echo "direct ${0##*/} \"Unknown\" \"dotweave capture device\""
  exit 0
fi
target=$CAPTURE_DIR/$PRINTER
if [ $# -ge 6 ]; then cat "$6"; else cat; fi >"$target.part" || exit 1
mv "$target.part" "$target"
echo "INFO: captured $(wc -c <"$target") bytes" >&2
EOF
chmod 700 "$SERVERBIN/backend/serial"
cp "$SERVERBIN/backend/serial" "$SERVERBIN/backend/usb"

DATADIR=$WORK/datadir
mkdir -p "$DATADIR/model"
for f in "$SYSTEM_DATADIR"/*; do
  case $(basename "$f") in
    model|drv|ppdc) ;;   # printer models come only from our install
    *) ln -s "$f" "$DATADIR/$(basename "$f")" ;;
  esac
done
ln -s "$MODELS" "$DATADIR/model/dotweave"

mkdir -p "$WORK/etc/ppd" "$WORK/spool/tmp" "$WORK/cache" "$WORK/state" "$WORK/log" "$WORK/capture"
chmod 755 "$WORK/capture"

# A sanitizer build of the filter reports leaks at exit. libcups itself loses
# 16 bytes when it maps print-color-mode=monochrome onto the ColorModel Gray
# of a label PPD (in the PPD cache cupsMarkOptions builds); that one is not
# ours, so it is suppressed. libcups has no frame pointers: the slow unwinder
# gives the full stack the suppression needs.
printf 'leak:_ppdCacheCreateWithPPD\n' >"$WORK/lsan.supp"
chmod 644 "$WORK/lsan.supp"

cat >"$WORK/etc/cups-files.conf" <<EOF
ServerRoot $WORK/etc
ServerBin $SERVERBIN
DataDir $DATADIR
RequestRoot $WORK/spool
TempDir $WORK/spool/tmp
CacheDir $WORK/cache
StateDir $WORK/state
ErrorLog $WORK/log/error_log
AccessLog $WORK/log/access_log
PageLog $WORK/log/page_log
Printcap $WORK/state/printcap
ServerKeychain $WORK/state/ssl
SystemGroup root
FileDevice No
SetEnv CAPTURE_DIR $WORK/capture
PassEnv UBSAN_OPTIONS LD_PRELOAD UMOCKDEV_DIR
SetEnv ASAN_OPTIONS detect_leaks=1:halt_on_error=1:fast_unwind_on_malloc=0:verify_asan_link_order=0
SetEnv LSAN_OPTIONS suppressions=$WORK/lsan.supp:print_suppressions=0
EOF

start_cupsd() {
  port=$1
  cat >"$WORK/etc/cupsd.conf" <<EOF
Listen 127.0.0.1:$port
LogLevel debug
MaxLogSize 0
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultShared No
JobRetryLimit 0
ErrorPolicy abort-job
<Location />
  Order allow,deny
  Allow from 127.0.0.1
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
  # umockdev shows the scheduler, and through LD_PRELOAD and UMOCKDEV_DIR its
  # filters, a machine with the KV412 A of the USB queue attached.
  umockdev-run --device "$USB_DEVICES" -- \
    "$WORK/cupsd" -f -c "$WORK/etc/cupsd.conf" -s "$WORK/etc/cups-files.conf" >"$WORK/log/cupsd.out" 2>&1 &
  CUPSD_PID=$!
  export CUPS_SERVER=127.0.0.1:$port
  i=0
  while [ $i -lt 100 ]; do
    kill -0 "$CUPSD_PID" 2>/dev/null || return 1
    LC_ALL=C lpstat -r 2>/dev/null | grep -q "scheduler is running" && return 0
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

# A copy of the scheduler: a security profile that confines the system's
# cupsd to the system's directories (AppArmor on Debian) does not apply to it.
cp "$(command -v cupsd)" "$WORK/cupsd"

# A free loopback port: try a few, starting at one derived from our pid.
started=0
for attempt in 1 2 3 4 5 6 7 8; do
  port=$((20000 + ($$ * 7 + attempt * 1009) % 40000))
  if start_cupsd "$port"; then started=1; break; fi
  stop_cupsd
  wait 2>/dev/null || true
done
[ "$started" -eq 1 ] || { cat "$WORK/log/cupsd.out"; fail "cupsd did not start"; }

# umockdev-run made its test bed for root alone; the filters run as lp.
testbed=$(for pid in $(children_of "$CUPSD_PID"); do
  tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^UMOCKDEV_DIR=//p'
done | head -n 1)
[ -d "$testbed" ] || fail "umockdev-run gave cupsd no test bed"
chmod -R a+rX "$testbed"
echo "cupsd $CUPSD_PID on $CUPS_SERVER, root $WORK"

# With the full CUPS package the scheduler's driver helper lists the
# installed PPDs (lpinfo -m, lpadmin -m dotweave/...); Debian's cups-daemon
# alone lacks that helper, so the queues take the installed files directly.
if [ -x "$SERVERBIN/daemon/cups-driverd" ]; then
  models=$(lpinfo -m 2>/dev/null | grep -c '^dotweave/' || true)
  [ "$models" -eq 41 ] || fail "lpinfo -m lists $models dotweave PPD files, not 41"
fi

# ---- the jobs: pages drawn in black only, so that every renderer agrees
cat >"$WORK/label.ps" <<'EOF'
%!PS
<< /PageSize [288 432] >> setpagedevice
6 setlinewidth 12 12 264 408 rectstroke
/Helvetica-Bold findfont 28 scalefont setfont 30 370 moveto (DOTWEAVE) show
30 300 228 40 rectfill
1 setgray 40 310 moveto (END 2 END) show 0 setgray
/x 30 def
[3 1 1 2 3 1 2 1 1 3 2 2 1 1 3 1 2 3 1 1 2 1 3 2 1 2 1 1 3]
{ /w exch 2 mul def x 120 w 140 rectfill /x x w add 3 add def } forall
40 40 60 60 rectfill
showpage
EOF
cat >"$WORK/form.ps" <<'EOF'
%!PS
<< /PageSize [576 792] >> setpagedevice
8 setlinewidth 36 36 504 720 rectstroke
/Helvetica-Bold findfont 40 scalefont setfont 72 680 moveto (DOTWEAVE FORM) show
72 500 432 80 rectfill
/x 72 def
[3 1 1 2 3 1 2 1 1 3 2 2 1 1 3 1 2 3 1 1 2 1 3 2 1 2 1 1 3]
{ /w exch 3 mul def x 200 w 200 rectfill /x x w add 4 add def } forall
showpage
EOF
# A receipt of 72 x 200 mm (an 80 mm roll's print width) whose black ends
# 337 points (950 rows at 203 dpi) from the top: the bars' lower edge.
cat >"$WORK/receipt.ps" <<'EOF'
%!PS
<< /PageSize [204 567] >> setpagedevice
/Helvetica-Bold findfont 16 scalefont setfont 20 530 moveto (DOTWEAVE CAFE) show
/Helvetica findfont 10 scalefont setfont
20 500 moveto (1 x Coffee        2.50) show 20 485 moveto (2 x Bagel         5.00) show
2 setlinewidth 10 470 moveto 194 470 lineto stroke
/Helvetica-Bold findfont 12 scalefont setfont 20 450 moveto (TOTAL 7.50) show
10 400 184 30 rectfill
1 setgray 30 408 moveto (THANK YOU) show 0 setgray
0 1 20 { /i exch def 10 i 8 mul add 230 4 160 rectfill } for
showpage
EOF
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$WORK/receipt.pdf" "$WORK/receipt.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r203 -o "$WORK/receipt.png" "$WORK/receipt.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$WORK/label.pdf" "$WORK/label.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$WORK/form.pdf" "$WORK/form.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r203 -o "$WORK/label.png" "$WORK/label.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r180 -o "$WORK/form-ref.png" "$WORK/form.ps"

add_queue() {  # NAME PPD DEVICE_URI
  lpadmin -p "$1" -E -v "$3" -P "$MODELS/$2" || fail "lpadmin could not add $1"
}

# print QUEUE FILE OPTIONS...: prints and waits for the capture.
print_and_wait() {
  queue=$1 capture=$WORK/capture/$1 file=$2
  shift 2
  opts=""
  for o in "$@"; do opts="$opts -o $o"; done
  # shellcheck disable=SC2086
  lp -d "$queue" $opts "$file" >/dev/null || fail "lp refused the job for $queue"
  i=0
  while [ ! -f "$capture" ] && [ $i -lt 600 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  [ -f "$capture" ] || fail "$queue sent nothing to its device within 60 s"
  # The job also ends, and no filter or backend of it failed.
  i=0
  while [ -n "$(lpstat -o "$queue" 2>/dev/null)" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  if grep -q '^E .*\[Job ' "$WORK/log/error_log"; then
    grep '\[Job ' "$WORK/log/error_log" | grep -v '^D .*\(envp\|argv\)\[' |
      grep -i 'error\|sanitizer\|runtime\|leak\|#[0-9]\|stopped\|status\|crashed' | tail -n 40
    fail "a job on $queue reported errors"
  fi
}

# expect SUMMARY TEXT...: each text must occur in the preview summary.
expect() {
  summary=$1
  shift
  for want in "$@"; do
    printf '%s\n' "$summary" | grep -qF -- "$want" || { printf '%s\n' "$summary"; fail "the summary lacks \"$want\""; }
  done
}

decode() {  # QUEUE -> summary on stdout, PNG at $WORK/capture/QUEUE-1.png
  "$PREVIEW" --output "$WORK/capture/$1" "$WORK/capture/$1" || {
    echo "dotweave-preview reported problems for $1"
    return 1
  }
}

# ---- ZPL label printer: the PDF, with darkness, print rate and media tracking
add_queue zpl-e2e dotweave-zpl.ppd "usb://Maker/Label%20Printer?serial=LBL1"
print_and_wait zpl-e2e "$WORK/label.pdf" Darkness=50 zePrintRate=4 zeMediaTracking=Web
summary=$(decode zpl-e2e) || fail "ZPL stream"
echo "zpl: $summary" | head -n 6
expect "$summary" "language: zpl" "pages: 1" "1218 rows" "print-width=812" \
  "darkness=15" "print-rate=4,4,4" "media-tracking=Y" "problems: none"
"$COMPARE" "$WORK/capture/zpl-e2e-1.png" "$WORK/label.png" || fail "the ZPL label does not match its page"

# ---- an 80 mm ESC/POS receipt printer: the receipt PDF, cut in full and the
# cash drawer on pin 5 opened after it. The receipt ends with its content:
# the 1599-row page comes out some 950 rows long, then the cut.
add_queue receipt-e2e dotweave-escpos-80.ppd "serial:/dev/ttyUSB1?baud=115200"
print_and_wait receipt-e2e "$WORK/receipt.pdf" PageSize=w204h567 escCutMode=Full escDrawerPin=Pin5 \
  escDrawerWhen=After
summary=$(decode receipt-e2e) || fail "ESC/POS stream"
echo "receipt: $summary" | head -n 7
expect "$summary" "language: escpos" "pages: 1" "576 dots per line" "cut=full-after-feed+0" \
  "drawer-kick=pin5" "initialise" "problems: none"
rows=$(printf '%s\n' "$summary" | sed -n 's/^page 1: 576 dots per line, \([0-9]*\) rows.*/\1/p')
[ -n "$rows" ] && [ "$rows" -ge 948 ] && [ "$rows" -le 953 ] ||
  fail "the receipt is $rows rows long, not the 950 its content takes"
"$COMPARE" "$WORK/capture/receipt-e2e-1.png" "$WORK/receipt.png" || fail "the receipt does not match its page"

# ---- a 4-inch TSPL label printer: the PDF on a 4 x 6 inch label with black
# marks, darkness, speed and tear-off
add_queue tspl-e2e dotweave-tspl-4in.ppd "serial:/dev/ttyUSB2?baud=9600"
print_and_wait tspl-e2e "$WORK/label.pdf" Darkness=50 tsSpeed=4 tsMediaTracking=Mark tsLabelMode=Tear
summary=$(decode tspl-e2e) || fail "TSPL stream"
echo "tspl: $summary" | head -n 6
expect "$summary" "language: tspl" "pages: 1" "816 dots per line, 1218 rows" "size=101.6 mm,152.4 mm" \
  "black-mark=3 mm,0 mm" "density=7" "speed=4" "set=TEAR ON" "print=1,1" "problems: none"
"$COMPARE" "$WORK/capture/tspl-e2e-1.png" "$WORK/label.png" || fail "the TSPL label does not match its page"

# ---- KV412 A on USB, recognised by its serial number: the PDF with the
# PPD's defaults (speed 900 and darkness 75 for an 832-dot head)
add_queue usb-thermal kv412-a.ppd "usb://Maker/Thermal%20Printer?serial=ABC123"
print_and_wait usb-thermal "$WORK/label.pdf"
summary=$(decode usb-thermal) || fail "USB thermal stream"
echo "usb thermal: $summary" | head -n 6
expect "$summary" "language: oem-thermal" "pages: 1" "832 dots per line, 1218 rows" \
  "speed=900" "density=75" "paper-type=0" "problems: none"
"$COMPARE" "$WORK/capture/usb-thermal-1.png" "$WORK/label.png" ||
  fail "the USB thermal label does not match its page"

# ---- a driverless queue (the IPP Everywhere PPD lpadmin makes from the
# printer's attributes) for a ZPL printer of dotweave-app on a file: device.
# The scheduler runs pdftopdf, then its ipp backend sends the job to the
# application as PDF (the application takes PDF) with the job's attributes:
# here two copies on 4 x 6 inch labels, which must come out as two labels,
# each dot for dot. What this CUPS does not pass on: options it does not
# know go as names (print-darkness=80 as the name "80", which PAPPL refuses:
# the job is cancelled), and orientation-requested is neither applied by
# pdftopdf to a portrait page nor sent on. Builds without the application
# (and the installed package) leave this part out.
if [ "$BUILD" != "--installed" ] && [ -x "$BUILD/app/dotweave-app" ]; then
  start_app_server "$BUILD/app/dotweave-app" "$FILTER" "$WORK/app" || fail "dotweave-app did not start"
  add_app_printer zpl dotweave-zpl || fail "dotweave-app could not add its printer"
  lpadmin -p driverless -E -v "ipp://localhost:$APP_PORT/ipp/print/zpl" -m everywhere ||
    fail "lpadmin could not add the driverless queue"
  lp -d driverless -n 2 -o media=oe_4x6-label_4x6in "$WORK/label.pdf" >/dev/null ||
    fail "lp refused the job for the driverless queue"
  i=0
  while [ -z "$(ls "$WORK/app/out-zpl")" ] || [ -n "$(lpstat -o driverless 2>/dev/null)" ]; do
    [ $i -lt 600 ] || fail "nothing reached dotweave-app's device within 60 s"
    sleep 0.1
    i=$((i + 1))
  done
  # The queue's job ends when the ipp backend has seen the application's job
  # end. (No dotweave-app sub-command here: "jobs -u" leaves a default
  # server's socket in /run behind.)
  set -- "$WORK/app/out-zpl"/*
  [ $# -eq 1 ] || fail "dotweave-app wrote $# files for one job"
  cp "$1" "$WORK/capture/driverless"
  summary=$(decode driverless) || fail "driverless stream"
  echo "driverless: $summary" | head -n 6
  expect "$summary" "language: zpl" "pages: 2" "1218 rows" "print-width=812" "problems: none"
  for page in 1 2; do
    "$COMPARE" "$WORK/capture/driverless-$page.png" "$WORK/label.png" ||
      fail "label $page of the driverless queue does not match its page"
  done
  stop_app_server
fi

if [ "$MODE" = "usb-only" ]; then
  echo "PASS (this build recognises OEM printers over USB only)"
  exit 0
fi

# ---- KV412 A thermal printer on a serial port, recognised from its queue
# name: the PNG, turned by half a turn, darker and faster
add_queue KV412-A kv412-a.ppd "serial:/dev/ttyUSB0?baud=115200"
print_and_wait KV412-A "$WORK/label.png" ppi=203 Density=90 Rotation=180 Speed=2 PaperType=1
summary=$(decode KV412-A) || fail "thermal stream"
echo "thermal: $summary" | head -n 6
expect "$summary" "language: oem-thermal" "pages: 1" "832 dots per line" \
  "speed=1200" "density=90" "paper-type=1" "problems: none"
"$COMPARE" "$WORK/capture/KV412-A-1.png" "$WORK/label.png" --rotate180 ||
  fail "the thermal label does not match its page turned by half a turn"

# ---- LC586 A needle printer, recognised from its device URI: the PDF form,
# at 180 dpi, which the printer gets in four rows for every five
add_queue needle-e2e lc586-a.ppd "serial:/dev/LC586-A?baud=9600"
print_and_wait needle-e2e "$WORK/form.pdf" Density=2 Speed=1 UnidirectionalPrint=0 \
  PrintStartPosition=-5 CutPaperPosition=7
summary=$(decode needle-e2e) || fail "needle stream"
echo "needle: $summary" | head -n 5
expect "$summary" "language: oem-needle" "pages: 1" "1440 dots per line" \
  "density=2" "unidirectional=0" "speed=1" "start-position=-5" "cut-position=7" "problems: none"
"$COMPARE" "$WORK/capture/needle-e2e-1.png" "$WORK/form-ref.png" --scale-y 4/5 --max-diff 6 ||
  fail "the needle form does not match its page"

echo "PASS"
