#!/usr/bin/env bash
# Makes the README's pictures from the real programs, on a private Xvfb display; the
# Windows program's under Wine with a fresh Wine prefix:
#
#   docs/config-dialog.png   the configuration dialog ("/c"), as it opens
#   docs/saver.png           the full-screen saver ("/s"), a few seconds after it starts
#   docs/x11.png             the native X11 program on the root window, likewise
#   docs/web.png             the web page (web/) in headless Chromium at 800x600, seed 2026
#                            at speed 1, the moment with the most drawn of its first 4 s
#
# scripts/screenshots.sh        all four
# scripts/screenshots.sh x11    only docs/x11.png, without Wine
# scripts/screenshots.sh web    only docs/web.png, without Wine or a display
# QV_SCR=<path>   use an already built saver instead of building one
set -euo pipefail

# A smaller screen than the tests use keeps the saver's picture small.
export QV_SCREEN_GEOMETRY=${QV_SCREEN_GEOMETRY:-800x600x24}

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT"

SAVER_FRAMES=12          # frames looked at, one every SAVER_FRAME_SECONDS, for the picture
SAVER_FRAME_SECONDS=0.5
WINDOW_TIMEOUT=30  # seconds for Wine to start the program and show its window
PAINT_TIMEOUT=15   # seconds for the window to be painted
EXIT_TIMEOUT=10    # seconds for the program to end once asked
DIALOG_PICTURE="$QV_ROOT/docs/config-dialog.png"
SAVER_PICTURE="$QV_ROOT/docs/saver.png"
X11_PICTURE="$QV_ROOT/docs/x11.png"
WEB_PICTURE="$QV_ROOT/docs/web.png"
WEB_QUERY='?seed=2026&speed=1'
WEB_SECONDS=4
X11_PROGRAM="$QV_ROOT/build/native/x11/quorvane"
ONLY=${1:-all}
REST_POINT=(790 590)        # where the pointer waits, away from the dialog
DIALOG_REST_POINT=(240 115)  # a blank spot below "Cancel", in the dialog's own pixels
SAVER_END_MOVE=(-20 -20)

# Wine draws the caption's close box with a glyph of its Marlett font. Debian ships that
# font in fonts-wine, in a folder this Wine build does not search, so it goes into the
# prefix's own font folder; without it the box shows a plain letter.
MARLETT=/usr/share/wine/fonts/marlett.ttf

install_wine_fonts() {
  qv_package_installed fonts-wine && return 0
  if [ "$(id -u)" -ne 0 ]; then
    qv_log "fonts-wine is missing: the dialog's close box will show a letter"
    return 0
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends fonts-wine
}

add_marlett_to_prefix() {
  [ -f "$MARLETT" ] || return 0
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp "$MARLETT" "$WINEPREFIX/drive_c/windows/Fonts/"
}

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

# visible_window TITLE: the X window id of the visible window with exactly that title.
visible_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1; }
window_shown() { [ -n "$(visible_window "$1")" ]; }
shown_or_gone() { window_shown "$1" || qv_pid_gone "$2"; }

# colours_at_least N IMAGE: true when the image holds at least N distinct colours, that
# is, once its window has been painted.
colours_at_least() {
  local colours
  colours="$(convert "$2" -format '%k' info: 2>/dev/null)" || return 1
  [ "$colours" -ge "$1" ]
}

capture_window() {  # capture_window ID FILE
  import -window "$1" "$2" 2>/dev/null && colours_at_least 3 "$2"
}

capture_root_with_colour() {  # capture_root_with_colour FILE
  import -window root "$1" 2>/dev/null && colours_at_least 2 "$1"
}

# Stores a picture without the time stamps ImageMagick would add, so that an unchanged
# picture makes no change in git.
store_picture() {  # store_picture FROM TO
  mkdir -p "$(dirname "$2")"
  convert "$1" -strip "$2"
  echo "Saved $2 ($(identify -format '%wx%h' "$2"))"
}

