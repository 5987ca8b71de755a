#!/usr/bin/env bash
# Everything CI checks, from a bare Debian 12 (as root) or a developer's machine: installs
# what is missing, builds the native, ubsan and Windows presets, and runs every test level:
# the model natively (plain and under UndefinedBehaviorSanitizer), the X11 program against
# Xvfb and XScreenSaver, the web page in headless Chromium, and the Win32 programs under
# Wine, all on one Xvfb display and one Wine prefix; then builds the packages
# (scripts/package.sh) and tests them as people install them
# (tests/packages/packages_test.sh, in a fresh prefix of its own), and twice more from two
# clones of the last commit to compare their bytes (tests/packages/reproducible_test.sh).
# Prints each level's count, then a last line "N passed, M failed" over the test cases of
# all of them, and exits non-zero on any failure.
#
#   scripts/test.sh                everything
#   scripts/test.sh wine           only the Win32 level (builds its preset first)
#   scripts/test.sh packages       only the packages level
#   scripts/test.sh web            only the browser level (builds the page and the native model)
#   scripts/test.sh reproducible   only the two builds from clones, compared
#
# QV_PREFIX      a Wine prefix to reuse (made there on first use) instead of a fresh one
# QV_FAIL_FAST   when set, stop after the first level that fails (a mutation run needs no more)
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT"

summaries=()
total_passed=0
total_failed=0

record() {  # record LEVEL PASSED FAILED
  summaries+=("$1: $2 passed, $3 failed")
  total_passed=$((total_passed + $2))
  total_failed=$((total_failed + $3))
  if [ -n "${QV_FAIL_FAST:-}" ] && [ "$3" -ne 0 ]; then
    echo "$1: $2 passed, $3 failed; stopping here (QV_FAIL_FAST)"
    exit 1
  fi
}

section() { printf '\n==== %s\n' "$*"; }

build() {  # build PRESET: a failed build is one failed case
  section "build $1"
  if cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; then return 0; fi
  record "build-$1" 0 1
  return 1
}

# run_ctest LEVEL PRESET [ctest args]: GoogleTest programs count their cases; any other
# ctest entry (a script) counts as one case; an entry that failed without reporting a
# failed case (a crash, a timeout) counts as one failure.
run_ctest() {
  local level=$1 preset=$2 log status=0 passed failed entries_failed scripts
  shift 2
  section "$level"
  log="$(mktemp)"
  ctest --preset "$preset" --no-tests=error --timeout 300 -V "$@" 2>&1 | tee "$log" >/dev/null || status=$?
  grep -E '^[0-9]+: \[ +(OK|FAILED) +\]|^[0-9]+: [a-z_0-9]+: |tests (passed|failed)|Passed|Failed' "$log" || true
  passed=$(awk '/\[  PASSED  \] [0-9]+ tests?\./ {s += $(NF - 1)} END {print s + 0}' "$log")
  failed=$(awk '/\[  FAILED  \] [0-9]+ tests?,/ {s += $(NF - 3)} END {print s + 0}' "$log")
  scripts=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: [a-z0-9_]+_e2e .* Passed' "$log" || true)
  entries_failed=$(sed -nE 's/.* ([0-9]+) tests failed out of [0-9]+.*/\1/p' "$log" | tail -n1)
  rm -f "$log"
  passed=$((passed + scripts))
  if [ "${entries_failed:-0}" -gt "$failed" ]; then failed=${entries_failed}; fi
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  record "$level" "$passed" "$failed"
}

# The shipped program: a 32-bit Windows GUI program for every Windows from 95 on and the
# processors they ran on. It imports only the four platform DLLs that every one of them
# has, and holds no instruction that a 486 lacks: the Pentium's and later processors' own
# (conditional moves, Pentium Pro floating-point compares, time stamp, processor id, fast
# system calls, 8-byte compare-exchange, ud2), their MMX, SSE and later registers and
# extensions. Each offending instruction and DLL is named.
QV_PLATFORM_DLLS="ADVAPI32.dll GDI32.dll KERNEL32.dll USER32.dll"
QV_NOT_I486='^(cmov|fcmov|(fu?comip?|rdtscp?)( |$)|cpuid|sys(enter|exit|call|ret)|ud[0-2]|cmpxchg(8|16)b|rd(msr|pmc)|wrmsr|rsm|f?emms|fxsave|fxrstor|fisttp|prefetch|[slm]fence|clflush|movnti|[ls]dmxcsr|popcnt|[lt]zcnt|movbe|crc32|xgetbv|xsave|xrstor|rdrand|rdseed|andn|bextr|bls|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|adcx|adox|endbr)|%[xyz]?mm[0-9]|%k[0-7]'

