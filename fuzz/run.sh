#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: clang, ASan, UBSan) and runs each one
# on its committed seed corpus, then prints one line per target with the executions, the
# coverage reached and the speed, and a last line "<name>: N passed, M failed".
#
#   fuzz/run.sh [--smoke] [TARGET...]     TARGET e.g. fuzz_command_line (default: all)
#
# Long run (default): QV_FUZZ_RUNS executions per target (default 10000000), or at most
#   QV_FUZZ_SECONDS seconds each when that is set. The corpus grows in build/fuzz/work/,
#   so a later long run goes on from there; findings land in build/fuzz/findings/.
#   Summary name "fuzz".
# --smoke: QV_FUZZ_SMOKE_SECONDS (default 20) seconds per target on a throw-away copy of
#   the seeds; findings are printed and removed with it. Summary name "fuzz-smoke".
#
# QV_FUZZ_NICE  niceness of the fuzzing processes (default 10), so other work comes first.
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT"

ALL_TARGETS=(fuzz_command_line fuzz_settings_file fuzz_saver_messages)
BIN_DIR=build/fuzz/fuzz
RUNS=${QV_FUZZ_RUNS:-10000000}
SMOKE_SECONDS=${QV_FUZZ_SMOKE_SECONDS:-20}
NICE=${QV_FUZZ_NICE:-10}
# A hang of the simulated platform is reported by the platform itself; this only
# catches a target that stops making progress at all.
INPUT_TIMEOUT=25

# The longest input per target. A settings value is read from at most 30 characters and a
# message sequence covers every state long before a thousand bytes; longer inputs only
# slow each execution down.
max_len_of() {
  case "$1" in
    fuzz_settings_file|fuzz_saver_messages) echo 1024 ;;
    *) echo 4096 ;;
  esac
}

smoke=0
targets=()
for argument in "$@"; do
  case "$argument" in
    --smoke) smoke=1 ;;
    -h|--help) sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) targets+=("$argument") ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${ALL_TARGETS[@]}")
name=fuzz
[ "$smoke" -eq 0 ] || name=fuzz-smoke

passed=0
failed=0

# The simulated platform makes a fresh profile directory for every input; on a
# memory-backed file system that costs nothing, on a disk it dominates the run.
use_fast_temp_dir() {
  local shm=/dev/shm
  if [ -d "$shm" ] && [ -w "$shm" ]; then
    QV_TEMP_DIR="$(mktemp -d "$shm/quorvane-fuzz.XXXXXX")"
    QV_TEMP_DIRS+=("$QV_TEMP_DIR")
  else
    qv_temp_dir
  fi
  export TMPDIR="$QV_TEMP_DIR"
}

build() {
  echo "== build (preset fuzz)"
  cmake --preset fuzz >/dev/null && cmake --build --preset fuzz
}

# A value from libFuzzer's closing statistics ("stat::name: value").
final_stat() { sed -nE "s/^stat::$1: *([0-9]+).*/\\1/p" "$2" | tail -n1; }

# The coverage figures of the last status line ("cov: N ft: M corp: C/...").
last_figure() { grep -oE "$1: [0-9]+" "$2" | tail -n1 | grep -oE '[0-9]+' || echo 0; }

run_target() {
  local target=$1 binary=$BIN_DIR/$1 seeds=fuzz/corpus/$1 dict=fuzz/dict/$1.dict
  local work findings log status=0 limits=() extra=()
  if [ ! -x "$binary" ]; then
    echo "FAIL $target: not built"
    failed=$((failed + 1))
    return
  fi
  log="$TMPDIR/$target.log"
  if [ "$smoke" -eq 1 ]; then
    work="$TMPDIR/$target.corpus"
    findings="$TMPDIR/$target.findings"
    limits=(-max_total_time="$SMOKE_SECONDS")
  else
    work=build/fuzz/work/$target
    findings=build/fuzz/findings
    limits=(-runs="$RUNS")
    if [ -n "${QV_FUZZ_SECONDS:-}" ]; then limits+=(-max_total_time="$QV_FUZZ_SECONDS"); fi
  fi
  mkdir -p "$work" "$findings"
  [ -f "$dict" ] && extra+=(-dict="$dict")
  extra+=(-max_len="$(max_len_of "$target")")
  echo "== $target (${limits[*]})"
  nice -n "$NICE" "$binary" "${limits[@]}" "${extra[@]}" -timeout="$INPUT_TIMEOUT" -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "$work" "$seeds" >"$log" 2>&1 || status=$?
  local runs speed cov ft corpus
  runs="$(final_stat number_of_executed_units "$log")"
  speed="$(final_stat average_exec_per_sec "$log")"
  cov="$(last_figure cov "$log")"
  ft="$(last_figure ft "$log")"
  corpus="$(last_figure corp "$log")"
  if [ "$status" -eq 0 ] && [ -n "$runs" ]; then
    echo "PASS $target: ${runs} executions, cov ${cov}, ft ${ft}, corpus ${corpus}, ${speed:-?} exec/s"
    passed=$((passed + 1))
  else
    echo "FAIL $target: exit status $status after ${runs:-?} executions"
    grep -E '^==== invariant failed|ERROR: |runtime error|SUMMARY: |Test unit written|^Base64: ' "$log" | head -n 12 | sed 's/^/    /'
    failed=$((failed + 1))
  fi
}

main() {
  if ! command -v clang++ >/dev/null; then
    echo "FAIL $name: clang++ is not installed (scripts/lib.sh installs it)"
    echo "$name: 0 passed, 1 failed"
    exit 1
  fi
  if ! build; then
    echo "FAIL $name: the fuzz preset did not build"
    echo "$name: 0 passed, 1 failed"
    exit 1
  fi
  use_fast_temp_dir
  local target
  for target in "${targets[@]}"; do run_target "$target"; done
  echo "$name: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

main
