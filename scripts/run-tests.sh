#!/usr/bin/env bash
# Sets everything up and runs every test stage; a failing test, a sanitizer
# report or a fuzz finding fails the run. Stages, in order:
#   normal  the whole suite in build/ (the program's ordinary build)
#   asan    the whole suite built with AddressSanitizer + UndefinedBehaviorSanitizer
#           (-DVELTRANO_SANITIZE=address) in build-asan/
#   tsan    the tests labelled "threaded" (a "// ctest-labels: threaded" line in
#           the test source) built with ThreadSanitizer in build-tsan/
#   fuzz    every fuzz target of tests/fuzz/targets.cmake for FUZZ_SECONDS
#           seconds each (default 45) in build-fuzz/
# Environment: VELTRANO_STAGES="normal asan" runs only the stages named;
# VELTRANO_JOBS sets the build and test parallelism (default: all cores);
# VELTRANO_SKIP_APT=1 skips the package installation.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
stages=" ${VELTRANO_STAGES:-normal asan tsan fuzz} "
jobs=${VELTRANO_JOBS:-$(nproc)}
export VELTRANO_JOBS=$jobs
supp=$root/tests/sanitizers
times=()

want() { [[ "$stages" == *" $1 "* ]]; }
now() { date +%s; }
stage_done() { times+=("$(printf '%-7s %5d s' "$1" $(( $(now) - $2 )))"); }
summary() {
  echo "---- stage times ----"
  printf '%s\n' "${times[@]}"
}
trap summary EXIT

# Sanitizer builds share the options of the ordinary one, plus their own.
configure_sanitized() { # <build dir> <address|thread>
  local launcher=()
  if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  # -O1 and line tables only: quicker to build, still exact stack traces.
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1" \
        -DVELTRANO_SANITIZE="$2" -DVELTRANO_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
  cmake --build "$1" --parallel "$jobs"
}

# Where the sandbox forbids the leak checker's ptrace, leaks cannot be
# checked; everything else still is.
leaks=1
probe=$(mktemp -d)
if printf 'int main(void){return 0;}\n' | cc -fsanitize=address -x c - -o "$probe/p" 2>/dev/null \
   && ! "$probe/p" >/dev/null 2>&1; then
  echo "run-tests: the leak checker cannot run here; ASan runs without leak detection"
  leaks=0
fi
rm -rf "$probe"
# A fixed address layout keeps the sanitizers' shadow memory clear of
# randomised mappings; used where the sandbox allows it.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then norandom=(setarch "$(uname -m)" -R); fi

t=$(now)
scripts/setup.sh
if want normal; then
  (cd build && ctest --output-on-failure --parallel "$jobs" --timeout 600)
  stage_done normal "$t"
fi

if want asan; then
  t=$(now)
  configure_sanitized build-asan address
  (cd build-asan &&
   ASAN_OPTIONS="detect_leaks=$leaks:detect_stack_use_after_return=0:strict_init_order=1:check_initialization_order=1" \
   LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
   UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
   "${norandom[@]}" ctest --output-on-failure --parallel "$jobs" --timeout 900)
  stage_done asan "$t"
fi

if want tsan; then
  t=$(now)
  configure_sanitized build-tsan thread
  (cd build-tsan &&
   # die_after_fork=0: QProcess forks the loopback stand-ins from a process
   # that already runs threads; the child only execs the stand-in.
   # One retry: Qt Test's watchdog thread (in the uninstrumented libQt6Test)
   # can be reported against the main thread's exit now and then; a race in
   # our own code that shows up in one of two runs still fails the stage.
   TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1:print_suppressions=0:die_after_fork=0" \
   "${norandom[@]}" ctest --output-on-failure --parallel "$jobs" --timeout 900 -L threaded \
     --repeat until-pass:2)
  stage_done tsan "$t"
fi

if want fuzz; then
  t=$(now)
  tests/fuzz/run-fuzz.sh "${FUZZ_SECONDS:-45}"
  stage_done fuzz "$t"
fi
