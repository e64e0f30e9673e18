#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz/targets.cmake) with clang, libFuzzer and
# the sanitizers in a build tree of their own, and runs each for a bounded time
# through CTest, several at once.
#   tests/fuzz/run-fuzz.sh [seconds]     (default 10)
# The build tree is build-fuzz/ at the top of the source tree, or
# $VELTRANO_FUZZ_BUILD when set; VELTRANO_JOBS sets the parallelism.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${VELTRANO_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-10}
jobs=${VELTRANO_JOBS:-$(nproc)}
cxx=${VELTRANO_FUZZ_CXX:-$(command -v clang++ || command -v clang++-14)}
cc=${VELTRANO_FUZZ_CC:-$(command -v clang || command -v clang-14)}

args=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$out/CMakeCache.txt" ]; then args+=(-G Ninja); fi
if command -v ccache >/dev/null 2>&1; then args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$out" "${args[@]}" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$out" --parallel "$jobs"
cd "$out"
ctest --output-on-failure --parallel "$jobs"
