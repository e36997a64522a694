#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build"}

"$here/scripts/setup.sh" "$build_dir"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
cd "$build_dir"
ctest --output-on-failure -j2
