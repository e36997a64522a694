#!/usr/bin/env bash
# The Wireshark pieces end to end, against the bus simulator on a pseudo-terminal.
#   convert: simulator (damage, noise, split writes) -> capture file -> qtr290-pcap -> tshark
#            with the Lua dissector; fields, flags and a display filter checked against the
#            simulator's log (wireshark_check.py)
#   extcap:  --extcap-interfaces / --extcap-dlts / --extcap-config, then a 3-second
#            `tshark -i` live capture through qtr290-extcap, decoded by the dissector
#   robust:  random and truncated packets through tshark with the dissector: no Lua error, no
#            dissector bug, intact telegrams unflagged (wireshark_robust.py)
# Usage: wireshark_test.sh convert|extcap|robust BUILD_DIR SOURCE_DIR   (exit 77: tshark missing)
set -euo pipefail
mode=$1 build=$2 source=$3
if ! command -v tshark >/dev/null; then
  echo "tshark is not installed"
  # CI installs it: there a missing tshark is a failure, not a skip.
  [ -n "${QTR290_REQUIRE_TSHARK:-}" ] && exit 1
  exit 77
fi

sim="$build/tools/qtr290-sim"
lua="$source/wireshark/qtr290.lua"
work=$(mktemp -d /tmp/qtr290-wireshark.XXXXXX)
chmod 755 "$work"
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }

# Starts the simulator with the given options and script (its standard input, "" for
# none); sets $device.
start_sim() {
  local script=$1
  shift
  if [ -n "$script" ]; then
    bash -c "$script" | "$sim" --quiet --log "$work/sim.log" --stats "$work/sim.stats" "$@" >"$work/sim.out" &
  else
    "$sim" --quiet --log "$work/sim.log" --stats "$work/sim.stats" "$@" </dev/null >"$work/sim.out" &
  fi
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && break
    sleep 0.05
  done
  device=$(head -n1 "$work/sim.out")
  [ -e "$device" ] || fail "the simulator gave no device"
}

tshark_() { tshark -X lua_script:"$lua" "$@" 2>"$work/tshark.err"; }

case $mode in
convert)
  # The dissector's request decoding: a read request of FRAM290 (the Info column's example),
  # the write request of the worked example and a device's answer, sent by the script; then
  # telegrams of every function and short kind with random blocks, all of them intact.
  python3 "$source/tests/tools/wireshark_robust.py" --lines 22 >"$work/lines.txt"
  script='sleep 1.5; echo "A6 00 F0 1A 03 4D 01 57 01 00 A7"
          echo "A6 00 F0 9A 06 CA 02 57 01 00 12 34 87 D9"
          echo "A6 F0 00 1B 05 4A 01 57 01 00 46 A3 BE"; cat "'"$work"'/lines.txt"
          sleep 1.0; echo quit'
  start_sim "$script" --script --baud 19200 --poll-interval 40 --poll-kind mixed \
    --master-address 0xF0 --poll-station 0x01 --saturate --inject-header-errors 7 \
    --inject-block-errors 9 --inject-noise 4 --split-writes 6 --seed 18
  "$build/tests/tools/qtr290-capture-tap" "$device" "$work/incoming.txt" 1000 20000
  wait "$sim_pid" || true
  sim_pid=

  "$build/tools/qtr290-pcap" "$work/incoming.txt" "$work/out.pcapng" | tee "$work/summary.txt"

  # A malformed line: stopped with its number and nothing written, or skipped on request.
  { head -n 3 "$work/incoming.txt"; echo "garbage"; tail -n +4 "$work/incoming.txt"; } >"$work/bad.txt"
  status=0
  "$build/tools/qtr290-pcap" "$work/bad.txt" "$work/bad.pcapng" 2>"$work/bad.err" || status=$?
  [ "$status" -eq 1 ] && [ ! -e "$work/bad.pcapng" ] && [ ! -e "$work/bad.pcapng.part" ] ||
    fail "a malformed line gave status $status or left a file"
  grep -q 'bad.txt:4: column 1: expected the time stamp' "$work/bad.err" || fail "message: $(cat "$work/bad.err")"
  status=0
  "$build/tools/qtr290-pcap" --keep-going --quiet "$work/bad.txt" "$work/bad.pcapng" 2>/dev/null || status=$?
  [ "$status" -eq 3 ] && [ -s "$work/bad.pcapng" ] || fail "--keep-going gave status $status"
  status=0
  "$build/tools/qtr290-pcap" --keep-going "$work/bad.pcapng" 2>/dev/null >&2 || status=$?
  [ "$status" -eq 1 ] && [ -s "$work/bad.pcapng" ] || fail "the input was replaced by its own conversion"
  fields=(frame.number frame.packet_flags qtr290.sync qtr290.to qtr290.from qtr290.device
    qtr290.kind qtr290.length qtr290.hdr_checksum qtr290.rw qtr290.area qtr290.count
    qtr290.address qtr290.data qtr290.crc8 qtr290.block_checksum qtr290.poll qtr290.lead
    qtr290.bad_checksum qtr290.damaged _ws.col.Info)
  tshark_ -r "$work/out.pcapng" -T fields -E separator=/t $(printf -- '-e %s ' "${fields[@]}") \
    >"$work/fields.tsv" || fail "tshark: $(cat "$work/tshark.err")"
  tshark_ -r "$work/out.pcapng" -Y 'qtr290.poll == 1 && qtr290.from == 0xf0' | wc -l >"$work/filter.txt"
  echo "filter 'qtr290.poll == 1 && qtr290.from == 0xf0': $(cat "$work/filter.txt") packets"
  # Info reads sender→addressee; a block the bus does not define is shown as data only.
  for info in 'Read FRAM 0x000157 ×1 F0→00' 'Write FRAM 0x000157 ×2 F0→00' 'Function 3 FRAM 00→F0'; do
    grep -F -q "	$info" "$work/fields.tsv" || fail "no '$info'"
  done
  # A telegram as the utility transmits it: outbound, after the 0xFF lead byte.
  python3 "$source/tests/tools/wireshark_check.py" --write-transmitted "$work/sent.pcapng"
  sent=$(tshark_ -r "$work/sent.pcapng" -T fields -E separator=, -e qtr290.lead -e qtr290.sent \
    -e qtr290.sync -e qtr290.count -e _ws.col.Info)
  [ "$sent" = "1,1,0xa6,1,Sent: Read FRAM 0x000157 ×1 F0→00" ] || fail "transmitted telegram: $sent"
  python3 "$source/tests/tools/wireshark_check.py" "$work/sim.log" "$work/incoming.txt" \
    "$work/out.pcapng" "$work/fields.tsv" "$work/filter.txt" "$work/summary.txt"
  ;;

