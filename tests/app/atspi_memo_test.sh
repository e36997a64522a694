#!/usr/bin/env bash
# The memos as a screen reader reads them: the program on a private X display (Xvfb, the xcb
# platform) and a private session bus with the accessibility bus, the simulator on a
# pseudo-terminal as its COM1; atspi_memo_check.py sends telegrams and reads Memo1 and Memo3
# through AT-SPI. Usage: atspi_memo_test.sh QTR290 QTR290_SIM   (exit 77: a piece is missing;
# with QTR290_REQUIRE_ATSPI set, as in CI, that is a failure instead)
set -euo pipefail
program=$1 sim=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
python=/usr/bin/python3 # the system's, which has the GObject bindings

missing() {
  echo "cannot read the display through AT-SPI: $1"
  [ -n "${QTR290_REQUIRE_ATSPI:-}" ] && exit 1
  exit 77
}
command -v Xvfb >/dev/null || missing "Xvfb is not installed (xvfb)"
command -v dbus-run-session >/dev/null || missing "dbus-run-session is not installed (dbus)"
[ -e /usr/share/dbus-1/services/org.a11y.Bus.service ] ||
  missing "the accessibility bus is not installed (at-spi2-core)"
"$python" -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null ||
  missing "the AT-SPI bindings are not installed (python3-gi, gir1.2-atspi-2.0)"

work=$(mktemp -d /tmp/qtr290-atspi.XXXXXX)
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A display number of its own, away from the low ones that Xvfb -displayfd and xvfb-run -a
# hand out to whoever else runs an X server on this machine at the same time.
for _ in $(seq 10); do
  number=$((300 + RANDOM % 300))
  [ -e "/tmp/.X$number-lock" ] && continue
  # A server of another file system view still holds the abstract socket.
  grep -q "@/tmp/.X11-unix/X$number\$" /proc/net/unix 2>/dev/null && continue
  # -displayfd: the number is written once the server takes connections.
  : >"$work/display"
  Xvfb ":$number" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
    2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ "$(cat "$work/display")" = "$number" ] && kill -0 "$xvfb_pid" 2>/dev/null && break
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
[ -n "$xvfb_pid" ] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$number"
export QT_QPA_PLATFORM=xcb
# Under the sanitizers: the X keyboard library copies a counted, unterminated string with
# strndup, which strict string checks take for an overflow.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
# The toolkit's bridge on without a desktop that switches accessibility on.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset QT_ACCESSIBILITY
dbus-run-session -- "$python" "$here/atspi_memo_check.py" "$program" "$sim" "$work"
