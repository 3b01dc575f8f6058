#!/bin/sh
# dotweave-app as an attacker on the network sees it. A network namespace
# made here (a veth pair with both ends inside it) holds a private server on
# one end's address, run as a user of its own like the system service (not
# root, groups shadow and lp, its local socket in its own TMPDIR and a link
# to it where root's clients look), with a PAM service from the package's
# file and an admin group of its own. From the other end's address:
#  - every administrative web page and form, and the IPP operations
#    Create-Printer, Delete-Printer, Set-Printer-Attributes and
#    Pause-Printer, are refused without credentials (and their effect never
#    happens), refused to a user outside the admin group and over plain HTTP,
#    and done for a user of the admin group over HTTPS;
#  - Print-Job, Get-Printer-Attributes and the status pages are answered;
#  - file: devices outside the allowed directory (/etc/x, DIR/../x, a
#    symbolic link in DIR leading out) are refused there and from the local
#    sub-commands, and no file appears.
# Without the group shadow the same server cannot check another user's
# password (pam_unix's helper checks only its caller's): that is tried too.
# The namespace, users, group, PAM file and directories are removed whatever
# the outcome. Needs root; skipped (status 77) otherwise.
#
#   security-netns.sh APP FILTER
set -eu

absolute() { case $1 in /*) echo "$1" ;; *) echo "$(pwd)/$1" ;; esac; }
APP_BIN=$(absolute "$1")
FILTER=$(absolute "$2")
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)

skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root (a network namespace, test users and a PAM service)"
for tool in ip curl ipptool setpriv useradd groupadd chpasswd; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing"
done
[ -f /etc/pam.d/common-auth ] || skip "no /etc/pam.d/common-auth (Debian's PAM configuration)"
getent group shadow >/dev/null || skip "no group shadow"

# What PAPPL and libcups keep until the process ends, in sanitizer builds:
# the server and the sub-commands alike.
LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$SOURCE/tests/app/lsan-pappl.supp
export LSAN_OPTIONS

ID=$$
NS=dwsec$ID
SVC=dwsvc$ID      # the service's user
ADMIN=dwadm$ID    # in the admin group, as a supplementary group
USER=dwusr$ID     # a user outside it
GROUP=dwgrp$ID
PAM=dotweave-app-test$ID
SERVER_IP=192.0.2.1
CLIENT_IP=192.0.2.2
PORT=8631
NAME=dotweave-app-secnet$ID
ADMIN_PW=Adm1n-pw-$ID
USER_PW=Us3r-pw-$ID

WORK=$(mktemp -d /tmp/dotweave-secnet-XXXXXX)
chmod 755 "$WORK"
STATE=$WORK/state
DIR=$WORK/files
OUTSIDE=$WORK/outside
RUN=$WORK/run
SERVER_PID=""
made_ns=0 made_group=0 made_users=""
failures=0

stop_server() {
  [ -n "$SERVER_PID" ] || return 0
  kill "$SERVER_PID" 2>/dev/null || true
  # PAPPL notices the signal when its poll wakes: a connection wakes it.
  i=0
  while kill -0 "$SERVER_PID" 2>/dev/null && [ $i -lt 100 ]; do
    [ $((i % 10)) -eq 9 ] && ip netns exec "$NS" curl -s -o /dev/null -m 1 "http://$SERVER_IP:$PORT/" 2>/dev/null || true
    sleep 0.1
    i=$((i + 1))
  done
  kill -9 "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=""
  rm -f "/run/$NAME.sock"
}

cleanup() {
  status=$?
  stop_server
  # A sub-command that found no server started one of its own.
  for pid in $(pgrep -f "^$WORK/$NAME server" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  if [ "$status" -ne 0 ] && [ -f "$STATE/dotweave-app.log" ]; then
    echo "---- the server's log: errors and refusals"
    grep -E '^[EW] |client-error|server-error' "$STATE/dotweave-app.log" | grep -v 'request: \|response: ' | tail -n 30
    tail -n 40 "$WORK/server.out" 2>/dev/null
  fi
  [ "$made_ns" -eq 1 ] && ip netns del "$NS" 2>/dev/null
  for u in $made_users; do userdel "$u" 2>/dev/null || true; done
  [ "$made_group" -eq 1 ] && groupdel "$GROUP" 2>/dev/null
  rm -f "/etc/pam.d/$PAM"
  rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

check() {  # check DESCRIPTION CONDITION...
  what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
  # A server that died makes every later check meaningless (and the
  # sub-commands would start one of their own).
  if [ -n "$SERVER_PID" ] && ! kill -0 "$SERVER_PID" 2>/dev/null; then
    echo "FAIL: the server stopped after: $what"
    SERVER_PID=""
    exit 1
  fi
}

# ---- the namespace, the users, the PAM service
ip netns add "$NS" || skip "cannot make a network namespace"
made_ns=1
ip -n "$NS" link add veth-srv type veth peer name veth-cli
ip -n "$NS" addr add "$SERVER_IP/24" dev veth-srv
ip -n "$NS" addr add "$CLIENT_IP/24" dev veth-cli
ip -n "$NS" link set lo up
ip -n "$NS" link set veth-srv up
ip -n "$NS" link set veth-cli up

groupadd "$GROUP"
made_group=1
useradd --system --user-group --no-create-home --shell /usr/sbin/nologin "$SVC"
made_users="$SVC"
useradd --no-create-home --shell /usr/sbin/nologin --groups "$GROUP" "$ADMIN"
made_users="$made_users $ADMIN"
useradd --no-create-home --shell /usr/sbin/nologin "$USER"
made_users="$made_users $USER"
printf '%s:%s\n%s:%s\n' "$ADMIN" "$ADMIN_PW" "$USER" "$USER_PW" | chpasswd
cp "$SOURCE/app/dotweave-app.pam" "/etc/pam.d/$PAM"

mkdir -p "$STATE" "$DIR/lab" "$DIR/inside" "$DIR/remote" "$DIR/sub" "$OUTSIDE" "$RUN" "$WORK/client"
echo "keep" >"$OUTSIDE/target"
# The service's user could write outside: only the server's own check stops it.
chown -R "$SVC:$SVC" "$STATE" "$DIR" "$OUTSIDE" "$RUN"
ln -s "$OUTSIDE/new" "$DIR/link-out"        # leads out, to a file not there yet
ln -s "$OUTSIDE/target" "$DIR/link-target"  # leads out, to a file that is
ln -s "$APP_BIN" "$WORK/$NAME"

start_server() {  # start_server SUPPLEMENTARY-GROUPS
  ip netns exec "$NS" setpriv --reuid="$SVC" --regid="$SVC" --groups="$1" \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$STATE" TMPDIR="$RUN" DOTWEAVE_FILTER="$FILTER" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
    LSAN_OPTIONS="$LSAN_OPTIONS" \
    "$WORK/$NAME" server -o server-port=$PORT -o listen-hostname=$SERVER_IP -o state-directory="$STATE" \
    -o file-device-directory="$DIR" -o auth-service="$PAM" -o admin-group="$GROUP" -o log-level=debug \
    >"$WORK/server.out" 2>&1 &
  SERVER_PID=$!
  socket=$RUN/$NAME$(id -u "$SVC").sock
  i=0
  until [ -S "$socket" ] && ip netns exec "$NS" curl -s -o /dev/null -m 2 "http://$SERVER_IP:$PORT/"; do
    kill -0 "$SERVER_PID" 2>/dev/null || { cat "$WORK/server.out"; echo "FAIL: the server stopped"; exit 1; }
    [ $i -lt 200 ] || { echo "FAIL: the server did not answer"; exit 1; }
    sleep 0.1
    i=$((i + 1))
  done
  # As the system service's unit does: root's clients look in /run.
  ln -sfn "$socket" "/run/$NAME.sock"
}

# Web requests from the client's address: the HTTP status code; the body
# in $WORK/body.
web() {  # web PATH-OR-URL [curl options]
  case $1 in http*) url=$1 ;; *) url=http://$SERVER_IP:$PORT$1 ;; esac
  shift
  ip netns exec "$NS" curl -s -k -m 10 -o "$WORK/body" -w '%{http_code}' --interface "$CLIENT_IP" "$@" "$url" || true
}
https() { echo "https://$SERVER_IP:$PORT$1"; }

# IPP from inside the namespace: the status-code. Documents go with a
# Content-Length: PAPPL 1.3 now and then answers a chunked Print-Job before
# reading its last chunk, and the client reports "Unable to finish request".
ipp() {  # ipp URI TEST-FILE [-d name=value ...]
  uri=$1 file=$2
  shift 2
  out=$(HOME=$WORK/client ip netns exec "$NS" ipptool -L -T 10 -tv "$@" "$uri" "$file" 2>&1) || true
  status=$(printf '%s\n' "$out" | sed -n 's/.*status-code = \([a-z-]*\).*/\1/p' | head -n 1)
  [ -n "$status" ] || status=$(printf '%s\n' "$out" | grep -o 'Unable to [^"]*' | head -n 1)
  echo "${status:-no answer}"
}

