#!/usr/bin/env bash
# Runs one fuzz target. Where the sandbox forbids the leak checker's ptrace
# (some containers do), the run is repeated without leak detection, so that
# crashes and undefined behaviour are still caught; a real leak still fails.
set -uo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ] && grep -q "LeakSanitizer has encountered a fatal error" "$log" \
   && ! grep -q "ERROR: LeakSanitizer: detected memory leaks" "$log"; then
  echo "fuzz: the leak checker cannot run here; repeating without leak detection"
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "$@"
  status=$?
fi
exit "$status"
