#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the utility.
# Usage: scripts/run.sh [device]   (without a device the bundled bus simulator is used;
# scripts/run.sh --help tells more)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build"}

# Options are answered before anything is installed or built.
case "${1:-}" in
-*) exec "$here/scripts/run-utility.sh" "$@" ;;
esac

"$here/scripts/setup.sh" "$build_dir"
BUILD_DIR="$build_dir" exec "$here/scripts/run-utility.sh" "$@"
