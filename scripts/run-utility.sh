#!/usr/bin/env bash
# Starts the built utility. Without a device it first starts the bus simulator on a
# pseudo-terminal and points the utility's port at it; with a device (say /dev/ttyUSB0)
# it uses that. The utility runs from its own directory (RUN_DIR, default build/run), whose
# nastaveni.ini keeps the operator's settings between runs; the script sets only
# [Seriovy port] Port=1 and [Porty] COM1=<device> in it, and with the simulator
# [Prehled] Zobrazit=1 where the file has no such key yet, through the utility's own
# settings code (build/tools/qtr290-ini).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build"}
run_dir=${RUN_DIR:-"$build_dir/run"}

usage() {
  cat <<'TEXT'
Usage: scripts/run.sh [DEVICE]
Builds the utility (installing missing Debian packages first) and starts it.
  without DEVICE  the bundled bus simulator plays the bus on a pseudo-terminal
  DEVICE          a serial device such as /dev/ttyUSB0; the utility's COM1 is pointed at it
                  (one that does not exist is handed over anyway: the window warns and its
                  status bar says that the device is missing)
The utility runs from build/run/, whose nastaveni.ini keeps its settings; the script sets
only [Seriovy port] Port=1 and [Porty] COM1=DEVICE there (with the simulator also
[Prehled] Zobrazit=1 the first time, so that the overview panel is shown). Ctrl-C closes the utility as its
window would, so the settings are kept.
Environment: BUILD_DIR (default build), RUN_DIR (default BUILD_DIR/run), QT_QPA_PLATFORM.
TEXT
}

case "${1:-}" in
-h | --help)
  usage
  exit 0
  ;;
-*)
  echo "run-utility: unknown option '$1'" >&2
  usage >&2
  exit 2
  ;;
esac
if [ $# -gt 1 ]; then
  echo "run-utility: one device at most" >&2
  usage >&2
  exit 2
fi
device=${1:-}

app="$build_dir/app/qtr290"
sim="$build_dir/tools/qtr290-sim"
ini="$build_dir/tools/qtr290-ini"

for tool in "$app" "$ini"; do
  if [ ! -x "$tool" ]; then
    echo "run-utility: $tool is not built (scripts/run.sh builds it)" >&2
    exit 1
  fi
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'TEXT'
run-utility: there is no display to show the window on.
  On a virtual X display (Debian package xvfb):
      xvfb-run -a -s "-screen 0 1280x1024x24" scripts/run.sh [device]
  To see it from another machine, Qt's VNC platform serves the window on port 5900:
      QT_QPA_PLATFORM=vnc:size=1280x1024 scripts/run.sh [device]
  and connect a VNC viewer to this machine.
TEXT
  exit 1
fi

mkdir -p "$run_dir"
# A copy: the settings file lies beside the executable, and this one belongs to the run.
install -m 755 "$app" "$run_dir/qtr290"
# qtr290-ctl beside it finds the same nastaveni.ini, by the window's own rule.
ctl="$build_dir/tools/qtr290-ctl"
[ -x "$ctl" ] && install -m 755 "$ctl" "$run_dir/qtr290-ctl"
settings="$run_dir/nastaveni.ini"

sim_pid=
app_pid=
cleanup() {
  # The utility closes its window on SIGTERM and writes its settings: wait for that.
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && wait "$sim_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "$device" ]; then
  if [ ! -x "$sim" ]; then
    echo "run-utility: $sim is not built (scripts/run.sh builds it)" >&2
    exit 1
  fi
  baud=$("$ini" "$settings" get "Seriovy port" "Baud rate" 4800 2>/dev/null || true)
  [[ "$baud" =~ ^[0-9]+$ ]] && [ "$baud" -ge 50 ] && [ "$baud" -le 4000000 ] || baud=4800

  : >"$run_dir/qtr290-sim.out"
  "$sim" --baud "$baud" >"$run_dir/qtr290-sim.out" 2>"$run_dir/qtr290-sim.log" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$run_dir/qtr290-sim.out" ] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
      echo "run-utility: the simulator did not start:" >&2
      cat "$run_dir/qtr290-sim.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  if [ ! -s "$run_dir/qtr290-sim.out" ]; then
    echo "run-utility: the simulator gave no device within 10 s" >&2
    exit 1
  fi
  # The first line is the pseudo-terminal's device path.
  device=$(head -n1 "$run_dir/qtr290-sim.out")
  echo "Bus simulator on $device ($baud baud), its log in $run_dir/qtr290-sim.log"
elif [ ! -e "$device" ]; then
  echo "run-utility: $device does not exist; the utility starts anyway and says so" >&2
fi

"$ini" "$settings" set "Seriovy port" Port 1 Porty COM1 "$device"
# The demonstration with the simulator shows the overview panel the first time; once the
# operator has hidden it, the file says so and stays as it is.
if [ -n "$sim_pid" ] && ! "$ini" "$settings" get Prehled Zobrazit >/dev/null 2>&1; then
  "$ini" "$settings" set Prehled Zobrazit 1
fi
echo "Starting the utility: COM1 = $device, settings in $settings"

"$run_dir/qtr290" &
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=
exit "$status"
