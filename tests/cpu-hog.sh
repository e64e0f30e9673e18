#!/usr/bin/env bash
# Keeps every core busy: one spinning process per core (nproc, or the count
# given), for SECONDS seconds (default: until stopped with Ctrl+C or a
# SIGTERM). Used to check that the test suite holds on a loaded machine:
#   tests/cpu-hog.sh & hog=$!
#   VELTRANO_STAGES="normal asan" scripts/run-tests.sh
#   kill $hog
# Usage: tests/cpu-hog.sh [processes] [seconds]
set -euo pipefail
count=${1:-$(nproc)}
seconds=${2:-0}
pids=()
stop() {
  # Only the spinners this script started.
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  exit 0
}
trap stop INT TERM EXIT
for ((i = 0; i < count; i++)); do
  ( trap - INT TERM EXIT; while :; do :; done ) &
  pids+=("$!")
done
echo "cpu-hog: $count busy processes (${pids[*]})" >&2
if ((seconds > 0)); then
  sleep "$seconds"
else
  wait
fi
