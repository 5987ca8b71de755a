#!/usr/bin/env bash
# On an X server of its own: the real XScreenSaver daemon with Quorvane as its only program
# (-activate shows the figure's colours in the window it hands over, -deactivate ends the
# program), then the program's own window, and the server going away under it: that ends
# the program quietly with 0.  Usage: $0 QUORVANE
set -euo pipefail
DIR=$(mktemp -d) PIDS=()
trap 'for pid in "${PIDS[@]}"; do kill "$pid" || true; wait "$pid" || true; done 2>/dev/null; rm -rf -- "$DIR"' EXIT
poll() {  # poll COMMAND...: until it succeeds, for at most 45 s
  local deadline=$((SECONDS + 45))
  until "$@"; do [ "$SECONDS" -lt "$deadline" ] || { echo "FAILED waiting for: $*"; cat "$DIR/daemon.log"; exit 1; }; sleep 0.1; done
}
# The daemon launches nothing while it runs as root: as root, it runs as nobody.
AS_USER=(); [ "$(id -u)" -ne 0 ] || AS_USER=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
as_user() { "${AS_USER[@]}" env HOME="$DIR" DISPLAY="$DISPLAY" "$@"; }
running() {  # found by its executable, a copy that no other process runs
  for exe in /proc/[0-9]*/exe; do [ "$(readlink "$exe")" != "$DIR/quorvane" ] || return 0; done 2>/dev/null; return 1
}
stopped() { ! running; }
# requested REQUEST CHECK: sends the request again until CHECK holds. The daemon's own answer
# is not relied on: under load it can come too late and report a failure.
requested() {
  as_user xscreensaver-command "$1" >/dev/null 2>&1 || true
  "$2"
}
shows_colour() {  # wheel colours are saturated; black and the daemon's own greys are not
  import -window root "$DIR/shot.ppm" 2>/dev/null && [ "$(convert "$DIR/shot.ppm" -colorspace HSL \
    -channel G -separate -format '%[fx:maxima>0.5]' info:)" = 1 ]
}
viewable() { xwininfo -name Quorvane 2>/dev/null | grep -q IsViewable; }
Xvfb -displayfd 3 -nolisten tcp -ac -screen 0 320x240x24 3>"$DIR/display" 2>/dev/null & PIDS+=($!)
poll test -s "$DIR/display"
export DISPLAY=:$(head -n1 "$DIR/display")
poll sh -c 'xdpyinfo >/dev/null 2>&1'
install -m 755 "$1" "$DIR/quorvane"
printf 'mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\nprograms: %s --root\n' \
  "$DIR/quorvane" >"$DIR/.xscreensaver"
chmod 755 "$DIR" && [ "$(id -u)" -ne 0 ] || chown -R nobody:nogroup "$DIR"
as_user xscreensaver -no-splash >"$DIR/daemon.log" 2>&1 & PIDS=($! "${PIDS[@]}")
poll requested -activate running && poll shows_colour
poll requested -deactivate stopped
"$DIR/quorvane" 2>"$DIR/errors" & OWN=$!
poll viewable
[ "$(xprop -name Quorvane WM_PROTOCOLS)" = 'WM_PROTOCOLS(ATOM): protocols  WM_DELETE_WINDOW' ]
kill "${PIDS[-1]}"
wait "$OWN" || { echo "FAILED: status $? on a lost display"; exit 1; }
[ ! -s "$DIR/errors" ] || { echo "FAILED: said on a lost display:"; cat "$DIR/errors"; exit 1; }
