#!/usr/bin/env bash
# Installs every Debian package the project needs, then configures and builds
# into ./build. Safe to run again. VELTRANO_JOBS sets the build parallelism
# (default: all cores); ccache is used when installed.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ "${VELTRANO_SKIP_APT:-0}" != "1" ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  # shellcheck disable=SC2046
  $SUDO apt-get install -y $(grep -v '^#' scripts/packages.txt)
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# shellcheck disable=SC2086
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" ${VELTRANO_CMAKE_ARGS:-}
cmake --build build --parallel "${VELTRANO_JOBS:-$(nproc)}"
