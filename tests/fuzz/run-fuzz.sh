#!/usr/bin/env bash
# Builds the fuzz targets with clang (sanitizers and libFuzzer) in a build tree
# of their own and runs each for a few seconds through CTest.
#   tests/fuzz/run-fuzz.sh [seconds]     (default 10)
# The build tree is build-fuzz/ at the top of the source tree, or
# $VELTRANO_FUZZ_BUILD when set.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${VELTRANO_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-10}
cxx=${VELTRANO_FUZZ_CXX:-$(command -v clang++ || command -v clang++-14)}

generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$out/CMakeCache.txt" ]; then generator=(-G Ninja); fi
cmake -S "$here" -B "$out" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DFUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$out" --parallel 4
cd "$out"
ctest --output-on-failure
