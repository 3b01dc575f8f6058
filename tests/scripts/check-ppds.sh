#!/bin/sh
# Installs the build into a staging directory, the way a package would, and
# runs cupstestppd on every installed PPD file; the staging directory is the
# root for cupstestppd's file checks, so the filter named by each PPD's
# *cupsFilter line must be installed too.
#
#   check-ppds.sh BUILD_DIR
set -eu
build=$1
expected=41   # 27 OEM models, 5 label families, 5 ESC/POS and 4 TSPL printers

stage=$(mktemp -d "${TMPDIR:-/tmp}/dotweave-ppd-XXXXXX")
trap 'rm -rf "$stage"' EXIT INT TERM

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
ppds=$(find "$stage" -path '*/model/dotweave/*.ppd' | sort)
count=$(printf '%s\n' "$ppds" | grep -c . || true)
if [ "$count" -ne "$expected" ]; then
  echo "expected $expected installed PPD files, found $count"
  exit 1
fi

failed=0
for ppd in $ppds; do
  if ! result=$(cupstestppd -R "$stage" "$ppd" 2>&1); then
    printf '%s\n' "$result" | grep -v '^ *PASS'
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "$count PPD files pass cupstestppd"
exit "$failed"
