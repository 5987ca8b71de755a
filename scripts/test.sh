#!/usr/bin/env bash
# Everything CI checks, from a bare Debian 12 (as root) or a developer's machine:
# installs what is missing, builds the native, asan and windows presets, runs the unit
# tests in both native builds, the end-to-end suites under Wine, and the smoke runs of the
# benchmarks and fuzzers. Prints each suite's summary, then a last line
# "N passed, M failed" over all of them, and exits non-zero on any failure.
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
cd "$QV_ROOT"

summaries=()
total_passed=0
total_failed=0

record() {  # record SUITE PASSED FAILED
  summaries+=("$1: $2 passed, $3 failed")
  total_passed=$((total_passed + $2))
  total_failed=$((total_failed + $3))
}

section() { printf '\n==== %s\n' "$*"; }

# build PRESET: configure and build; a failed build is one failed case.
build() {
  local preset=$1
  section "build $preset"
  if cmake --preset "$preset" && cmake --build --preset "$preset"; then
    return 0
  fi
  record "build-$preset" 0 1
  return 1
}

# unit PRESET: ctest, counted from its closing line "... N tests failed out of M".
unit() {
  local preset=$1 log line failed all status=0
  section "unit tests ($preset)"
  log="$(mktemp)"
  ctest --preset "$preset" --no-tests=error --timeout 300 2>&1 | tee "$log" || status=$?
  line="$(grep -E 'tests failed out of [0-9]+' "$log" | tail -n1 || true)"
  rm -f "$log"
  if [ -z "$line" ]; then
    record "unit-$preset" 0 1
    return
  fi
  failed="$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")"
  all="$(sed -E 's/.* tests failed out of ([0-9]+).*/\1/' <<<"$line")"
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  record "unit-$preset" $((all - failed)) "$failed"
}

# e2e: the Wine suites; counted from run.sh's closing line "e2e: N passed, M failed".
e2e() {
  local log line suite_line status=0
  section "end-to-end tests under Wine"
  log="$(mktemp)"
  tests/e2e/run.sh 2>&1 | tee "$log" || status=$?
  line="$(grep -E '^e2e: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n1 || true)"
  record_line "e2e" "$line" "$status"
  # Each Wine suite's own summary, shown under the e2e total.
  while IFS= read -r suite_line; do
    summaries+=("  $suite_line")
  done < <(sed -n '/^== e2e summary$/,/^e2e: /p' "$log" | grep -vE '^(== e2e summary|e2e: )' || true)
  rm -f "$log"
}

# hook NAME SCRIPT: an optional smoke run. A script that prints "NAME: N passed, M failed"
# is counted by that line; otherwise it counts as one case, passed when it exits 0.
hook() {
  local name=$1 script=$2 log line status=0
  [ -x "$script" ] || return 0
  section "$name"
  log="$(mktemp)"
  "$script" 2>&1 | tee "$log" || status=$?
  line="$(grep -E "^$name: [0-9]+ passed, [0-9]+ failed$" "$log" | tail -n1 || true)"
  rm -f "$log"
  if [ -z "$line" ]; then
    if [ "$status" -eq 0 ]; then record "$name" 1 0; else record "$name" 0 1; fi
    return
  fi
  record_line "$name" "$line" "$status"
}

record_line() {  # record_line SUITE "SUITE: N passed, M failed" STATUS
  local suite=$1 line=$2 status=$3 passed failed
  if [ -z "$line" ]; then
    record "$suite" 0 1
    return
  fi
  passed="$(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")"
  failed="$(sed -E 's/.*, ([0-9]+) failed$/\1/' <<<"$line")"
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  record "$suite" "$passed" "$failed"
}

main() {
  section "packages"
  qv_install_deps

  if build native; then unit native; fi
  if build asan; then unit asan; fi
  if build windows; then e2e; fi

  # Smoke runs: short, reported, never timed pass/fail. Add further hooks here.
  if [ -d build/native ]; then
    hook bench-smoke bench/smoke.sh
    hook fuzz-smoke fuzz/smoke.sh
    # The native unit tests once more, under valgrind's memcheck.
    hook valgrind tests/valgrind.sh
  fi

  section "summary"
  printf '%s\n' "${summaries[@]}"
  echo "$total_passed passed, $total_failed failed"
  [ "$total_failed" -eq 0 ] && [ "$total_passed" -gt 0 ]
}

main "$@"
