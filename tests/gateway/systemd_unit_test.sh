#!/usr/bin/env bash
# The gateway's systemd unit as systemd reads it: `systemd-analyze verify` on an instance, with
# the built program and manual page in place of the installed ones. Skipped without systemd.
# Usage: systemd_unit_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/man/man1"
cp "$build/packaging/qtr290-gateway.1" "$work/man/man1/"
sed "s|/usr/bin/qtr290-gateway|$build/tools/qtr290-gateway|" \
  "$source/packaging/systemd/qtr290-gateway@.service" > "$work/qtr290-gateway@rig1.service"
grep -q "^DynamicUser=yes" "$work/qtr290-gateway@rig1.service"
MANPATH="$work/man" systemd-analyze verify "$work/qtr290-gateway@rig1.service"
echo "verified"
