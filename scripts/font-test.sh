#!/usr/bin/env bash
# Runs the window's tests (CTest label "window") once for each named monospace font, made
# fontconfig's first choice for "monospace" by tests/fonts/monospace-<font>.conf. A font that
# fontconfig does not then pick (its package missing) fails the run: a font test that quietly
# ran on another font would prove nothing.
# Usage: scripts/font-test.sh BUILD_DIR FONT...   (FONT: dejavu, noto or liberation)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$1
shift
declare -A families=([dejavu]="DejaVu Sans Mono" [noto]="Noto Sans Mono" [liberation]="Liberation Mono")
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for font in "$@"; do
  family=${families[$font]:?"unknown font $font (dejavu, noto, liberation)"}
  export FONTCONFIG_FILE="$here/tests/fonts/monospace-$font.conf"
  picked=$(fc-match -f '%{family[0]}' monospace)
  if [ "$picked" != "$family" ]; then
    echo "font-test: fontconfig picks \"$picked\" for monospace, not \"$family\"" >&2
    exit 1
  fi
  echo "font-test: the window's tests with $family"
  (cd "$build_dir" && ctest --output-on-failure -j2 -L window)
done
