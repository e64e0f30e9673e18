#!/bin/sh
# Regenerates the scene's icons (src/ui/icons) and the lens-compensation
# images (src/lenscomp) with tools/assetgen. Commit what it writes.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TMPDIR:-/tmp}/veltrano-assetgen
cmake -S "$root/tools/assetgen" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" >/dev/null
mkdir -p "$root/src/ui/icons" "$root/src/lenscomp"
rm -f "$root/src/lenscomp/"*.jpg
QT_QPA_PLATFORM=offscreen "$build/assetgen" "$root/src/ui/icons" "$root/src/lenscomp"
