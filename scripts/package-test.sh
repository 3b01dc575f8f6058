#!/bin/sh
# The Debian package from end to end: makes dotweave_<version>_<arch>.deb
# from a build directory with CPack, checks it with lintian (an error fails,
# warnings are listed), installs it with apt-get, prints through the
# installed filter in the private-scheduler test with the PPD files from
# /usr/share/ppd/dotweave and through a private instance of the installed
# dotweave-app, checks the service's user, units (systemd-analyze verify,
# security rating at most 4.0) and a remote administrator's login through
# its PAM service, then purges it and checks that no file of it, nor its
# user, is left; last, the application's web pages in headless Chromium.
# Installing needs root or password-less sudo; without them everything
# after lintian is skipped.
#
#   scripts/package-test.sh BUILD_DIR     (scripts/test.sh passes build/normal)
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
BUILD=$(cd "$1" && pwd)   # absolute: apt-get takes a package file only by its path
PACKAGE=dotweave

fail() {
  echo "FAIL: $*"
  exit 1
}

# ---- build and check the package (as the invoking user)
[ -f "$BUILD/CMakeCache.txt" ] ||
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j 2 --target dotweave dotweave-preview dotweave-app dotweave_ppds dotweave_man \
  dotweave_changelog dotweave-e2e-compare
rm -f "$BUILD"/package/${PACKAGE}_*.deb
cpack --config "$BUILD/CPackConfig.cmake" >"$BUILD/cpack.log" 2>&1 || { cat "$BUILD/cpack.log"; fail "cpack"; }
DEB=$(ls "$BUILD"/package/${PACKAGE}_*.deb)
echo "package: $DEB"
dpkg-deb --field "$DEB" Package Version Architecture Depends Recommends

echo "==> lintian"
lintian_status=0
lintian_out=$(lintian --fail-on error --tag-display-limit 0 "$DEB" 2>&1) || lintian_status=$?
printf '%s\n' "$lintian_out" | grep -v 'root privileges' || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors"
echo "lintian: no errors"

# ---- install, print, purge (as root)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO="sudo -n"
  else
    echo "SKIP: installing the package needs root (or password-less sudo)"
    exit 0
  fi
fi

FILTER=$(cups-config --serverbin)/filter/dotweave
if dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null | grep -q 'ok installed'; then
  echo "SKIP: the package $PACKAGE is installed on this machine already; this test would purge it"
  exit 0
fi
if [ -e "$FILTER" ]; then
  echo "SKIP: $FILTER is there without the package (cmake --install?); this test would replace and remove it"
  exit 0
fi

