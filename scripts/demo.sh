#!/usr/bin/env bash
# Builds quorvane.scr and runs it in save mode ("/s") under Wine. Where the kernel runs no
# 32-bit code, the 64-bit build of the same sources runs instead (see qv_choose_wine).
#
# With a working $DISPLAY it runs there until you move the mouse or press a key.
# Without one it runs on its own Xvfb display for a few seconds, saves a screenshot to
# build/demo.png, ends the saver with a real mouse move and prints the exit code it got
# (0 is right).
#
# QV_SCR=<path>   demo an already built saver instead of building one
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT"

DEMO_SECONDS=${QV_DEMO_SECONDS:-4}
WINDOW_TIMEOUT=30      # seconds for Wine to start the saver and show its window
DRAW_TIMEOUT=15        # seconds for the first coloured line to appear
EXIT_TIMEOUT=10        # seconds for the saver to end after the mouse moved
SCREENSHOT="$QV_ROOT/build/demo.png"
START_POINT=(200 200)  # where the pointer rests when the saver starts
END_MOVE=(20 20)       # the move that ends it: 40 pixels, well above the 4-pixel threshold

build_saver() {
  if [ -n "${QV_SCR:-}" ]; then
    SAVER="$(readlink -f "$QV_SCR")"
    return
  fi
  qv_install_deps
  qv_choose_wine
  cmake --preset "$QV_WIN_PRESET" >/dev/null
  cmake --build --preset "$QV_WIN_PRESET" --target quorvane
  SAVER="$QV_WIN_BUILD/quorvane.scr"
}

# A prefix kept between demos in build/, so only the first demo waits for Wine to boot.
use_demo_prefix() {
  local dir="$QV_ROOT/build/wine-demo"
  if [ -f "$dir/system.reg" ]; then
    QV_STARTED_PREFIXES+=("$dir")
    export WINEPREFIX="$dir"
    qv_wine_env
  else
    echo "Preparing a Wine prefix in $dir (once, about 15 s)..."
    qv_make_prefix "$dir"
  fi
}

run_on_display() {
  use_demo_prefix
  echo "Running quorvane.scr /s on $DISPLAY; move the mouse or press a key to end it."
  local status=0
  "$QV_WINE" "$SAVER" /s || status=$?
  echo "quorvane.scr /s exited with code $status"
  return "$status"
}

saver_window_shown() { xdotool search --onlyvisible --name '^Screen Saver$' >/dev/null 2>&1; }
window_shown_or_saver_gone() { saver_window_shown || qv_pid_gone "$1"; }

# True when the screen holds anything but black.
screen_has_colour() {
  local shot=$1 maximum
  import -window root "$shot" 2>/dev/null || return 1
  maximum="$(convert "$shot" -format '%[max]' info: 2>/dev/null)" || return 1
  [ "${maximum%%.*}" -gt 0 ]
}

# Shown instead when the saver window does not come up: what the command line does.
show_command_line_behaviour() {
  local tail status
  echo "The saver window did not appear; what the command line does instead:"
  for tail in "/x" "/p 0" "/a"; do
    status=0
    timeout 30 "$QV_WINE" "$SAVER" $tail || status=$?
    echo "  quorvane.scr $tail -> exit code $status (255 is -1)"
  done
}

run_headless() {
  local pid status=0 probe
  echo "No display: running on a private Xvfb display with a fresh Wine prefix."
  qv_start_xvfb
  qv_make_prefix
  xdotool mousemove "${START_POINT[@]}"
  "$QV_WINE" "$SAVER" /s &
  pid=$!
  qv_poll "$WINDOW_TIMEOUT" window_shown_or_saver_gone "$pid" || true
  if ! saver_window_shown; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    show_command_line_behaviour
    return 1
  fi
  qv_temp_dir
  probe="$QV_TEMP_DIR/probe.png"
  qv_poll "$DRAW_TIMEOUT" screen_has_colour "$probe" || echo "No coloured pixels yet."
  # Let the figure grow for a few seconds: this is the demo's running time, not a wait.
  sleep "$DEMO_SECONDS"
  mkdir -p "$(dirname "$SCREENSHOT")"
  import -window root "$SCREENSHOT"
  echo "Screenshot: $SCREENSHOT"
  echo "Moving the mouse by ${END_MOVE[0]},${END_MOVE[1]} pixels to end the saver."
  xdotool mousemove_relative -- "${END_MOVE[@]}"
  if ! qv_wait_pid_gone "$pid" "$EXIT_TIMEOUT"; then
    echo "The saver was still running ${EXIT_TIMEOUT}s after the mouse moved; ending it."
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    return 1
  fi
  wait "$pid" || status=$?
  echo "quorvane.scr /s exited with code $status"
  return "$status"
}

build_saver
if [ -n "${DISPLAY:-}" ] && qv_display_answers "$DISPLAY"; then
  run_on_display
else
  run_headless
fi
