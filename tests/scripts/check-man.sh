#!/bin/sh
# Every manual page in man/ formats without a single warning, in groff's
# strictest mode and in man's own check (the one lintian runs), and
# dotweave(8) names every OEM model that has a PPD file.
#
#   check-man.sh SOURCE_DIR PPD_DIR
set -eu
src=$1
ppds=$2

failed=0
pages=$(ls "$src"/man/*.[1-9])
for page in $pages; do
  out=$(groff -ww -z -man "$page" 2>&1) || { echo "groff failed on $page"; failed=1; }
  if [ -n "$out" ]; then printf '%s: groff:\n%s\n' "$page" "$out"; failed=1; fi
  if command -v man >/dev/null 2>&1; then
    out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) ||
      { echo "man failed on $page"; failed=1; }
    if [ -n "$out" ]; then printf '%s: man --warnings:\n%s\n' "$page" "$out"; failed=1; fi
  fi
done

# The model list of dotweave(8) against the PPD files of the OEM family
# (cupsModelNumber 19), whose *Product is "(<model>)". Names may not be split
# over source lines, so the page is read as one line.
text=$(tr '\n' ' ' <"$src/man/dotweave.8")
models=0
for ppd in "$ppds"/*.ppd; do
  grep -q '^\*cupsModelNumber: 19$' "$ppd" || continue
  model=$(sed -n 's/^\*Product: "(\(.*\))"$/\1/p' "$ppd")
  models=$((models + 1))
  case $text in
    *"$model,"* | *"$model "* | *"$model."*) ;;
    *) echo "dotweave.8 does not name the model \"$model\" ($(basename "$ppd"))"; failed=1 ;;
  esac
done
[ "$models" -gt 0 ] || { echo "no OEM PPD files in $ppds"; failed=1; }

[ "$failed" -eq 0 ] && echo "$(echo "$pages" | wc -w) manual pages without warnings; dotweave.8 names all $models OEM models"
exit "$failed"
