#!/usr/bin/env bash
# Builds the Debian package into build-pkg/ (Debian's hardening flags, no tests), checks it
# with lintian and the desktop-entry, AppStream and manual-page validators, and then tries
# it as installed: unpacked into a temporary root, its qtr290 runs offscreen as a user who
# cannot write to that tree, with a fresh HOME. It must start, write its settings to
# HOME/.config/qtr290/ when asked to end, and leave the unpacked tree as it was.
# Usage: scripts/package.sh   (BUILD_DIR: the build folder, default build-pkg; the .deb
# stays there)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build-pkg"}

packages=(
  g++ cmake ninja-build qt6-base-dev libgl-dev qt6-tools-dev qt6-l10n-tools
  dpkg-dev help2man lintian appstream desktop-file-utils man-db util-linux
  libmosquitto-dev # qtr290-gateway
)
"$here/scripts/install-packages.sh" "${packages[@]}"

# Debian's own compiler and linker flags, all hardening on.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# Prefix /usr: GNUInstallDirs then gives Debian's multiarch library folder, where Wireshark
# looks for extcap programs and Lua plugins.
cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" ${CMAKE_EXTRA_ARGS:-}
cmake --build "$build_dir" -j2
rm -f "$build_dir"/qtr290_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(echo "$build_dir"/qtr290_*.deb)
dpkg-deb -c "$deb"

echo "package: lintian"
lintian --fail-on error,warning --display-info "$deb"
desktop-file-validate "$here/packaging/qtr290.desktop"
appstreamcli validate --pedantic --no-net "$here/packaging/cz.qtr290.utility.metainfo.xml"
for page in "$build_dir"/packaging/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "package: $page: $warnings" >&2; exit 1; }
done

# Installed: the program's directory belongs to root. As root, which may write anywhere,
# the run goes to the user nobody; as anyone else the tree is made read-only instead.
work=$(mktemp -d)
pid=
finish() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
chmod 755 "$work"
dpkg-deb -x "$deb" "$work/root"
mkdir -m 700 "$work/home" "$work/runtime"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody:nogroup "$work/home" "$work/runtime"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
else
  chmod -R a-w "$work/root"
fi
tree() { (cd "$work/root" && find . -printf '%M %u %g %s %T@ %p\n' -type f -exec md5sum {} + | sort); }
before=$(tree)

"${as_user[@]}" env -i HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" PATH=/usr/bin:/bin \
  QT_QPA_PLATFORM=offscreen "$work/root/usr/bin/qtr290" >"$work/qtr290.log" 2>&1 &
pid=$!
# Started once it catches SIGTERM (bit 15 of SigCgt); then its port warning or the window.
for _ in $(seq 300); do
  mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
  (((0x$mask >> 14) & 1)) && break
  kill -0 "$pid" 2>/dev/null || { cat "$work/qtr290.log" >&2; echo "package: qtr290 ended" >&2; exit 1; }
  sleep 0.1
done
sleep 1
kill -0 "$pid" 2>/dev/null || { cat "$work/qtr290.log" >&2; echo "package: qtr290 ended" >&2; exit 1; }
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
settings="$work/home/.config/qtr290/nastaveni.ini"
if [ "$status" -ne 0 ] || ! grep -q '^Baud rate=4800' "$settings" 2>/dev/null; then
  cat "$work/qtr290.log" >&2
  echo "package: qtr290 exited with $status and left no settings in $settings" >&2
  exit 1
fi
[ "$(tree)" = "$before" ] || { echo "package: the unpacked tree changed" >&2; exit 1; }
echo "package: $(basename "$deb") passes lintian and runs installed (settings in ~/.config/qtr290)"
