#!/usr/bin/env bash
# Runs the native unit tests (build/native/unit_tests) under valgrind's memcheck: every
# test must pass and memcheck must report no error and no definite or possible leak.
# Prints valgrind's error summary and a last line "valgrind: N passed, M failed", where N
# and M count the unit tests and one more failure stands for memcheck's errors.
#
#   tests/valgrind.sh [gtest arguments...]     e.g. --gtest_filter='Soak*'
#
# QV_BUILD_DIR     the native build (default build/native)
# QV_SOAK_TICKS    ticks of the soak test under memcheck (default 20000; the full million
#                  would take many minutes there)
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT"

BUILD_DIR=${QV_BUILD_DIR:-build/native}
BINARY=$BUILD_DIR/unit_tests
export QV_SOAK_TICKS=${QV_SOAK_TICKS:-20000}

main() {
  local log status=0 passed failed errors
  if ! command -v valgrind >/dev/null; then
    echo "FAIL valgrind: valgrind is not installed (scripts/lib.sh installs it)"
    echo "valgrind: 0 passed, 1 failed"
    exit 1
  fi
  if [ ! -x "$BINARY" ]; then
    echo "FAIL valgrind: $BINARY is missing (cmake --preset native && cmake --build --preset native)"
    echo "valgrind: 0 passed, 1 failed"
    exit 1
  fi
  qv_temp_dir
  log="$QV_TEMP_DIR/valgrind.log"
  valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,possible \
    --track-origins=yes --num-callers=30 "$BINARY" --gtest_brief=1 "$@" >"$log" 2>&1 || status=$?
  grep -vE '^==[0-9]+== *$' "$log" | grep -E '^==[0-9]+==|^\[  (PASSED|FAILED)|^\[==========\]' | tail -n 40 || true
  passed="$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?.*/\1/p' "$log" | tail -n1)"
  failed="$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' "$log" | tail -n1)"
  errors="$(sed -nE 's/.*ERROR SUMMARY: ([0-9]+) errors.*/\1/p' "$log" | tail -n1)"
  passed=${passed:-0}
  failed=${failed:-0}
  if [ -z "$errors" ]; then
    echo "FAIL valgrind: no error summary (exit status $status)"
    failed=$((failed + 1))
  elif [ "$errors" -ne 0 ] || [ "$status" -eq 99 ]; then
    echo "FAIL valgrind: memcheck reported $errors error(s)"
    failed=$((failed + 1))
  elif [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
    echo "FAIL valgrind: the unit tests ended with status $status"
    failed=1
  fi
  echo "valgrind: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

main "$@"
