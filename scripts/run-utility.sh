#!/usr/bin/env bash
# Starts the built utility. Without a device it first starts the bus simulator on a
# pseudo-terminal and points the utility's port at it; with a device (say /dev/ttyUSB0)
# it uses that. The utility runs from its own directory (RUN_DIR, default build/run), whose
# nastaveni.ini keeps the operator's settings between runs; the script sets only
# [Seriovy port] Port=1 and [Porty] COM1=<device> in it.
# Usage: scripts/run-utility.sh [device]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build"}
run_dir=${RUN_DIR:-"$build_dir/run"}
device=${1:-}

app="$build_dir/app/qtr290"
sim="$build_dir/tools/qtr290-sim"

if [ ! -x "$app" ]; then
  echo "run-utility: $app is not built (scripts/run.sh builds it)" >&2
  exit 1
fi

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

# ini_set FILE SECTION KEY VALUE: the private-profile write the utility itself reads back:
# names match case-insensitively, the key goes first into the first section of that name
# (other entries of the key there are dropped), every other line stays as it was.
ini_set() {
  local file=$1 section=$2 key=$3 value=$4 tmp
  tmp=$(mktemp "$file.XXXXXX")
  [ -f "$file" ] || : >"$file"
  awk -v section="$section" -v key="$key" -v value="$value" '
    function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }
    {
      line = $0; sub(/\r$/, "", line); t = trim(line)
      if (t ~ /^\[/) {
        name = substr(t, 2); sub(/\].*/, "", name)
        inside = !done && tolower(trim(name)) == tolower(section)
        print
        if (inside) { print key "=" value "\r"; done = 1 }
        next
      }
      if (inside && index(t, "=") > 0 && tolower(trim(substr(t, 1, index(t, "=") - 1))) == tolower(key))
        next
      print
    }
    END { if (!done) printf "%s[%s]\r\n%s=%s\r\n", (NR > 0 ? "\r\n" : ""), section, key, value }
  ' "$file" >"$tmp"
  mv "$tmp" "$file"
}

mkdir -p "$run_dir"
# A copy: the settings file lies beside the executable, and this one belongs to the run.
install -m 755 "$app" "$run_dir/qtr290"
settings="$run_dir/nastaveni.ini"

sim_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
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
  baud=$(awk '
    { line = $0; sub(/\r$/, "", line); gsub(/^[ \t]+|[ \t]+$/, "", line) }
    line ~ /^\[/ { s = tolower(line); sub(/^\[[ \t]*/, "", s); sub(/[ \t]*\].*/, "", s); inside = (s == "seriovy port"); next }
    inside && tolower(line) ~ /^baud rate[ \t]*=/ { v = line; sub(/^[^=]*=[ \t]*/, "", v); print v; exit }
  ' "$settings" 2>/dev/null || true)
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
  echo "run-utility: $device does not exist" >&2
  exit 1
fi

ini_set "$settings" "Seriovy port" "Port" "1"
ini_set "$settings" "Porty" "COM1" "$device"
echo "Starting the utility: COM1 = $device, settings in $settings"

"$run_dir/qtr290" &
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=
exit "$status"