# end_program PID: waits for the program to end after it was asked to; ends it by its
# process id when it does not.
end_program() {
  local pid=$1
  if ! qv_wait_pid_gone "$pid" "$EXIT_TIMEOUT"; then
    echo "The program was still running ${EXIT_TIMEOUT}s later; ending it."
    kill "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}

picture_dialog() {
  local pid id shot
  "$QV_WINE" "$SAVER" /c &
  pid=$!
  qv_poll "$WINDOW_TIMEOUT" window_shown Quorvane || { echo "The dialog did not appear."; return 1; }
  id="$(visible_window Quorvane)"
  shot="$QV_TEMP_DIR/dialog.png"
  qv_poll "$PAINT_TIMEOUT" capture_window "$id" "$shot" || { echo "The dialog was not painted."; return 1; }
  store_picture "$shot" "$DIALOG_PICTURE"
  # Wine learns where the pointer is only from events on its own windows. Resting it on the
  # dialog tells it, so that the saver, which starts under the same pointer, does not take
  # its first report for a move and end at once. The dialog handles that motion before the
  # keys that follow, so it is known once the dialog has ended.
  xdotool mousemove --window "$id" "${DIALOG_REST_POINT[@]}"
  # The focus is on "OK": Tab moves it to "Cancel", which Space presses; nothing is saved.
  xdotool key --window "$id" Tab space
  end_program "$pid"
}

# The share of pixels that are not black.
coloured_share() {
  convert "$1" -fill white +opaque black -format '%[fx:mean]' info: 2>/dev/null || echo 0
}

# A figure is cleared when it has left the screen, so a single picture may catch it just
# after a restart. Over the saver's first seconds (the picture's subject, not a wait for
# something) this keeps the frame with the most drawn.
richest_of_saver_frames() {  # richest_of_saver_frames OUTPUT
  local frame="$QV_TEMP_DIR/frame.png" best=0 share i
  for ((i = 0; i < SAVER_FRAMES; i++)); do
    sleep "$SAVER_FRAME_SECONDS"
    import -window root "$frame"
    share="$(coloured_share "$frame")"
    if awk -v a="$share" -v b="$best" 'BEGIN { exit !(a > b) }'; then
      best=$share
      cp "$frame" "$1"
    fi
  done
}

picture_saver() {
  local pid shot
  "$QV_WINE" "$SAVER" /s &
  pid=$!
  qv_poll "$WINDOW_TIMEOUT" shown_or_gone "Screen Saver" "$pid" || true
  if ! window_shown "Screen Saver"; then
    local status=0
    qv_pid_gone "$pid" && { wait "$pid" || status=$?; echo "The saver ended with status $status."; }
    echo "The saver did not appear."
    return 1
  fi
  shot="$QV_TEMP_DIR/saver.png"
  qv_poll "$PAINT_TIMEOUT" capture_root_with_colour "$shot" || { echo "Nothing was drawn."; return 1; }
  richest_of_saver_frames "$shot"
  store_picture "$shot" "$SAVER_PICTURE"
  # A mouse move of more than 4 pixels ends the saver.
  xdotool mousemove_relative -- "${SAVER_END_MOVE[@]}"
  end_program "$pid"
}

build_x11_program() {
  cmake --preset native >/dev/null
  cmake --build --preset native --target quorvane
}

# The X11 program as XScreenSaver runs it when no window is handed over: on the root window.
picture_x11() {
  local pid shot="$QV_TEMP_DIR/x11.png"
  "$X11_PROGRAM" --root &
  pid=$!
  qv_poll "$PAINT_TIMEOUT" capture_root_with_colour "$shot" || { echo "Nothing was drawn."; kill "$pid"; return 1; }
  richest_of_saver_frames "$shot"
  store_picture "$shot" "$X11_PICTURE"
  kill "$pid"
  end_program "$pid"
}

picture_web() {
  qv_build_web
  /usr/bin/python3 scripts/browser.py screenshot "$QV_WEB_SITE" "$WEB_QUERY" 1 "$WEB_SECONDS" "$QV_TEMP_DIR/web.png"
  store_picture "$QV_TEMP_DIR/web.png" "$WEB_PICTURE"
}

if [ "$ONLY" = web ]; then
  qv_install_deps
  qv_temp_dir
  picture_web
  exit 0
fi
if [ "$ONLY" != x11 ]; then build_saver; install_wine_fonts; fi
build_x11_program
qv_start_xvfb
qv_temp_dir
if [ "$ONLY" != x11 ]; then
  qv_make_prefix
  add_marlett_to_prefix
  xdotool mousemove "${REST_POINT[@]}"
  picture_dialog
  picture_saver
fi
picture_x11
[ "$ONLY" = x11 ] || picture_web
