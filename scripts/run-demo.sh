#!/usr/bin/env bash
# Sets everything up and starts Veltrano for a demonstration, beside loopback
# stand-ins for the devices: the LED processor (Digest authentication, a wall
# of 8 receivers) and the network colour meter (which measures the stand-in
# processor's wall, or in the simulated demo the program's simulated wall),
# and for the update service (a feed that offers no newer version). Each demo has a settings folder of its own, so the user's
# own settings stay untouched.
#
#   scripts/run-demo.sh [--simulated | --camera | --processor] [--standins-only] [-- program arguments]
#
#   --simulated      (default) simulated display, dummy camera, stand-in meter
#   --camera         simulated display, the simulated camera (photographing the
#                    simulated wall), stand-in meter
#   --processor      the stand-in processor as display, dummy camera, stand-in meter
#   --standins-only  start the stand-ins and write the settings, print the
#                    addresses, and keep them running until standard input
#                    closes or the script is stopped; no build, no program
#
# Environment: VELTRANO_DEMO_DIR (default build/demo) holds the settings and
# logs; VELTRANO_DEMO_PROGRAM runs another program instead of build/src/Veltrano;
# VELTRANO_DEMO_SKIP_SETUP=1 skips the package installation and the build.
#
# The stand-ins are stopped when the program quits, fails to start or the
# script is interrupted or terminated. Should the script itself be killed,
# they still end: each reads a pipe that only this script holds open.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

demo=simulated
standins_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --simulated) demo=simulated ;;
    --camera) demo=camera ;;
    --processor) demo=processor ;;
    --standins-only) standins_only=1 ;;
    -h|--help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    --) shift; break ;;
    *) break ;;
  esac
  shift
done

if [ "$standins_only" = 0 ] && [ "${VELTRANO_DEMO_SKIP_SETUP:-0}" != 1 ]; then
  scripts/setup.sh
fi

demo_dir="${VELTRANO_DEMO_DIR:-$root/build/demo}"
config_home="$demo_dir/$demo/config"
logs="$demo_dir/$demo/logs"
mkdir -p "$config_home" "$logs"
run="$(mktemp -d "${TMPDIR:-/tmp}/veltrano-demo.XXXXXX")"

user=admin
password="glow-demo"

pids=()      # stand-in processes
fds=()       # write ends of their standard input pipes
program_pid=""

# Closes the stand-ins' pipe ends in a child, so that only this script holds them.
close_pipes() {
  local fd
  for fd in "${fds[@]}"; do
    exec {fd}>&-
  done
}

cleanup() {
  local status=$? pid i
  trap - EXIT INT TERM
  set +e
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    # The program runs in a process group of its own (Xvfb included).
    kill -TERM -- "-$program_pid" 2>/dev/null || kill -TERM "$program_pid" 2>/dev/null
    for i in $(seq 50); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$program_pid" 2>/dev/null
  fi
  # The end of their input stops the stand-ins; a signal only those that hang.
  close_pipes
  for pid in "${pids[@]}"; do
    for i in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  [ ${#pids[@]} -eq 0 ] || echo "Stand-ins stopped."
  rm -rf "$run"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# start_standin NAME SCRIPT [ARGS...]: starts a stand-in on a free port and
# sets $port to the port it reports on its first line.
start_standin() {
  local name="$1" fifo="$run/$1.in" fd
  shift
  mkfifo "$fifo"
  exec {fd}<>"$fifo"
  ( close_pipes; exec {fd}>&-; exec python3 "$@" <"$fifo" >"$logs/$name.out" 2>"$logs/$name.err" ) &
  pids+=("$!")
  fds+=("$fd")
  port=""
  local deadline=$((SECONDS + 60))
  while [ "$SECONDS" -lt "$deadline" ]; do
    port="$(head -n 1 "$logs/$name.out" 2>/dev/null || true)"
    case "$port" in ''|*[!0-9]*) port="" ;; *) break ;; esac
    if ! kill -0 "${pids[-1]}" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if [ -z "$port" ]; then
    echo "The $name stand-in did not start:" >&2
    cat "$logs/$name.err" >&2
    exit 1
  fi
}

standins="$root/tests/standins"
: >"$logs/processor-requests.log"
python3 tools/demo/demo_settings.py wall "$run/wall.json"
start_standin processor "$standins/fake_processor.py" --state "$run/wall.json" \
  --auth "{\"enabled\": true, \"user\": \"$user\", \"password\": \"$password\"}" \
  --request-log "$logs/processor-requests.log"
processor_port="$port"
# The meter looks at the processor's wall, or in the simulated demo at the
# program's simulated wall, whose state the program writes to a file.
wall_state="$demo_dir/$demo/simulated-wall.json"
rm -f "$wall_state"
if [ "$demo" != processor ]; then
  export VELTRANO_SIMULATED_WALL_STATE="$wall_state"
  # The simulated wall's full white: 1000 cd/m2, like the processor's.
  looks_at=(--follow-file "$wall_state" --white-luminance 1000)
else
  looks_at=(--follow-processor "$processor_port")
fi
# A wall as it comes: its white a little warm and greenish; the linearity
# correction has something to do at every step, the darkest included.
start_standin meter "$standins/fake_cinemeter.py" "${looks_at[@]}" \
  --white-cct 6200 --white-duv 0.002
meter_port="$port"
# The update check asks a stand-in feed that offers no newer version: a demo
# run never looks up the update service's real host.
start_standin update-feed "$standins/fake_update_feed.py" --feed '{"items": []}'
feed_port="$port"
export VELTRANO_UPDATE_URL="http://127.0.0.1:$feed_port"

conf="$config_home/Tessaline/Veltrano.conf"
python3 tools/demo/demo_settings.py settings "$conf" "$demo" \
  --meter "127.0.0.1:$meter_port/meter" --processor "127.0.0.1:$processor_port" \
  --user "$user" --password "$password"

echo "Demo \"$demo\": settings in $conf"
echo "  processor stand-in  http://127.0.0.1:$processor_port  (pid ${pids[0]}; Digest user \"$user\", password \"$password\")"
echo "  meter stand-in      http://127.0.0.1:$meter_port/meter  (pid ${pids[1]})"
echo "  update feed stand-in http://127.0.0.1:$feed_port  (pid ${pids[2]}; no newer version)"
echo "  processor requests are logged to $logs/processor-requests.log"
if [ "$demo" != processor ]; then
  echo "  the meter measures the simulated wall, whose state the program writes to $wall_state"
fi

if [ "$standins_only" = 1 ]; then
  echo "Stand-ins running; close standard input (Ctrl+D) or press Ctrl+C to stop them."
  ( close_pipes; exec cat >/dev/null ) <&0 &
  program_pid=$!
  wait "$program_pid" || true
  program_pid=""
  exit 0
fi

export XDG_CONFIG_HOME="$config_home"
program="${VELTRANO_DEMO_PROGRAM:-build/src/Veltrano}"
launcher=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting Veltrano under Xvfb (xvfb-run)."
  echo "To run without any window system instead: QT_QPA_PLATFORM=offscreen $0"
  launcher=(xvfb-run -a -s "-screen 0 1600x1000x24")
fi
# A process group of its own, so that stopping it also stops what it started.
( close_pipes; exec setsid "${launcher[@]}" "$program" "$@" ) &
program_pid=$!
status=0
wait "$program_pid" || status=$?
program_pid=""
exit "$status"