# ---- IPP requests
cat >"$WORK/create.test" <<'EOF'
{ OPERATION Create-Printer
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri system-uri $uri
  ATTR keyword printer-service-type print
  ATTR keyword smi55357-driver dotweave-zpl
  ATTR uri smi55357-device-uri $device
  GROUP printer-attributes-tag
  ATTR name printer-name $name }
EOF
cat >"$WORK/delete.test" <<'EOF'
{ OPERATION Delete-Printer
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri system-uri $uri
  ATTR integer printer-id $id }
EOF
cat >"$WORK/set.test" <<'EOF'
{ OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  GROUP printer-attributes-tag
  ATTR integer printer-darkness-configured $darkness }
EOF
for op in Pause-Printer Resume-Printer; do
  cat >"$WORK/$op.test" <<EOF
{ OPERATION $op
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name someone }
EOF
done
cat >"$WORK/set-device.test" <<'EOF'
{ OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  GROUP printer-attributes-tag
  ATTR uri smi55357-device-uri $device }
EOF
cat >"$WORK/get.test" <<'EOF'
{ OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes printer-state,printer-state-reasons,printer-darkness-configured,printer-id
  DISPLAY printer-state-reasons
  DISPLAY printer-darkness-configured
  DISPLAY printer-id }
EOF
cat >"$WORK/print.test" <<'EOF'
{ OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name someone
  ATTR name job-name $job
  ATTR mimeMediaType document-format application/vnd.zebra-zpl
  FILE $filename }
