#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan) and
# runs every test there. Any report stops the test that caused it, so ctest fails on it.
# Usage: scripts/sanitize.sh [ctest arguments...]   (BUILD_DIR, BUILD_TYPE override the defaults)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build-asan"}
build_type=${BUILD_TYPE:-RelWithDebInfo}

cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
  -DQTR290_SANITIZE=ON -DQTR290_WERROR=ON ${CMAKE_EXTRA_ARGS:-}
cmake --build "$build_dir" -j2

# Child processes the tests start (the bus simulator, the utility) inherit these.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$here/scripts/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
cd "$build_dir"
ctest --output-on-failure -j2 "$@"
