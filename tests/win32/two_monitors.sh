#!/usr/bin/env bash
# The full-screen case on two monitors of different sizes side by side. Xephyr, inside the
# test's display, shows them through Xinerama; without RandR Wine takes its monitors from
# there. Wine learns the monitors when its wineserver starts, so the case runs under a
# wineserver of its own: it waits until the prefix's server has ended, and ends its own.
#
#   two_monitors.sh PROCESS_TESTS_EXE      (DISPLAY, and WINEPREFIX unless a fresh one will do)
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
qv_install_cleanup_trap
qv_temp_dir
Xephyr -displayfd 3 -nolisten tcp +xinerama -extension RANDR -screen 1024x768 -screen 800x600 \
  3>"$QV_TEMP_DIR/display" >"$QV_TEMP_DIR/xephyr.log" 2>&1 &
QV_STARTED_XVFB_PIDS+=($!)
if ! qv_poll "$QV_XVFB_TIMEOUT" qv_read_display_number "$QV_TEMP_DIR/display" >/dev/null; then
  qv_log "Xephyr reported no display:"; cat "$QV_TEMP_DIR/xephyr.log" >&2; exit 1
fi
export DISPLAY=":$(qv_read_display_number "$QV_TEMP_DIR/display")"
qv_poll "$QV_XVFB_TIMEOUT" qv_display_answers "$DISPLAY"
if [ -n "${WINEPREFIX:-}" ]; then
  qv_wine_env
  timeout 60 wineserver -w || { qv_log "the prefix's wineserver is still running after 60 s"; exit 1; }
  QV_STARTED_PREFIXES+=("$WINEPREFIX")
else
  qv_make_prefix
fi
QV_MONITORS=2 "$QV_WINE" "$1" --gtest_filter='*FullScreenCovers*'
