#!/usr/bin/env bash
# Makes docs/wireshark.png: Wireshark under Xvfb showing a capture of the bus simulator,
# taken the way an engineer would (capture file -> qtr290-pcap -> Wireshark with the
# dissector). Installs what it needs (Wireshark, Xvfb, xdotool, ImageMagick) and builds first.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build"}
"$here/scripts/install-packages.sh" wireshark-qt xvfb xauth xdotool imagemagick
"$here/scripts/setup.sh" "$build_dir"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Polls with some damage and noise; a read request, its reply, a write request and its
# status reply sent by the script.
{
  sleep 1.2
  echo "A6 00 F0 1A 03 4D 01 57 01 00 A7"; sleep 0.3
  echo "A6 F0 00 1B 05 4A 01 57 01 00 46 A3 BE"; sleep 0.2
  echo "A6 00 F0 9A 06 CA 02 57 01 00 12 34 87 D9"; sleep 0.3
  echo "A6 F0 00 9C 04 CA 02 57 01 00 00 A6"; sleep 0.8
  echo quit
} | "$build_dir/tools/qtr290-sim" --script --baud 9600 --poll-interval 100 --poll-kind mixed \
  --inject-header-errors 9 --inject-block-errors 11 --inject-noise 5 --seed 3 --quiet >sim.out &
for _ in $(seq 50); do [ -s sim.out ] && break; sleep 0.1; done
"$build_dir/tests/tools/qtr290-capture-tap" "$(head -n1 sim.out)" incoming.txt 800 10000
wait
"$build_dir/tools/qtr290-pcap" incoming.txt bus.pcapng
# The write request is the packet shown in detail.
frame=$(tshark -X lua_script:"$here/wireshark/qtr290.lua" -r bus.pcapng -Y 'qtr290.rw == 1 && qtr290.to == 0x00' \
  -T fields -e frame.number 2>/dev/null | head -n1)

cat >shot.sh <<SHOT
wireshark -X lua_script:$here/wireshark/qtr290.lua -r bus.pcapng -g $frame \\
  -o 'gui.column.format:"No.","%m","Time","%t","Protocol","%p","Length","%L","Info","%i"' \\
  -o gui.layout_type:1 -o gui.layout_content_3:NONE >wireshark.log 2>&1 &
pid=\$!
for _ in \$(seq 100); do
  win=\$(xdotool search --name "bus.pcapng" 2>/dev/null | head -n1 || true)
  [ -n "\$win" ] && break
  sleep 0.2
done
sleep 2
xdotool windowmove "\$win" 0 0 windowsize "\$win" 1000 760
sleep 1.5
# Select the telegram's tree (second line of the details pane at this window size) and
# expand its subtrees (Shift+Right).
xdotool mousemove 98 442 click 1
sleep 0.5
xdotool key shift+Right
sleep 1
import -window root -crop 1000x760+0+0 shot.png
kill \$pid
SHOT
xvfb-run -a -s "-screen 0 1000x760x24" bash shot.sh
/usr/bin/convert shot.png -strip "$here/docs/wireshark.png"
echo "docs/wireshark.png written"
