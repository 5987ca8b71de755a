#!/usr/bin/env bash
# How much of the program's own code (host/ and saver/) each fuzz target's corpus reaches:
# builds the targets once more with clang's source-based coverage (build/fuzz-cov), replays
# each corpus (the grown one in build/fuzz/work/ when there is one, and the seeds) and
# prints llvm-cov's per-file report, then one line per target:
#   "<target>: lines L% (covered/total), functions F%, branches B%".
#
#   fuzz/coverage.sh [TARGET...]
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT"

ALL_TARGETS=(fuzz_command_line fuzz_settings_file fuzz_saver_messages)
BUILD_DIR=build/fuzz-cov
COVERAGE_FLAGS="-fprofile-instr-generate -fcoverage-mapping"

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${ALL_TARGETS[@]}")

build() {
  cmake -S . -B "$BUILD_DIR" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DQV_FUZZ=ON -DCMAKE_C_FLAGS="$COVERAGE_FLAGS -fsanitize=fuzzer-no-link" \
    -DCMAKE_CXX_FLAGS="$COVERAGE_FLAGS -fsanitize=fuzzer-no-link" \
    -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
  cmake --build "$BUILD_DIR" -j2 --target "${targets[@]}"
}

# One target: replay its corpora, merge the profile, report the program's files.
report() {
  local target=$1 binary=$BUILD_DIR/fuzz/$1 corpora=() profile summary
  [ -d "build/fuzz/work/$target" ] && corpora+=("build/fuzz/work/$target")
  corpora+=("fuzz/corpus/$target")
  profile="$TMPDIR/$target"
  LLVM_PROFILE_FILE="$profile.profraw" "$binary" -runs=0 "${corpora[@]}" >"$profile.log" 2>&1
  llvm-profdata merge -sparse "$profile.profraw" -o "$profile.profdata"
  echo "== $target (corpus: ${corpora[*]})"
  llvm-cov report "$binary" -instr-profile="$profile.profdata" host/*.cpp saver/*.cpp | tee "$profile.report"
  summary="$(grep '^TOTAL' "$profile.report")"
  # TOTAL regions missed cover functions missed executed lines missed cover branches missed cover
  awk -v t="$target" '{printf "%s: lines %s (%d/%d), functions %s, branches %s\n", t, $10, $8 - $9, $8, $7, $13}' \
    <<<"$summary" >>"$TMPDIR/summary"
}

main() {
  qv_temp_dir
  export TMPDIR="$QV_TEMP_DIR"
  build
  local target
  for target in "${targets[@]}"; do report "$target"; done
  echo "== program code reached"
  cat "$TMPDIR/summary"
}

main
