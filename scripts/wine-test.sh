#!/usr/bin/env bash
# Cross-builds the serial and link libraries, their unit tests and the Win32 port test for
# 64-bit Windows with MinGW-w64, and runs them under Wine in a prefix of their own, COM5
# being a pseudo-terminal that the host program wine_bus plays. Installs what is missing
# first (apt-get, as root or through sudo). Ends with "wine: N passed, N failed, N skipped",
# counted over the test cases.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build-mingw"}
build_type=${BUILD_TYPE:-Release} # no debug info: the cross build takes a third less time

packages=(
  g++ cmake ninja-build libgtest-dev
  g++-mingw-w64-x86-64-posix
  wine wine64
)
"$here/scripts/install-packages.sh" "${packages[@]}"

step_start=$SECONDS
cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" ${CMAKE_EXTRA_ARGS:-}
cmake --build "$build_dir" -j2
echo "wine-test: built in $((SECONDS - step_start)) s"

# A prefix of our own, no display, no debug output, no offer to install Mono or Gecko.
export WINEPREFIX=${WINEPREFIX:-"$build_dir/wineprefix"}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine_log="$build_dir/wine.log" # Wine's own messages, and the server's dump when it stops

# One server for the whole run. The first Wine program starts Wine's own services, which
# inherit its output: start them here, on a log file, so that no test's output pipe stays
# open behind a finished test.
step_start=$SECONDS
mkdir -p "$WINEPREFIX"
wineserver -k >/dev/null 2>&1 || true # a server left over from an earlier run
wineserver -p >"$wine_log" 2>&1
trap 'wineserver -k >>"$wine_log" 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wine wineboot -i >>"$wine_log" 2>&1
  echo "wine-test: new Wine prefix in $((SECONDS - step_start)) s"
else
  wine cmd /c exit >>"$wine_log" 2>&1
  echo "wine-test: Wine started in $((SECONDS - step_start)) s"
fi

step_start=$SECONDS
cd "$build_dir"
ctest_status=0
ctest --output-on-failure -j2 || ctest_status=$?
echo "wine-test: tests ran in $((SECONDS - step_start)) s"

log=$(tr -d '\r' <Testing/Temporary/LastTest.log)
# GoogleTest prints a skip's reason on the line after "file:line: Skipped".
skips=$(awk '/: Skipped$/ { getline reason; next }
  /^\[  SKIPPED \] .* \([0-9]+ ms\)$/ { sub(/^\[  SKIPPED \] /, ""); sub(/ \([0-9]+ ms\)$/, "");
    print "  " $0 ": " reason; reason = "" }' <<<"$log")
if [ -n "$skips" ]; then
  echo "Skipped, with the reason:"
  echo "$skips"
fi
passed=$(grep -cE '^\[       OK \] .* \([0-9]+ ms\)$' <<<"$log" || true)
failed=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' <<<"$log" || true)
skipped=$(grep -cE '^\[  SKIPPED \] .* \([0-9]+ ms\)$' <<<"$log" || true)
if [ "$ctest_status" -ne 0 ] && [ "$failed" -eq 0 ]; then
  echo "A test program failed without a failed case (crash or time-out): see above."
  failed=1
fi
echo "wine: $passed passed, $failed failed, $skipped skipped"
[ "$ctest_status" -eq 0 ]