EOF
printf '^XA^FO20,20^GB100,100,8^FS^XZ\n' >"$WORK/label.zpl"

printer_attr() {  # printer_attr PRINTER ATTRIBUTE: its value, asked from the client's end
  HOME=$WORK/client ip netns exec "$NS" ipptool -T 10 -tv "ipp://$SERVER_IP:$PORT/ipp/print/$1" "$WORK/get.test" 2>/dev/null |
    sed -n "s/^ *$2 ([^)]*) = //p" | tail -n 1
}
printer_exists() { "$WORK/$NAME" printers 2>/dev/null | grep -qx "$1"; }
no_file() { [ ! -e "$1" ] && [ ! -L "$1" ]; }
unchanged_target() { [ "$(cat "$OUTSIDE/target")" = keep ]; }

SYS_URI=ipp://$SERVER_IP:$PORT/ipp/system
SYS_URI_ADMIN=ipps://$ADMIN:$ADMIN_PW@$SERVER_IP:$PORT/ipp/system
LAB_URI=ipp://$SERVER_IP:$PORT/ipp/print/lab
LAB_URI_ADMIN=ipps://$ADMIN:$ADMIN_PW@$SERVER_IP:$PORT/ipp/print/lab

# ---- without the group shadow, the service cannot check another user's password
start_server "lp"
code=$(web "$(https /config)" -u "$ADMIN:$ADMIN_PW")
check "without group shadow PAM refuses the administrator's right password ($code)" [ "$code" = 401 ]
stop_server

# ---- the server as the service runs it
start_server "lp,shadow"

# Local sub-commands through the local socket, as root.
"$WORK/$NAME" add -d lab -m dotweave-zpl -v "file://$DIR/lab" >"$WORK/add.out" 2>&1 ||
  { cat "$WORK/add.out"; echo "FAIL: the local add of a printer inside the directory"; exit 1; }
check "root's printers sub-command reaches the non-root server" printer_exists lab
check "a path inside the directory after .. is taken" \
  "$WORK/$NAME" add -d inside -m dotweave-zpl -v "file://$DIR/sub/../inside"
for uri in "file:///etc/x" "file://$DIR/../outside/target" "file://$DIR/link-out" "file://$DIR/link-target" \
           "file://$OUTSIDE/target"; do
  if "$WORK/$NAME" add -d refused -m dotweave-zpl -v "$uri" >"$WORK/add.out" 2>&1; then
    check "local add refuses $uri" false
  else
    check "local add refuses $uri, with where to look" grep -q "file device directory" "$WORK/add.out"
  fi
done
check "no printer made from the refused URIs" sh -c "! '$WORK/$NAME' printers | grep -qx refused"
check "no file appeared outside, nothing written" sh -c "[ ! -e /etc/x ] && [ ! -e '$OUTSIDE/new' ] && [ \"\$(cat '$OUTSIDE/target')\" = keep ]"
check "the log says why the link was refused" \
  grep -q "Refusing file://$DIR/link-target: .*outside the file device directory" "$STATE/dotweave-app.log"

# Open to everyone: status pages, attributes, printing.
for page in / /lab /lab/ /lab/supplies; do
  code=$(web "$page")
  check "GET $page answered without credentials ($code)" [ "$code" = 200 ]
