#!/usr/bin/env bash
# What the saver costs a machine that is otherwise idle, side by side with two
# references, in one run on one Xvfb display:
#   - the floor: bench/floor/floor.cpp, a Win32 program that only sets a timer at the
#     same interval and draws one fixed line per tick with a fresh pen, under Wine;
#   - a native peer: the qix hack of the xscreensaver-data-extra package.
# Beside them runs the same figure as the native X11 program (x11/quorvane), on the root
# window like qix, at speeds 5 and 1.
# For each program and speed it samples the CPU time of every process involved (the
# program, wineserver, Xvfb) over a steady window, alternating the programs, and prints
# the medians, the ratios, the time to the first line, the saver's peak memory, its
# size, and the native microbenchmarks.
#
#   bench/measure.sh            the full measurement (5 runs of 10 s per program and speed)
#   bench/measure.sh --smoke    one short run of each, as scripts/test.sh does; no verdicts
#
# QV_MEASURE_SECONDS, QV_MEASURE_RUNS override the window length and the run count.
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT"

SMOKE=0
[ "${1:-}" = "--smoke" ] && SMOKE=1
WINDOW=${QV_MEASURE_SECONDS:-10}
RUNS=${QV_MEASURE_RUNS:-5}
WARMUP=1.5
if [ "$SMOKE" = 1 ]; then WINDOW=${QV_MEASURE_SECONDS:-2}; RUNS=1; WARMUP=1; fi

qv_choose_wine  # the 32-bit build where the machine runs 32-bit code, else the 64-bit one
BUILD=$QV_WIN_BUILD
SAVER=$BUILD/quorvane.scr
FLOOR=$BUILD/bench/floor/floor.exe
FIRST_LINE=$BUILD/bench/floor/first_line.exe
X11_PROGRAM=build/native/x11/quorvane
QIX=/usr/libexec/xscreensaver/qix
[ -x "$QIX" ] || QIX=/usr/lib/xscreensaver/qix
CLOCK_TICKS=$(getconf CLK_TCK)

# ---- Preparation ------------------------------------------------------------------------

qv_install_deps >&2
if [ ! -x "$QIX" ] && [ "$(id -u)" -eq 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends xscreensaver-data-extra >&2 ||
    qv_log "qix is not available; its column stays empty"
  [ -x "$QIX" ] || X11_PROGRAM=build/native/x11/quorvane
QIX=/usr/libexec/xscreensaver/qix
fi
quietly() { local log; log=$(mktemp); "$@" >"$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; return 1; }; rm -f "$log"; }
quietly cmake --preset "$QV_WIN_PRESET"
quietly cmake --build --preset "$QV_WIN_PRESET"
quietly cmake --preset native
quietly cmake --build --preset native --target quorvane
[ -x build/native/qv_bench ] || quietly cmake --build --preset native --target qv_bench

qv_start_xvfb
XVFB_PID=$QV_XVFB_PID
qv_make_prefix
# One persistent wineserver for the whole run, so its cost is sampled, not its start.
persistent_wineserver() { wineserver -k 2>/dev/null || true; timeout 15 wineserver -w || true; wineserver -p; }
persistent_wineserver

wineserver_pid() {
  local pid
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" ] || continue
    case "$(readlink "/proc/$pid/exe")" in */wineserver*) ;; *) continue ;; esac
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && { echo "$pid"; return; }
  done
}
WINESERVER_PID=$(wineserver_pid)

# CPU time of a process and all its threads, in clock ticks (utime + stime).
cpu_ticks() {
  [ -r "/proc/$1/stat" ] || { echo 0; return; }
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

peak_rss_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }

set_speed() {
  printf '[Quorvane]\r\nRedraw Speed=%s\r\n' "$1" >"$WINEPREFIX/drive_c/windows/googoo.goo"
}

interval_of_speed() { awk -v s="$1" 'BEGIN { printf "%d", int(int(2 ^ s) * 1.5625) }'; }

start_program() {  # start_program NAME SPEED; sets PROGRAM_PID
  case "$1" in
    quorvane) set_speed "$2"; "$QV_WINE" "$SAVER" /s >/dev/null 2>&1 & ;;
    floor) "$QV_WINE" "$FLOOR" "$(interval_of_speed "$2")" >/dev/null 2>&1 & ;;
    qix) "$QIX" -root >/dev/null 2>&1 & ;;
    x11) "$X11_PROGRAM" --root --speed "$2" >/dev/null 2>&1 & ;;
  esac
  PROGRAM_PID=$!
}

stop_program() {
  kill "$1" 2>/dev/null || true
  qv_wait_pid_gone "$1" 10 || kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  # Let the display settle to black again before the next program starts.
  sleep 0.3
}

# sample NAME SPEED: one steady window; appends "name speed program wineserver xvfb rss" to RESULTS.
sample() {
  local name=$1 speed=$2 p0 w0 x0 p1 w1 x1 rss
  start_program "$name" "$speed"
  sleep "$WARMUP"
  p0=$(cpu_ticks "$PROGRAM_PID"); w0=$(cpu_ticks "$WINESERVER_PID"); x0=$(cpu_ticks "$XVFB_PID")
  sleep "$WINDOW"
  p1=$(cpu_ticks "$PROGRAM_PID"); w1=$(cpu_ticks "$WINESERVER_PID"); x1=$(cpu_ticks "$XVFB_PID")
  rss=$(peak_rss_kib "$PROGRAM_PID")
  stop_program "$PROGRAM_PID"
  # The native programs talk to X directly; wineserver idles.
  if [ "$name" = qix ] || [ "$name" = x11 ]; then w1=$w0; fi
  echo "$name $speed $((p1 - p0)) $((w1 - w0)) $((x1 - x0)) $rss" >>"$RESULTS"
}

