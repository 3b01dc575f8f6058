#!/bin/sh
# A remote administrator's login to the installed printer application, run as
# its system service runs it: as the user and with the groups of its unit
# (User=, the user's groups, SupplementaryGroups=), with the PAM service and
# admin group its ExecStart names, on the address of a veth pair inside a
# network namespace made here. From the other end, a user of the admin group
# (made here) gets /config over HTTPS with the right password, and a wrong
# password or none gets 401. Proves that the package's PAM file and the
# service's groups let a process that is not root check another user's
# password. The namespace, user and files are removed whatever the outcome.
#
#   app-service-login.sh APP UNIT-FILE
set -eu

APP=$1
UNIT=$2
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the service login needs root (a network namespace and a test user)"
  exit 0
fi

SERVICE_USER=$(sed -n 's/^User=//p' "$UNIT")
EXTRA_GROUPS=$(sed -n 's/^SupplementaryGroups=//p' "$UNIT" | tr ' ' ',')
PAM_SERVICE=$(sed -n 's/^ExecStart=.* -o auth-service=\([^ ]*\).*/\1/p' "$UNIT")
ADMIN_GROUP=$(sed -n 's/^ExecStart=.* -o admin-group=\([^ ]*\).*/\1/p' "$UNIT")
[ -n "$SERVICE_USER" ] && [ -n "$PAM_SERVICE" ] && [ -n "$ADMIN_GROUP" ] ||
  { echo "FAIL: $UNIT names no User=, auth-service or admin-group"; exit 1; }
GROUPS_OF_SERVICE=$(id -nG "$SERVICE_USER" | tr ' ' ',')${EXTRA_GROUPS:+,$EXTRA_GROUPS}

NS=dwlogin$$
LOGIN=dwlogin$$
PASSWORD=L0gin-pw-$$
SERVER_IP=192.0.2.1
CLIENT_IP=192.0.2.2
PORT=8631
WORK=$(mktemp -d /tmp/dotweave-login-XXXXXX)
chmod 755 "$WORK"
SERVER_PID=""
made_user=0
cleanup() {
  status=$?
  if [ -n "$SERVER_PID" ]; then
    kill "$SERVER_PID" 2>/dev/null || true
    i=0
    while kill -0 "$SERVER_PID" 2>/dev/null && [ $i -lt 50 ]; do
      ip netns exec "$NS" curl -s -o /dev/null -m 1 "http://$SERVER_IP:$PORT/" 2>/dev/null || true
      sleep 0.1
      i=$((i + 1))
    done
    kill -9 "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
  fi
  [ "$status" -ne 0 ] && grep -E '^[EW] ' "$WORK/state/dotweave-app.log" 2>/dev/null | tail -n 10
  ip netns del "$NS" 2>/dev/null || true
  [ "$made_user" -eq 1 ] && userdel "$LOGIN" 2>/dev/null
  rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() {
  echo "FAIL: $*"
  exit 1
}

ip netns add "$NS"
ip -n "$NS" link add veth-srv type veth peer name veth-cli
ip -n "$NS" addr add "$SERVER_IP/24" dev veth-srv
ip -n "$NS" addr add "$CLIENT_IP/24" dev veth-cli
for link in lo veth-srv veth-cli; do ip -n "$NS" link set "$link" up; done
useradd --no-create-home --shell /usr/sbin/nologin --groups "$ADMIN_GROUP" "$LOGIN"
made_user=1
printf '%s:%s\n' "$LOGIN" "$PASSWORD" | chpasswd
mkdir -p "$WORK/state" "$WORK/run"
chown "$SERVICE_USER:" "$WORK/state" "$WORK/run"

ip netns exec "$NS" setpriv --reuid="$SERVICE_USER" --regid="$SERVICE_USER" --groups="$GROUPS_OF_SERVICE" \
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$WORK/state" TMPDIR="$WORK/run" \
  "$APP" server -o server-port=$PORT -o listen-hostname=$SERVER_IP -o state-directory="$WORK/state" \
  -o auth-service="$PAM_SERVICE" -o admin-group="$ADMIN_GROUP" >"$WORK/server.out" 2>&1 &
SERVER_PID=$!
i=0
until ip netns exec "$NS" curl -s -o /dev/null -m 2 "http://$SERVER_IP:$PORT/"; do
  kill -0 "$SERVER_PID" 2>/dev/null || { cat "$WORK/server.out"; fail "the server stopped"; }
  [ $i -lt 100 ] || fail "the server did not answer"
  sleep 0.1
  i=$((i + 1))
done

config() {  # config [curl options]: the status of /config over HTTPS from the client's end
  ip netns exec "$NS" curl -s -k -m 10 -o /dev/null -w '%{http_code}' --interface "$CLIENT_IP" "$@" \
    "https://$SERVER_IP:$PORT/config"
}
[ "$(config)" = 401 ] || fail "/config without credentials was not refused"
[ "$(config -u "$LOGIN:wrong-$PASSWORD")" = 401 ] || fail "a wrong password was not refused"
code=$(config -u "$LOGIN:$PASSWORD")
[ "$code" = 200 ] || fail "the administrator's login as $SERVICE_USER ($GROUPS_OF_SERVICE) through PAM service $PAM_SERVICE: $code"
echo "PASS: a member of $ADMIN_GROUP logs in through PAM service $PAM_SERVICE to the server run as $SERVICE_USER"
