#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (ASan + UBSan) into build-fuzz and runs
# each for a bounded time over the committed seeds plus its own growing corpus.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target...]
#   targets: framer_fuzz iniprofile_fuzz capture_text_fuzz pcapng_fuzz requestline_fuzz
#   (default all)
# A finding stops that target, leaves the input in build-fuzz/artifacts/ and makes the
# script fail; replay it with: build-fuzz/fuzz/<target> build-fuzz/artifacts/<file>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-"$here/build-fuzz"}
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(framer_fuzz iniprofile_fuzz capture_text_fuzz pcapng_fuzz requestline_fuzz)

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "fuzz: the time per target must be a whole number of seconds, not '$seconds'" >&2
  exit 2
fi
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing (Debian packages clang and libclang-rt-14-dev)" >&2
  exit 1
fi

for target in "${targets[@]}"; do
  if [ ! -d "$here/fuzz/corpus/${target%_fuzz}" ]; then
    echo "fuzz: unknown target '$target'" >&2
    exit 2
  fi
done

# The whole project configured for libFuzzer; only the fuzz targets and their libraries are built.
cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DQTR290_FUZZ=ON
cmake --build "$build_dir" -j2 --target "${targets[@]}"
build_dir_targets="$build_dir/fuzz"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build_dir/artifacts"
failed=()
for target in "${targets[@]}"; do
  name=${target%_fuzz}
  seeds="$here/fuzz/corpus/$name"
  # New inputs go to the build directory; the committed seeds stay as they are.
  corpus="$build_dir/corpus/$name"
  mkdir -p "$corpus"
  inputs=("$corpus" "$seeds")
  [ -d "$here/fuzz/regressions/$name" ] && inputs+=("$here/fuzz/regressions/$name")
  echo "fuzz: $target for $seconds s"
  if ! "$build_dir_targets/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build_dir/artifacts/$name-" "${inputs[@]}"; then
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}; inputs in $build_dir/artifacts/" >&2
  exit 1
fi
echo "fuzz: no findings"
