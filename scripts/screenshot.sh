#!/usr/bin/env bash
# Makes docs/window.png: the real utility, connected to the bus simulator, on a virtual
# X display (Xvfb), grabbed after a few seconds of traffic.
# Usage: scripts/screenshot.sh [output.png]   (BUILD_DIR: the build directory, default build)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build"}
output=${1:-"$here/docs/window.png"}
settle=${SETTLE_SECONDS:-4}

grab="$build_dir/tests/app/qtr290-screengrab"
for tool in "$build_dir/app/qtr290" "$build_dir/tools/qtr290-sim" "$grab"; do
  if [ ! -x "$tool" ]; then
    echo "screenshot: $tool is not built" >&2
    exit 1
  fi
done
command -v Xvfb >/dev/null || { echo "screenshot: Xvfb is missing (Debian package xvfb)" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=
utility_pid=
cleanup() {
  [ -n "$utility_pid" ] && kill "$utility_pid" 2>/dev/null && wait "$utility_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -br 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb

# The run directory is a temporary one: the operator's settings stay out of the picture.
RUN_DIR="$work/run" BUILD_DIR="$build_dir" "$here/scripts/run-utility.sh" >"$work/run.log" 2>&1 &
utility_pid=$!
sleep "$settle"
if ! kill -0 "$utility_pid" 2>/dev/null; then
  echo "screenshot: the utility stopped early:" >&2
  cat "$work/run.log" >&2
  exit 1
fi

mkdir -p "$(dirname "$output")"
"$grab" "$output"
echo "screenshot: $output"
