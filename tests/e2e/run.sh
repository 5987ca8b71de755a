#!/usr/bin/env bash
# Runs every built end-to-end driver (build/windows/*_test.exe) under Wine, each on its own
# Xvfb display with its own fresh Wine prefix, and prints each suite's summary line and
# then "e2e: N passed, M failed". Exits non-zero when any case failed or any suite did not
# finish.
#
#   tests/e2e/run.sh [SUITE...]      e.g. tests/e2e/run.sh cmdline
#
# QV_BUILD_DIR      where the drivers and quorvane.scr are (default build/windows)
# QV_SUITE_TIMEOUT  seconds one driver may run, prefix boot not included (default 300)
# QV_KEEP_LOGS      a directory to keep each suite's output in
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap

BUILD_DIR=${QV_BUILD_DIR:-$QV_ROOT/build/windows}
SUITE_TIMEOUT=${QV_SUITE_TIMEOUT:-300}
SAVER="$BUILD_DIR/quorvane.scr"

total_passed=0
total_failed=0
summaries=()

record() {  # record SUITE PASSED FAILED
  summaries+=("$1: $2 passed, $3 failed")
  total_passed=$((total_passed + $2))
  total_failed=$((total_failed + $3))
}

# Runs one driver on its own display and prefix; shows its output as it comes.
run_suite() {
  local driver=$1 suite log summary status passed failed
  suite="$(basename "$driver" .exe)"
  suite="${suite%_test}"
  qv_temp_dir
  log="$QV_TEMP_DIR/$suite.log"
  echo "== $suite"
  if ! qv_start_xvfb || ! qv_make_prefix; then
    echo "FAIL $suite: could not start a display and a Wine prefix"
    record "$suite" 0 1
    qv_cleanup
    return
  fi
  # The drivers take the saver's path, as Windows sees it, from QV_SCR.
  status=0
  QV_SCR="$(qv_windows_path "$SAVER")" \
    timeout --kill-after=10 "$SUITE_TIMEOUT" wine "$driver" 2>"$log.stderr" </dev/null \
    | tr -d '\r' | tee "$log" || status=$?
  summary="$(grep -E "^$suite: [0-9]+ passed, [0-9]+ failed$" "$log" | tail -n1 || true)"
  if [ -n "$summary" ]; then
    passed="$(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$summary")"
    failed="$(sed -E 's/.*, ([0-9]+) failed$/\1/' <<<"$summary")"
    # A driver that printed a clean summary and then failed anyway (a crash on the way
    # out) still counts as a failure.
    if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
      echo "FAIL $suite: the driver exited with status $status after its summary"
      failed=1
    fi
    record "$suite" "$passed" "$failed"
  else
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
      echo "FAIL $suite: still running after ${SUITE_TIMEOUT}s, ended"
    else
      echo "FAIL $suite: the driver ended without a summary (exit status $status)"
    fi
    tail -n 20 "$log.stderr" 2>/dev/null | sed 's/^/    /'
    record "$suite" 0 1
  fi
  if [ -n "${QV_KEEP_LOGS:-}" ]; then
    mkdir -p "$QV_KEEP_LOGS"
    cp "$log" "$log.stderr" "$QV_KEEP_LOGS/" 2>/dev/null || true
  fi
  # This suite's processes, display and prefix end here, before the next suite starts.
  qv_cleanup
}

main() {
  local drivers=() driver name
  if [ ! -f "$SAVER" ]; then
    echo "FAIL e2e: $SAVER is missing (cmake --preset windows && cmake --build --preset windows)"
    echo "e2e: 0 passed, 1 failed"
    exit 1
  fi
  if [ $# -gt 0 ]; then
    for name in "$@"; do drivers+=("$BUILD_DIR/${name%_test}_test.exe"); done
  else
    for driver in "$BUILD_DIR"/*_test.exe; do
      if [ -f "$driver" ]; then drivers+=("$driver"); fi
    done
  fi
  if [ ${#drivers[@]} -eq 0 ]; then
    echo "FAIL e2e: no driver programs in $BUILD_DIR"
    echo "e2e: 0 passed, 1 failed"
    exit 1
  fi
  for driver in "${drivers[@]}"; do
    if [ -f "$driver" ]; then
      run_suite "$driver"
    else
      echo "FAIL $(basename "$driver" .exe): not built"
      record "$(basename "$driver" .exe)" 0 1
    fi
  done
  echo "== e2e summary"
  printf '%s\n' "${summaries[@]}"
  echo "e2e: $total_passed passed, $total_failed failed"
  [ "$total_failed" -eq 0 ]
}

main "$@"
