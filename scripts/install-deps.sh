#!/bin/sh
# Installs the Debian 12 packages that dotweave's build, tests and tools need,
# skipping those already present. Runs apt-get as root, or through sudo.
# Never installs the packages "cups" or "cups-ppdc".
set -eu

PACKAGES="cmake ninja-build g++ pkg-config libcups2-dev libgtest-dev libgmock-dev
libbenchmark-dev libpng-dev umockdev cups-client cups-daemon cups-filters ghostscript
libpappl-dev libpam0g-dev cups-ipp-utils clang libclang-rt-14-dev groff-base man-db dpkg-dev file lintian
curl iproute2 passwd systemd"

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
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
