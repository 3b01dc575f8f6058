#!/bin/sh
# Every printer announced on DNS-SD: loaded at start, added with
# "dotweave-app add" (IPP Create-Printer), added and renamed on the web
# page, deleted on the web page. Runs in a network namespace of its own (a veth pair with
# both ends inside) with a private mount namespace over /run, so that its
# dbus-daemon, avahi-daemon and server touch nothing of the machine's.
#
#   dnssd-namespace.sh DOTWEAVE-APP DOTWEAVE-FILTER
set -eu

skip() { echo "SKIP: $*"; exit 77; }

if [ "${DW_DNSSD_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root for a network namespace"
  for tool in avahi-daemon avahi-browse dbus-daemon ip unshare curl; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (avahi-daemon, avahi-utils, dbus, curl)"
  done
  NS=dwdnssd$$
  ip netns add "$NS" 2>/dev/null || skip "cannot make a network namespace here"
  trap 'ip netns del "$NS" 2>/dev/null || true' EXIT INT TERM
  ip netns exec "$NS" sh -c 'ip link add veth0 type veth peer name veth1 &&
    ip addr add 10.77.0.1/24 dev veth0 && ip addr add 10.77.0.2/24 dev veth1 &&
    ip link set lo up && ip link set veth0 up && ip link set veth1 up'
  status=0
  DW_DNSSD_INSIDE=1 ip netns exec "$NS" unshare -m --propagation private sh "$0" "$@" || status=$?
  exit $status
fi

# ---- inside the namespaces --------------------------------------------------
abspath() { case $1 in /*) echo "$1" ;; *) echo "$(pwd)/$1" ;; esac; }
APP=$(abspath "$1") FILTER=$(abspath "$2")
DIR=$(mktemp -d /tmp/dw-dnssd-XXXXXX)
DBUS_PID="" AVAHI_PID="" SERVER_PID=""
cleanup() {
  for pid in $SERVER_PID $AVAHI_PID $DBUS_PID; do kill "$pid" 2>/dev/null || true; done
  for pid in $SERVER_PID $AVAHI_PID $DBUS_PID; do
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$DIR"
}
trap cleanup EXIT INT TERM
# /run of this mount namespace only: the bus socket, avahi's socket and pid
# file, the server's local socket.
mount -t tmpfs tmpfs /run
mkdir -p /run/dbus /run/avahi-daemon

cat >"$DIR/dbus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
cat >"$DIR/avahi.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=veth0
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF

dbus-daemon --config-file="$DIR/dbus.conf" --nofork --nopidfile >"$DIR/dbus.log" 2>&1 &
DBUS_PID=$!
i=0
while [ ! -S /run/dbus/system_bus_socket ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
avahi-daemon -f "$DIR/avahi.conf" --no-drop-root --no-chroot --no-rlimits >"$DIR/avahi.log" 2>&1 &
AVAHI_PID=$!
i=0
while ! grep -q "Server startup complete" "$DIR/avahi.log" && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
grep -q "Server startup complete" "$DIR/avahi.log" || { cat "$DIR/avahi.log"; echo "FAIL: avahi-daemon did not start"; exit 1; }

LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/lsan-pappl.supp
export LSAN_OPTIONS
PORT=8631
SYSTEM=ipp://localhost:$PORT/ipp/system
ln -s "$APP" "$DIR/dotweave-app"
mkdir -p "$DIR/state/out"
start_server() {
  DOTWEAVE_FILTER=$FILTER "$DIR/dotweave-app" server -o server-port=$PORT -o state-directory="$DIR/state" -o file-device-directory="$DIR/state" \
    -o log-level=debug >>"$DIR/server.out" 2>&1 &
  SERVER_PID=$!
  i=0
  while ! curl -sf -o /dev/null "http://localhost:$PORT/" && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
}
# PAPPL sees SIGTERM when its poll wakes: a request wakes it.
stop_server() {
  kill "$SERVER_PID"
  i=0
  while kill -0 "$SERVER_PID" 2>/dev/null && [ $i -lt 100 ]; do
    curl -s -o /dev/null --max-time 1 "http://localhost:$PORT/" || true
    sleep 0.1
    i=$((i + 1))
  done
  wait "$SERVER_PID" || true
  SERVER_PID=""
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The resolved _ipp._tcp services, one "name;txt" line each.
services() { avahi-browse -rpt _ipp._tcp 2>/dev/null | awk -F';' '$1 == "=" { print $4 ";" $10 }' | sort -u; }

# Waits up to 10 s for service $1 to be there (present) or gone (absent).
expect_service() {
  want=$2 i=0
  while [ $i -lt 20 ]; do
    if services | grep -q "^$1;"; then have=present; else have=absent; fi
    [ "$have" = "$want" ] && return 0
    sleep 0.5
    i=$((i + 1))
  done
  fail "$1 is $have on DNS-SD, expected $want ($3)"
}

# A form of the web interface, with the session value the page carries.
post_form() {
  page=$1 shift
  session=$(curl -s "http://localhost:$PORT$page" | sed -n 's/.*name="session" value="\([0-9a-f]*\)".*/\1/p' | head -1)
  curl -s -o /dev/null -w '%{http_code}' --data-urlencode "session=$session" "$@" "http://localhost:$PORT$page"
}

start_server
"$DIR/dotweave-app" add -u "$SYSTEM" -d loaded -m dotweave-zpl -v "file://$DIR/state/out" >/dev/null
stop_server
start_server
expect_service loaded present "a printer loaded at start"

# IPP Create-Printer.
"$DIR/dotweave-app" add -u "$SYSTEM" -d cli -m dotweave-zpl -v "file://$DIR/state/out" >/dev/null
expect_service cli present "a printer added with dotweave-app add"
txt=$(services | grep "^cli;" || true)
for key in rp=ipp/print/cli ty= pdl= URF= kind=; do
  case $txt in *\"$key*) ;; *) fail "the TXT record of cli has no $key: $txt" ;; esac
done

# The web page's Add Printer, announced once.
code=$(post_form /addprinter --data-urlencode printer_name=web --data-urlencode driver_name=dotweave-epl-page \
  --data-urlencode "device_uri=file://$DIR/state/out")
expect_service web present "a printer added on the web page (HTTP $code)"
[ "$(services | grep -c '^web')" -eq 1 ] || fail "web is announced more than once: $(services | grep '^web')"

# Renamed on its configuration page.
code=$(post_form /cli/config --data-urlencode dns_sd_name=Renamed --data-urlencode location= \
  --data-urlencode geo_location_lat=0 --data-urlencode geo_location_lon=0 --data-urlencode organization= \
  --data-urlencode organizational_unit= --data-urlencode contact_name= --data-urlencode contact_email= \
  --data-urlencode contact_telephone=)
expect_service Renamed present "cli renamed (HTTP $code)"
expect_service cli absent "the old name of a renamed printer"

# Deleted on the web page. (IPP Delete-Printer needs the printer-id, which
# PAPPL 1.3.1 reports as 0 for every printer.)
code=$(post_form /web/delete)
expect_service web absent "a deleted printer (HTTP $code)"
expect_service loaded present "the other printers after a delete"

if [ $failures -ne 0 ]; then
  echo "---- services:"; services
  echo "---- server log (DNS-SD):"; grep -i "dns-sd\|dnssd\|avahi" "$DIR/state/dotweave-app.log" | tail -20
  exit 1
fi
echo "PASS: printers announced when loaded, added (IPP and web), renamed and deleted"
