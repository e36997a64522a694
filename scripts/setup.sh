#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing), then configures
# and builds everything into the given build directory (default: build).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-"$here/build"}
build_type=${BUILD_TYPE:-RelWithDebInfo}

packages=(
  g++ cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
  qt6-base-dev qt6-serialport-dev libgl-dev
  qt6-tools-dev qt6-l10n-tools # LinguistTools: lupdate, lrelease for the window's translations
  libgtest-dev libgmock-dev libbenchmark-dev
  socat xvfb xauth
  help2man
  dbus at-spi2-core python3-gi gir1.2-atspi-2.0 # the memos read through AT-SPI, as a screen reader
  fonts-dejavu-core fonts-noto-mono fonts-liberation # the window's tests on each monospace font
  libmosquitto-dev mosquitto mosquitto-clients openssl # qtr290-gateway's MQTT client; the
  # tests' real broker, its command-line clients and the TLS certificates they make
  tshark python3 # tshark asks whether non-root users may capture: the
  # non-interactive install keeps the default answer, no
)

"$here/scripts/install-packages.sh" "${packages[@]}"

cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" ${CMAKE_EXTRA_ARGS:-}
cmake --build "$build_dir"