first_line_ms() {  # first_line_ms COMMAND...: prints the milliseconds to the first lit pixel
  local out pid
  out=$(mktemp)
  "$QV_WINE" "$FIRST_LINE" 20000 "$@" >"$out" 2>/dev/null &
  pid=$!
  qv_poll 30 grep -q first-line-ms "$out" || true
  tr -d '\r' <"$out" | awk '/first-line-ms/ { print $2 }'
  rm -f "$out"
  # first_line leaves the program running; end it through the prefix's own processes.
  wait "$pid" 2>/dev/null || true
}

# ---- Measurement ------------------------------------------------------------------------

qv_temp_dir
RESULTS=$QV_TEMP_DIR/results
: >"$RESULTS"
PROGRAMS=(quorvane floor x11)
[ -x "$QIX" ] && PROGRAMS+=(qix)

# A first Wine program brings up the prefix's own services; keep that out of every figure.
start_program floor 5
sleep 3
stop_program "$PROGRAM_PID"

# Time to the first line, while the screen is still black (qix leaves its lines on the
# root window): the saver's median against the floor's, alternating.
set_speed 5
FIRST_SAVER=()
FIRST_FLOOR=()
for run in $(seq "$RUNS"); do
  FIRST_SAVER+=("$(first_line_ms "$(qv_windows_path "$SAVER")" /s)")
  persistent_wineserver
  FIRST_FLOOR+=("$(first_line_ms "$(qv_windows_path "$FLOOR")" 50)")
  persistent_wineserver
done
WINESERVER_PID=$(wineserver_pid)

for speed in 5 1; do
  for run in $(seq "$RUNS"); do
    for name in "${PROGRAMS[@]}"; do sample "$name" "$speed"; done
  done
done


# ---- Report -------------------------------------------------------------------------------

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) { print "n/a"; exit } if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

column() {  # column NAME SPEED FIELD: the median of one field, in CPU seconds over the window
  awk -v n="$1" -v s="$2" -v f="$3" -v t="$CLOCK_TICKS" '$1 == n && $2 == s { print $f / t }' "$RESULTS" | median
}
total() {  # the median, over runs, of program + wineserver + Xvfb
  awk -v n="$1" -v s="$2" -v t="$CLOCK_TICKS" '$1 == n && $2 == s { print ($3 + $4 + $5) / t }' "$RESULTS" | median
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == "n/a" || a == "n/a" || b + 0 == 0) print "n/a"; else printf "%.2f", a / b }'; }
percent() { awk -v a="$1" -v w="$WINDOW" 'BEGIN { if (a == "n/a") print "n/a"; else printf "%.1f%%", 100 * a / w }'; }

echo
echo "Quorvane measurement, $(date -u +%Y-%m-%d), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "Wine $("$QV_WINE" --version 2>/dev/null) ($QV_WIN_PRESET build), Xvfb $QV_SCREEN_GEOMETRY; medians of $RUNS alternating runs of ${WINDOW} s"
echo
printf '| %-22s | %-5s | %-9s | %-10s | %-9s | %-9s | %-10s |\n' program speed "program s" "wineserver s" "Xvfb s" "total s" "% of a core"
printf '|%s|\n' "------------------------|-------|-----------|--------------|-----------|-----------|-------------"
for speed in 5 1; do
  for name in "${PROGRAMS[@]}"; do
    label=$name; [ "$name" = qix ] && label="qix (native peer)"; [ "$name" = floor ] && label="floor (Win32 minimum)"
    [ "$name" = x11 ] && label="quorvane X11 (native)"
    speed_label=$speed; [ "$name" = qix ] && speed_label="own"
    t=$(total "$name" "$speed")
    printf '| %-22s | %-5s | %-9s | %-12s | %-9s | %-9s | %-11s |\n' "$label" "$speed_label" \
      "$(column "$name" "$speed" 3)" "$(column "$name" "$speed" 4)" "$(column "$name" "$speed" 5)" "$t" "$(percent "$t")"
  done
done
echo
for speed in 5 1; do
  q=$(total quorvane "$speed"); f=$(total floor "$speed"); x=$(total qix "$speed")
  echo "speed $speed: quorvane/floor $(ratio "$q" "$f") (target <= 1.15), quorvane/qix $(ratio "$q" "$x") (target <= 0.6)"
  echo "speed $speed: quorvane X11/qix $(ratio "$(total x11 "$speed")" "$x") (target <= 0.3)"
done
fs=$(printf '%s\n' "${FIRST_SAVER[@]}" | grep -E '^[0-9]+$' | median)
ff=$(printf '%s\n' "${FIRST_FLOOR[@]}" | grep -E '^[0-9]+$' | median)
echo "first line after start: quorvane $fs ms, floor $ff ms, ratio $(ratio "$fs" "$ff") (target <= 1.5)"
rss=$(awk '$1 == "quorvane" { print $6 }' "$RESULTS" | median)
echo "quorvane peak resident memory: $rss KiB (the whole Wine process)"
echo "quorvane.scr (32-bit, shipped) size: $(stat -c %s build/windows/quorvane.scr 2>/dev/null) bytes, stripped (target <= 24576)"
echo
echo "Native microbenchmarks (the model alone):"
build/native/qv_bench --benchmark_min_time=0.2 --benchmark_format=console 2>/dev/null |
  grep -E '^BM_' | awk '{ printf "  %-28s %10s %s\n", $1, $2, $3; t[$1] = $2 }
    END { if (t["BM_FourTrig"] > 0) printf "  AdvanceFrame / four trigonometric calls: %.2f (target <= 1.3)\n", t["BM_AdvanceFrame"] / t["BM_FourTrig"] }'
[ "$SMOKE" = 1 ] && echo "measure: smoke run complete (timings not judged)"
exit 0