robust)
  # Random and truncated packets, under every kind of packet flag.
  python3 "$source/tests/tools/wireshark_robust.py" "$lua" "$work" 7 || fail "the dissector failed on odd packets"
  ;;

extcap)
  extcap="$build/tools/qtr290-extcap"
  start_sim "" --baud 19200 --poll-interval 40 --poll-kind mixed --duration 12 \
    --inject-block-errors 5
  printf '[Porty]\r\nCOM7=%s\r\n' "$device" >"$work/nastaveni.ini"
  export QTR290_SETTINGS="$work/nastaveni.ini"

  interfaces=$("$extcap" --extcap-interfaces)
  echo "$interfaces"
  grep -F -q "interface {value=qtr290-COM7}{display=QTR290 bus COM7 ($device)}" <<<"$interfaces" ||
    fail "COM7 is not listed"
  dlts=$("$extcap" --extcap-interface qtr290-COM7 --extcap-dlts)
  [ "$dlts" = "dlt {number=147}{name=USER0}{display=QTR290 bus telegrams}" ] || fail "dlts: $dlts"
  config=$("$extcap" --extcap-interface qtr290-COM7 --extcap-config)
  echo "$config"
  grep -F -q '{call=--baud}' <<<"$config" && grep -F -q '{default=4800}' <<<"$config" ||
    fail "no baud option"
  if "$extcap" --extcap-interface qtr290-COM99 --extcap-config 2>/dev/null; then
    fail "an unknown interface was accepted"
  fi

  # Wireshark ignores WIRESHARK_EXTCAP_DIR when run as root: then capture as nobody.
  mkdir "$work/extcap"
  cp "$extcap" "$work/extcap/"
  cp "$lua" "$work/qtr290.lua"
  # A sanitizer build's suppressions must be readable by that user too.
  lsan=${LSAN_OPTIONS:-}
  if [[ $lsan =~ suppressions=([^:]*) ]]; then
    cp "${BASH_REMATCH[1]}" "$work/lsan.supp"
    lsan=${lsan/"${BASH_REMATCH[1]}"/"$work/lsan.supp"}
  fi
  as_user=()
  if [ "$(id -u)" -eq 0 ]; then
    chown -R nobody "$work"
    chown nobody "$device"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  "${as_user[@]}" env HOME="$work" QTR290_SETTINGS="$QTR290_SETTINGS" LSAN_OPTIONS="$lsan" \
    WIRESHARK_EXTCAP_DIR="$work/extcap" tshark -X lua_script:"$work/qtr290.lua" \
    -i qtr290-COM7 -o extcap.qtr290_com7.baud:19200 -a duration:3 -w "$work/live.pcapng" \
    2>"$work/tshark.err" || fail "tshark -i: $(cat "$work/tshark.err")"
  tshark_ -r "$work/live.pcapng" >"$work/live.txt"
  polls=$(tshark_ -r "$work/live.pcapng" -Y 'qtr290.poll == 1 && qtr290.to == 0xf0' | wc -l)
  damaged=$(grep -c 'Damaged: ' "$work/live.txt" || true)
  echo "live capture: $(wc -l <"$work/live.txt") packets, $polls polls, $damaged damaged"
  head -n 5 "$work/live.txt"
  rate=$(tshark -r "$work/live.pcapng" -c 1 -T fields -e frame.interface_description 2>/dev/null)
  echo "interface: $rate"
  [ "$rate" = "$device at 19200 Bd" ] || fail "the baud rate option did not reach the port"
  # 40 ms between polls for 3 s, every 5th telegram damaged.
  [ "$polls" -ge 30 ] || fail "only $polls polls in 3 s"
  [ "$damaged" -ge 1 ] || fail "no damaged telegram decoded"
  ;;
*)
  echo "usage: $0 convert|extcap|robust BUILD_DIR SOURCE_DIR" >&2
  exit 2
  ;;
esac
echo "passed"