not_i486() {  # not_i486 FILE: "ADDRESS: INSTRUCTION" for each instruction a 486 lacks
  i686-w64-mingw32-objdump -d --no-show-raw-insn "$1" |
    awk -F'\t' -v pattern="$QV_NOT_I486" 'NF >= 2 && $2 ~ pattern {sub(/^ +/, "", $1); print $1 " " $2}'
}

check_shipped_program() {
  local scr=build/windows/quorvane.scr header dll failures=0
  header="$(i686-w64-mingw32-objdump -f -p "$scr")"
  echo "quorvane.scr: $(stat -c %s "$scr") bytes"
  grep -q 'file format pei-i386' <<<"$header" || { echo "  not a PE32 i386 file"; failures=$((failures + 1)); }
  grep -q 'Subsystem.*(Windows GUI)' <<<"$header" || { echo "  not a GUI program"; failures=$((failures + 1)); }
  for dll in $(sed -n 's/^\s*DLL Name: //p' <<<"$header"); do
    grep -qw "$dll" <<<"$QV_PLATFORM_DLLS" && continue
    echo "  imports $dll, which is not one of $QV_PLATFORM_DLLS"
    failures=$((failures + 1))
  done
  while read -r instruction; do
    echo "  not an i486 instruction at 0x$instruction"
    failures=$((failures + 1))
  done < <(not_i486 "$scr")
  record shipped-program $((failures == 0 ? 1 : 0)) $((failures == 0 ? 0 : 1))
}

# Every C and C++ file as the .clang-format at the root formats it: one case when all
# are, and one failed case for each file that differs.
check_format() {
  local file failed=0
  section "format"
  for file in $(git ls-files '*.c' '*.cpp' '*.h'); do
    clang-format --dry-run --Werror "$file" || failed=$((failed + 1))
  done
  record format $((failed == 0 ? 1 : 0)) "$failed"
}

wine_level() {
  qv_choose_wine
  # The shipped program is always the 32-bit build.
  if build windows; then check_shipped_program; fi
  [ "$QV_WIN_PRESET" = windows ] || build "$QV_WIN_PRESET" || return 0
  if [ -n "${QV_PREFIX:-}" ]; then
    export WINEPREFIX=$QV_PREFIX
    qv_wine_env
    [ -f "$QV_PREFIX/system.reg" ] || qv_make_prefix "$QV_PREFIX"
  else
    qv_make_prefix
  fi
  run_ctest "win32 ($QV_WIN_PRESET, under $QV_WINE)" "$QV_WIN_PRESET"
}

# run_cases LEVEL COMMAND...: each case of the command prints "PASS name" or "FAIL name"; a
# command that failed without saying which case is one failed case.
run_cases() {
  local level=$1 log status=0 passed failed
  shift
  log="$("$@")" || status=$?
  printf '%s\n' "$log"
  passed=$(grep -c '^PASS ' <<<"$log" || true)
  failed=$(grep -c '^FAIL ' <<<"$log" || true)
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  record "$level" "$passed" "$failed"
}

# A failed build of the packages is one failed case.
packages_level() {
  section "packages built and installed"
  if ! scripts/package.sh; then
    record packages 0 1
    return 0
  fi
  run_cases packages tests/packages/packages_test.sh
}

# The page in headless Chromium (tests/web/browser_test.py); a failed build is one failed case.
browser_level() {
  section "browser"
  if ! qv_build_web web_frames; then
    record browser 0 1
    return 0
  fi
  run_cases browser timeout 120 /usr/bin/python3 tests/web/browser_test.py "$QV_WEB_SITE" build/native/tests/web_frames
}

reproducible_level() {
  section "packages built twice from two clones and compared"
  run_cases reproducible tests/packages/reproducible_test.sh
}

main() {
  section "packages"
  qv_install_deps
  qv_start_xvfb
  if [ "${1:-}" = wine ]; then
    wine_level
  elif [ "${1:-}" = packages ]; then
    packages_level
  elif [ "${1:-}" = web ]; then
    browser_level
  elif [ "${1:-}" = reproducible ]; then
    reproducible_level
  else
    check_format
    if build native; then
      run_ctest "native" native
      build/native/qv_bench --benchmark_min_time=0.01 >/dev/null && record bench-smoke 1 0 || record bench-smoke 0 1
    fi
    if build ubsan; then run_ctest "ubsan" ubsan -R 'model|x11_tests'; fi
    browser_level
    wine_level
    packages_level
    reproducible_level
  fi
  section "summary"
  printf '%s\n' "${summaries[@]}"
  echo "$total_passed passed, $total_failed failed"
  [ "$total_failed" -eq 0 ] && [ "$total_passed" -gt 0 ]
}

main "$@"