WORK=$(mktemp -d /tmp/dotweave-package-XXXXXX)
installed=0
cleanup() {
  status=$?
  if [ "$installed" -eq 1 ]; then
    echo "purging $PACKAGE after a failure"
    $SUDO apt-get purge -y -q "$PACKAGE" >/dev/null 2>&1 || true
  fi
  rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

export DEBIAN_FRONTEND=noninteractive
# Nothing but what is already there: the package must not pull in the full
# CUPS package or anything else.
$SUDO apt-get install -s -q --no-install-recommends "$DEB" >"$WORK/plan" 2>&1 ||
  { cat "$WORK/plan"; fail "apt-get cannot install the package"; }
if grep '^Inst ' "$WORK/plan" | grep -v "^Inst $PACKAGE "; then
  fail "installing the package would install the packages above as well"
fi
installed=1
$SUDO apt-get install -y -q --no-install-recommends "$DEB" >"$WORK/install.log" 2>&1 ||
  { cat "$WORK/install.log"; fail "apt-get install"; }
dpkg -L "$PACKAGE" | grep -v '^/\.$' >"$WORK/files"
echo "installed $PACKAGE: $(wc -l <"$WORK/files") paths"

# ---- what the package put where
[ -x "$FILTER" ] || fail "no filter at $FILTER"
ppds=$(ls /usr/share/ppd/dotweave/*.ppd 2>/dev/null | wc -l)
built=$(ls "$BUILD"/ppd/*.ppd | wc -l)
[ "$ppds" -eq "$built" ] || fail "/usr/share/ppd/dotweave holds $ppds PPD files, the build made $built"
/usr/bin/dotweave-preview --help >/dev/null || fail "the installed dotweave-preview does not run"
for page in dotweave.8 dotweave-preview.1; do
  name=${page%.*} section=${page##*.}
  [ "$(man -w "$section" "$name" 2>/dev/null)" = "/usr/share/man/man$section/$page.gz" ] ||
    fail "man does not find $page in /usr/share/man/man$section"
  MANPAGER=cat MANWIDTH=80 man "$section" "$name" 2>/dev/null | grep -q '^NAME' || fail "man cannot show $page"
done
for doc in copyright changelog.Debian.gz; do
  [ -f "/usr/share/doc/$PACKAGE/$doc" ] || fail "no /usr/share/doc/$PACKAGE/$doc"
done

# ---- a job through the installed filter and PPD files
sh "$ROOT/tests/e2e/cups-e2e.sh" --installed "$BUILD/tests/dotweave-e2e-compare" /usr/bin/dotweave-preview ||
  fail "printing through the installed package"

# ---- the printer application: binary, systemd unit, enabled as Debian
# enables the services it installs, manual page, a job through a private
# instance of it
APP=/usr/sbin/dotweave-app
UNIT=/usr/lib/systemd/system/dotweave-app.service
[ -x "$APP" ] || fail "no $APP"
[ -f "$UNIT" ] || fail "no $UNIT"
grep -q "^ExecStart=$APP server" "$UNIT" || fail "$UNIT does not start $APP"
[ -L /etc/systemd/system/multi-user.target.wants/dotweave-app.service ] ||
  fail "the package did not enable dotweave-app.service"
[ "$(man -w 8 dotweave-app 2>/dev/null)" = "/usr/share/man/man8/dotweave-app.8.gz" ] ||
  fail "man does not find dotweave-app.8"
"$APP" drivers | grep -q '^kv412-a ' || fail "the installed $APP does not list the kv412-a driver"
sh "$ROOT/tests/e2e/app-installed.sh" "$APP" /usr/bin/dotweave-preview "$BUILD/tests/dotweave-e2e-compare" ||
  fail "printing through the installed dotweave-app"

# ---- the service without root: its user and groups, the units' checks and
# security rating, the PAM service, and a remote administrator's login
# checked by the installed server running as that user
getent passwd dotweave >/dev/null || fail "the package made no user dotweave"
for group in dotweave lp dialout; do
  id -nG dotweave | tr ' ' '\n' | grep -qx "$group" || fail "the user dotweave is not in group $group"
done
[ "$(getent passwd dotweave | cut -d: -f6,7)" = /var/lib/dotweave-app:/usr/sbin/nologin ] ||
  fail "the user dotweave has not the state directory for home and no login shell"
[ -f /etc/pam.d/dotweave-app ] || fail "no /etc/pam.d/dotweave-app"
[ -f /usr/lib/udev/rules.d/60-dotweave-app.rules ] || fail "no udev rules"
grep -q '^User=dotweave$' "$UNIT" || fail "$UNIT does not run the server as dotweave"
for unit in "$UNIT" /usr/lib/systemd/system/dotweave-app-autoadd.service; do
  systemd-analyze verify "$unit" >"$WORK/verify.log" 2>&1 || { cat "$WORK/verify.log"; fail "systemd-analyze verify $unit"; }
done
rating=$(systemd-analyze security --offline=true "$UNIT" 2>/dev/null |
  sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
[ -n "$rating" ] && awk -v r="$rating" 'BEGIN { exit !(r <= 4.0) }' ||
  fail "systemd-analyze security rates $UNIT ${rating:-(no figure)}, above 4.0"
echo "dotweave-app.service: exposure level $rating (systemd-analyze security --offline=true)"
sh "$ROOT/tests/e2e/app-service-login.sh" "$APP" "$UNIT" || fail "a remote administrator's login to the installed service"

# ---- purge, and nothing of the package may be left
$SUDO apt-get purge -y -q "$PACKAGE" >"$WORK/purge.log" 2>&1 || { cat "$WORK/purge.log"; fail "apt-get purge"; }
installed=0
if dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null | grep -q 'installed'; then
  fail "dpkg still lists $PACKAGE after the purge"
fi
left=0
while read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  # A directory stays when another package owns it or other files are in it.
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    dpkg-query -S "$path" >/dev/null 2>&1 && continue
    [ -n "$(ls -A "$path")" ] && continue
  fi
  echo "left after the purge: $path"
  left=1
done <"$WORK/files"
# Nor the service's enablement, state and user, which are not package files.
getent passwd dotweave >/dev/null && { echo "left after the purge: the user dotweave"; left=1; }
getent group dotweave >/dev/null && { echo "left after the purge: the group dotweave"; left=1; }
for path in /etc/systemd/system/multi-user.target.wants/dotweave-app.service /var/lib/dotweave-app; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    echo "left after the purge: $path"
    left=1
  fi
done
[ "$left" -eq 0 ] || fail "the purge left files of the package"

# ---- the application's web pages in a real browser, with the build's
# dotweave-app. Chromium is installed for it where it is missing (after the
# purge, so that the package's own install above stays alone); without it
# the check is skipped.
if ! command -v chromium >/dev/null 2>&1; then
  $SUDO apt-get install -y -q --no-install-recommends chromium >"$WORK/chromium.log" 2>&1 ||
    echo "chromium could not be installed: $(tail -1 "$WORK/chromium.log")"
fi
web_status=0
sh "$ROOT/tests/app/web-chromium.sh" "$BUILD/app/dotweave-app" "$BUILD/dotweave" || web_status=$?
[ "$web_status" -eq 0 ] || [ "$web_status" -eq 77 ] || fail "the web pages in Chromium"
echo "PASS: package built, lintian-clean, installed, printed through and purged without a trace"
