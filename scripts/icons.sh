#!/usr/bin/env bash
# Renders the application icon packaging/icons/qtr290.svg into the PNG sizes that are
# installed beside it (packaging/icons/qtr290-<size>.png). Run after changing the SVG.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/install-packages.sh" librsvg2-bin
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$here/packaging/icons/qtr290.svg" \
    -o "$here/packaging/icons/qtr290-$size.png"
done
