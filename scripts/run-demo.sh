#!/usr/bin/env bash
# Sets everything up and starts Veltrano with a demonstration settings folder of
# its own (simulated display and dummy camera chosen), leaving the user's own
# settings alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

DEMO_HOME="$PWD/build/demo-config"
mkdir -p "$DEMO_HOME/Tessaline"
if [ ! -f "$DEMO_HOME/Tessaline/Veltrano.conf" ]; then
  cat > "$DEMO_HOME/Tessaline/Veltrano.conf" <<'CONF'
[General]
output=true
camera=true
colorMeter=true
mode=0
CONF
fi
export XDG_CONFIG_HOME="$DEMO_HOME"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting Veltrano under Xvfb (xvfb-run)."
  echo "To run without any window system instead: QT_QPA_PLATFORM=offscreen $0"
  exec xvfb-run -a -s "-screen 0 1600x1000x24" build/src/Veltrano "$@"
fi
exec build/src/Veltrano "$@"
