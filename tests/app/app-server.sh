# Shell functions for tests that need a private dotweave-app server: its own
# state directory, a free loopback port, printers on file: devices inside
# that directory (its file-device-directory). Sourced; the caller sets
# APP_TESTS to this folder and stops the server in its EXIT trap with
# stop_app_server.
#
#   start_app_server APP FILTER DIR   sets APP_PID, APP_PORT, APP_URI (system)
#   add_app_printer NAME DRIVER       output files in $APP_DIR/out-NAME
#   stop_app_server

APP_PID=""
# Memory PAPPL and libcups keep until the process ends, in sanitizer builds.
APP_LSAN_SUPP=$APP_TESTS/lsan-pappl.supp

# 0 when something listens on loopback port $1 (IPv4 or IPv6).
port_in_use() {
  hex=$(printf '%04X' "$1")
  awk -v p=":$hex" 'NR > 1 && $4 == "0A" && substr($2, length($2) - 4) == p { found = 1 } END { exit !found }' \
    /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

start_app_server() {
  APP=$1 APP_FILTER=$2 APP_DIR=$3
  mkdir -p "$APP_DIR"
  # PAPPL's sub-commands reach a server on this machine through the local
  # socket named after the program (/run/NAME.sock for root), whatever host
  # and port -u names, and a new server takes that socket over. Under a name
  # of its own this server's sub-commands reach it and no other.
  APP_NAME=dotweave-app-test-$$
  case $APP in /*) ;; *) APP=$(pwd)/$APP ;; esac
  ln -sf "$APP" "$APP_DIR/$APP_NAME"
  APP=$APP_DIR/$APP_NAME
  LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$APP_LSAN_SUPP
  export LSAN_OPTIONS
  for attempt in 1 2 3 4 5 6 7 8; do
    APP_PORT=$((20000 + ($$ * 13 + attempt * 2003) % 40000))
    port_in_use "$APP_PORT" && continue
    DOTWEAVE_FILTER=$APP_FILTER "$APP" server -o server-port="$APP_PORT" -o listen-hostname=localhost \
      -o state-directory="$APP_DIR" -o file-device-directory="$APP_DIR" -o log-level=debug >"$APP_DIR/server.out" 2>&1 &
    APP_PID=$!
    APP_URI=ipp://localhost:$APP_PORT/ipp/system
    i=0
    while kill -0 "$APP_PID" 2>/dev/null && [ $i -lt 200 ]; do
      # Only the port is checked: a sub-command run before the server
      # answers may start a default server of its own.
      if port_in_use "$APP_PORT"; then
        return 0
      fi
      sleep 0.1
      i=$((i + 1))
    done
    stop_app_server
  done
  cat "$APP_DIR/server.out" 2>/dev/null
  return 1
}

add_app_printer() {
  mkdir -p "$APP_DIR/out-$1"
  "$APP" add -u "$APP_URI" -d "$1" -m "$2" -v "file://$APP_DIR/out-$1"
}

# SIGTERM, then SIGKILL after 15 seconds.
stop_app_server() {
  [ -n "$APP_PID" ] || return 0
  kill "$APP_PID" 2>/dev/null || true
  i=0
  while kill -0 "$APP_PID" 2>/dev/null && [ $i -lt 150 ]; do sleep 0.1; i=$((i + 1)); done
  kill -9 "$APP_PID" 2>/dev/null || true
  wait "$APP_PID" 2>/dev/null || true
  APP_PID=""
  # PAPPL leaves its local socket behind.
  rm -f "/run/$APP_NAME.sock" "${TMPDIR:-/tmp}/$APP_NAME$(id -u).sock"
}
