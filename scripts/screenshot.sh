#!/usr/bin/env bash
# Makes docs/window.png: the main window connected to the bus simulator on a virtual X
# display (Xvfb), with live traffic. The window runs in tests/console/qtr290-windowshot, which
# is the program's window plus the operator's part (START, a FRAM write of 12 34, a read of a
# silent station), so that Memo1 shows polls, the device's answers and a few damaged
# telegrams, Memo3 the transmitted telegrams and the overview, when shown, its live figures.
# The window as at a first start, the overview panel hidden; with "overview" the panel is
# shown ([Prehled] Zobrazit=1). With "ports" the utility talks on COM3 and the picture shows
# the port list opened as well, where COM1 is marked when /dev/ttyS0 exists.
# Usage: scripts/screenshot.sh [output.png [ports|overview]]   (BUILD_DIR: the build directory, default
# build; SETTLE_SECONDS: how long the traffic runs before the picture is taken, default 5;
# SCREENSHOT_LANGUAGE: the window's language through [Rozhrani] Jazyk, default none: Czech)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build"}
output=${1:-"$here/docs/window.png"}
mode=${2:-}
settle=${SETTLE_SECONDS:-5}

shot="$build_dir/tests/console/qtr290-windowshot"
sim="$build_dir/tools/qtr290-sim"
for tool in "$shot" "$sim"; do
  if [ ! -x "$tool" ]; then
    echo "screenshot: $tool is not built" >&2
    exit 1
  fi
done
command -v Xvfb >/dev/null || { echo "screenshot: Xvfb is missing (Debian package xvfb)" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb -displayfd 3 -screen 0 1600x1024x24 -nolisten tcp -br 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
# The pictures in docs/ are of DejaVu Sans Mono, whichever monospace font the machine prefers.
export FONTCONFIG_FILE=${FONTCONFIG_FILE:-"$here/tests/fonts/monospace-dejavu.conf"}

# The simulator: polls of station F0 every 300 ms, every 7th telegram with a damaged block;
# its device answers the window's requests.
"$sim" --poll-interval 300 --inject-block-errors 7 --quiet >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$work/sim.out" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "screenshot: the simulator stopped:" >&2; cat "$work/sim.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/sim.out" ] || { echo "screenshot: the simulator gave no device" >&2; exit 1; }
device=$(head -n1 "$work/sim.out")

# A fresh program directory: the operator's settings stay out of the picture.
mkdir -p "$work/run"
port=1
[ "$mode" = ports ] && port=3
printf '[Seriovy port]\r\nPort=%s\r\n\r\n[Porty]\r\nCOM%s=%s\r\n' "$port" "$port" "$device" \
  >"$work/run/nastaveni.ini"
[ "$mode" = overview ] && printf '\r\n[Prehled]\r\nZobrazit=1\r\n' >>"$work/run/nastaveni.ini"
if [ -n "${SCREENSHOT_LANGUAGE:-}" ]; then
  printf '\r\n[Rozhrani]\r\nJazyk=%s\r\n' "$SCREENSHOT_LANGUAGE" >>"$work/run/nastaveni.ini"
fi

mkdir -p "$(dirname "$output")"
if ! "$shot" "$work/run" "$output" "$settle" ${mode/overview/} >"$work/shot.log" 2>&1; then
  echo "screenshot: the window did not finish:" >&2
  cat "$work/shot.log" >&2
  exit 1
fi
echo "screenshot: $output"