done
check "Get-Printer-Attributes answered without credentials" [ "$(printer_attr lab printer-state-reasons)" = none ]
status=$(ipp "$LAB_URI" "$WORK/print.test" -f "$WORK/label.zpl" -d job=remote-job-1)
check "Print-Job accepted without credentials ($status)" [ "$status" = successful-ok ]
i=0
until [ -n "$(ls "$DIR/lab")" ] || [ $i -ge 100 ]; do sleep 0.1; i=$((i + 1)); done
check "the job's bytes reached the printer's file" grep -q '\^XA' "$DIR"/lab/*

# The page's form value, which the forms carry.
web /lab/ >/dev/null
SESSION=$(sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' "$WORK/body" | head -n 1)
check "the printer page carries a form value" [ -n "$SESSION" ]

# Administrative pages and forms, without credentials: over HTTP and HTTPS.
ADMIN_PAGES="/addprinter /config /security /network /logs /logfile.txt /lab/delete /lab/config /lab/media \
/lab/printing /lab/jobs /lab/cancelall"
for page in $ADMIN_PAGES; do
  plain=$(web "$page")
  tls=$(web "$(https "$page")")
  posted=$(web "$(https "$page")" -d "session=$SESSION")
  case "$plain $tls $posted" in
    *200*) check "$page refused without credentials (http $plain, https $tls, POST $posted)" false ;;
    *) check "$page refused without credentials (http $plain, https $tls, POST $posted)" true ;;
  esac
done
for action in pause-printer hold-new-jobs identify-printer print-test-page; do
  plain=$(web /lab/ -d "session=$SESSION&action=$action")
  tls=$(web "$(https /lab/)" -d "session=$SESSION&action=$action")
  check "the printer page's $action refused without credentials (http $plain, https $tls)" \
    sh -c "[ $plain != 200 ] && [ $tls = 401 ]"
done
web "$(https /lab/delete)" -d "session=$SESSION" >/dev/null
web "$(https /addprinter)" \
  -d "session=$SESSION&printer_name=evil&driver_name=dotweave-zpl&device_uri=file://$DIR/remote" >/dev/null
web "$(https /config)" -d "session=$SESSION&location=Hacked" >/dev/null
sleep 0.3
check "nothing happened: printer there, not paused, no test page, none added" \
  sh -c "'$WORK/$NAME' printers | grep -qx lab && ! '$WORK/$NAME' printers | grep -qx evil &&
         [ \$(ls '$DIR/lab' | wc -l) -eq 1 ]"
check "the printer is not paused" [ "$(printer_attr lab printer-state-reasons)" = none ]

# A user outside the admin group, and the administrator over plain HTTP.
code=$(web "$(https /config)" -u "$USER:$USER_PW")
check "a user outside the admin group is refused ($code)" [ "$code" = 403 ]
code=$(web /config -u "$ADMIN:$ADMIN_PW")
check "the administrator's password is not taken over plain HTTP ($code)" [ "$code" != 200 ]
code=$(web "$(https /config)" -u "$ADMIN:wrong")
check "a wrong password is refused ($code)" [ "$code" = 401 ]

# IPP administration without credentials: refused, and nothing happens.
status=$(ipp "$SYS_URI" "$WORK/create.test" -d name=remote -d "device=file://$DIR/remote")
check "Create-Printer refused without credentials ($status)" sh -c "[ '$status' != successful-ok ] && ! '$WORK/$NAME' printers | grep -qx remote"
LAB_ID=1  # the first printer made
status=$(ipp "$SYS_URI" "$WORK/delete.test" -d "id=$LAB_ID")
check "Delete-Printer refused without credentials ($status)" sh -c "[ '$status' != successful-ok ] && '$WORK/$NAME' printers | grep -qx lab"
status=$(ipp "$LAB_URI" "$WORK/set.test" -d darkness=99)
check "Set-Printer-Attributes refused without credentials ($status)" [ "$status" != successful-ok ]
status=$(ipp "$LAB_URI" "$WORK/Pause-Printer.test")
check "Pause-Printer refused without credentials ($status)" [ "$status" != successful-ok ]
check "the printer is neither paused nor changed" \
  sh -c "[ '$(printer_attr lab printer-state-reasons)' = none ] && [ '$(printer_attr lab printer-darkness-configured)' != 99 ]"

# The administrator, over HTTPS: every page, the forms, the operations.
for page in $ADMIN_PAGES; do
  [ "$page" = /network ] && continue  # not part of this server's interface
  code=$(web "$(https "$page")" -u "$ADMIN:$ADMIN_PW")
  check "$page served to the administrator ($code)" sh -c "[ $code = 200 ] || [ $code = 206 ]"
done
code=$(web "$(https /network)" -u "$ADMIN:$ADMIN_PW")
check "/network is not served at all ($code)" [ "$code" = 404 ]
code=$(web "$(https /lab/)" -u "$ADMIN:$ADMIN_PW" -d "session=$SESSION&action=pause-printer")
check "the administrator pauses the printer from its page ($code)" [ "$(printer_attr lab printer-state-reasons)" = paused ]
status=$(ipp "$LAB_URI_ADMIN" "$WORK/Resume-Printer.test")
check "the administrator resumes it over IPP ($status)" [ "$(printer_attr lab printer-state-reasons)" = none ]
status=$(ipp "$LAB_URI_ADMIN" "$WORK/Pause-Printer.test")
check "Pause-Printer done for the administrator ($status)" [ "$(printer_attr lab printer-state-reasons)" = paused ]
ipp "$LAB_URI_ADMIN" "$WORK/Resume-Printer.test" >/dev/null
status=$(ipp "$LAB_URI_ADMIN" "$WORK/set.test" -d darkness=42)
check "Set-Printer-Attributes done for the administrator ($status)" [ "$(printer_attr lab printer-darkness-configured)" = 42 ]
# A printer's device cannot be moved afterwards (PAPPL 1.3 has no settable
# device URI): a job after the attempt still lands in the printer's directory.
ipp "$LAB_URI_ADMIN" "$WORK/set-device.test" -d "device=file://$OUTSIDE/target" >/dev/null
status=$(ipp "$LAB_URI" "$WORK/print.test" -f "$WORK/label.zpl" -d job=remote-job-2)
i=0
until [ "$(ls "$DIR/lab" | wc -l)" -ge 2 ] || [ $i -ge 100 ]; do sleep 0.1; i=$((i + 1)); done
check "after an attempt to move its device, a job still lands in the printer's directory ($status)" \
  sh -c "[ \$(ls '$DIR/lab' | wc -l) -ge 2 ] && [ \"\$(cat '$OUTSIDE/target')\" = keep ]"
status=$(ipp "$SYS_URI_ADMIN" "$WORK/create.test" -d name=remote -d "device=file://$DIR/remote")
check "Create-Printer done for the administrator ($status)" printer_exists remote
for uri in "file://$DIR/../outside/target" "file://$DIR/link-out" "file://$DIR/link-target"; do
  status=$(ipp "$SYS_URI_ADMIN" "$WORK/create.test" -d name=outside -d "device=$uri")
  check "Create-Printer of $uri refused even to the administrator ($status)" [ "$status" != successful-ok ]
  web "$(https /addprinter)" -u "$ADMIN:$ADMIN_PW" \
    -d "session=$SESSION&printer_name=outside&driver_name=dotweave-zpl&device_uri=$uri" >/dev/null
done
check "no printer made of them, no file appeared outside" \
  sh -c "! '$WORK/$NAME' printers | grep -qx outside && [ ! -e '$OUTSIDE/new' ] && [ \"\$(cat '$OUTSIDE/target')\" = keep ]"
# PAPPL 1.3 answers printer-id 0 in the printer's attributes; its state
# file, saved soon after the printer is made (once no job has run for two
# seconds), has the real one.
i=0
until grep -q 'name="remote"' "$STATE/dotweave-app.state" 2>/dev/null || [ $i -ge 200 ]; do sleep 0.1; i=$((i + 1)); done
REMOTE_ID=$(sed -n 's/.* id="\([0-9]*\)" name="remote".*/\1/p' "$STATE/dotweave-app.state")
status=$(ipp "$SYS_URI_ADMIN" "$WORK/delete.test" -d "id=$REMOTE_ID")
check "Delete-Printer of printer $REMOTE_ID done for the administrator ($status)" sh -c "! '$WORK/$NAME' printers | grep -qx remote"
code=$(web /remote/)
check "the deleted printer's page is gone ($code) and the server goes on" \
  sh -c "[ $code = 404 ] && kill -0 $SERVER_PID"
code=$(web "$(https /inside/delete)" -u "$ADMIN:$ADMIN_PW" -d "session=$SESSION")
check "the administrator deletes a printer from its page ($code)" sh -c "! '$WORK/$NAME' printers | grep -qx inside"

stop_server
[ "$failures" -eq 0 ] || { echo "FAIL: $failures checks failed"; exit 1; }
echo "PASS: remote administration only for the admin group over HTTPS; file: devices only inside their directory"
