#!/bin/sh
# Installs the Debian 12 packages that dotweave's build, tests and tools need,
# skipping those already present. Runs apt-get as root, or through sudo.
# Never installs the packages "cups" or "cups-ppdc".
set -eu

PACKAGES="cmake ninja-build g++ pkg-config libcups2-dev libgtest-dev libgmock-dev
libbenchmark-dev libpng-dev umockdev cups-client cups-daemon cups-filters ghostscript
libpappl-dev libpam0g-dev cups-ipp-utils clang libclang-rt-14-dev groff-base man-db dpkg-dev file lintian
curl iproute2 passwd systemd avahi-daemon avahi-utils dbus"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "==> installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# avahi-daemon is for the DNS-SD test, which runs its own daemon inside a
# network namespace: the package must not start one on the machine's
# interfaces, neither when it is installed (a policy-rc.d that refuses, where
# the machine has none) nor later through systemd's socket or D-Bus
# activation (the units masked).
guard=""
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod 755 /usr/sbin/policy-rc.d
  guard=1
fi
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing || { [ -z "$guard" ] || $SUDO rm -f /usr/sbin/policy-rc.d; exit 1; }
[ -z "$guard" ] || $SUDO rm -f /usr/sbin/policy-rc.d
if command -v systemctl >/dev/null 2>&1; then
  $SUDO systemctl mask --now avahi-daemon.service avahi-daemon.socket >/dev/null 2>&1 ||
    $SUDO systemctl mask avahi-daemon.service avahi-daemon.socket >/dev/null 2>&1 || true
fi
