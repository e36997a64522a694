#!/usr/bin/env bash
# scripts/run.sh as a user meets it: --help and a wrong option are answered before anything
# is built, and a device that does not exist still starts the utility, whose settings the
# script sets through the utility's own settings code and which keeps them when the script
# is stopped; with the simulator the overview panel is shown unless the operator hid it. Usage: run_script_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d)
script_pid=
finish() {
  [ -n "$script_pid" ] && kill "$script_pid" 2>/dev/null && wait "$script_pid" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
fail() {
  echo "run_script_test: $*" >&2
  exit 1
}

out=$(BUILD_DIR="$work/unbuilt" "$src/scripts/run.sh" --help) || fail "--help exits with $?"
grep -q '^Usage: scripts/run.sh \[DEVICE\]' <<<"$out" || fail "--help prints: $out"
status=0
BUILD_DIR="$work/unbuilt" "$src/scripts/run.sh" --bogus 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "a wrong option exits with $status"
[ ! -e "$work/unbuilt" ] || fail "an option made the script build"

# Runs the script from RUN_DIR $1 with the device $2 ("" for the simulator) until the utility
# is up, then stops it as Ctrl-C would.
run_and_stop() {
  BUILD_DIR="$build" RUN_DIR="$1" QT_QPA_PLATFORM=offscreen \
    "$src/scripts/run-utility.sh" ${2:+"$2"} >"$work/out" 2>&1 &
  script_pid=$!
  # Ready once the utility has its SIGTERM handler (bit 15 of SigCgt).
  local ready= app mask
  for _ in $(seq 600); do
    app=$(pgrep -P "$script_pid" -x qtr290 || true)
    if [ -n "$app" ]; then
      mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$app/status" 2>/dev/null || echo 0)
      (((0x$mask >> 14) & 1)) && ready=1 && break
    fi
    kill -0 "$script_pid" 2>/dev/null || fail "the script ended: $(cat "$work/out")"
    sleep 0.1
  done
  [ -n "$ready" ] || fail "the utility did not start: $(cat "$work/out")"
  kill -TERM "$script_pid"
  local status=0
  wait "$script_pid" || status=$?
  script_pid=
  [ "$status" -eq 130 ] || fail "the stopped script exits with $status: $(cat "$work/out")"
}

device="$work/ttyMISSING"
printf '[Program]\r\nPocet bytu na radku=16\r\n' >"$work/nastaveni.ini"
mkdir "$work/run"
cp "$work/nastaveni.ini" "$work/run/"
run_and_stop "$work/run" "$device"
grep -q "$device does not exist; the utility starts anyway" "$work/out" ||
  fail "no word about the missing device: $(cat "$work/out")"

ini="$build/tools/qtr290-ini"
settings="$work/run/nastaveni.ini"
[ "$("$ini" "$settings" get Porty COM1)" = "$device" ] || fail "COM1 is not the device"
[ "$("$ini" "$settings" get "Seriovy port" Port)" = 1 ] || fail "Port is not 1"
# Written by the utility at close, which kept what it did not set.
[ "$("$ini" "$settings" get "Seriovy port" "Baud rate")" = 4800 ] || fail "no settings saved"
[ "$("$ini" "$settings" get Program "Pocet bytu na radku")" = 16 ] || fail "a setting was lost"
# The overview panel is hidden by default: nothing written for it.
[ "$("$ini" "$settings" get Prehled Zobrazit none)" = none ] || fail "[Prehled] was written"

# The demonstration with the simulator shows the panel, unless the operator has hidden it.
for kept in none 0; do
  mkdir "$work/sim-$kept"
  [ "$kept" = none ] || "$ini" "$work/sim-$kept/nastaveni.ini" set Prehled Zobrazit "$kept"
  run_and_stop "$work/sim-$kept" ""
  shown=$("$ini" "$work/sim-$kept/nastaveni.ini" get Prehled Zobrazit none)
  [ "$shown" = "${kept/none/1}" ] || fail "with [Prehled] Zobrazit=$kept before, $shown after the demonstration"
done
echo "run_script_test: passed"
