#!/usr/bin/env bash
# On the display xvfb-run gives it: bad input first, each refused with a line that says what
# was wrong, the usage, and status 1; then the real XScreenSaver daemon with Quorvane as its
# only program: -activate shows the figure's colours in the window it hands over,
# -deactivate ends the program; then on the root window, ended by SIGINT with 0; then in a
# plain window of its own (an empty XSCREENSAVER_WINDOW names none), offering only the close
# box, until its connection to the server is cut: that ends it quietly with 0.
# Usage: $0 QUORVANE
set -euo pipefail
DIR=$(mktemp -d)
# Ends what it started: the daemon and the programs.
trap 'set +e; kill $(jobs -p) 2>/dev/null; wait; rm -rf -- "$DIR"' EXIT
fail() {
  echo "FAILED: $*"
  cat "$DIR/daemon.log" 2>/dev/null
  exit 1
}
# poll COMMAND...: until it succeeds, for at most 45 s
poll() {
  local deadline=$((SECONDS + 45))
  until "$@"; do [ "$SECONDS" -lt "$deadline" ] || fail "waiting for $*"; sleep 0.1; done
}
# The daemon launches nothing while it runs as root: as root, it runs as nobody.
AS_USER=(); [ "$(id -u)" -ne 0 ] || AS_USER=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
as_user() { "${AS_USER[@]}" env HOME="$DIR" DISPLAY="$DISPLAY" "$@"; }
# Found by its executable, a copy that no other process runs.
running() {
  for exe in /proc/[0-9]*/exe; do [ "$(readlink "$exe")" != "$DIR/quorvane" ] || return 0; done 2>/dev/null
  return 1
}
stopped() { ! running; }
# requested REQUEST CHECK: sends the request again until CHECK holds. The daemon's own answer
# is not relied on: under load it can come too late and report a failure.
requested() {
  as_user xscreensaver-command "$1" >/dev/null 2>&1 || true
  "$2"
}
# Wheel colours are saturated; black and the daemon's own greys are not.
shows_colour() {
  import -window root "$DIR/shot.ppm" 2>/dev/null && [ "$(convert "$DIR/shot.ppm" -colorspace HSL \
    -channel G -separate -format '%[fx:maxima>0.5]' info:)" = 1 ]
}
# refused MESSAGE ARGUMENT...: the program ends at once with 1, "quorvane: MESSAGE" and the
# usage its output.
refused() {
  local status=0
  timeout 10 "$DIR/quorvane" "${@:2}" 2>"$DIR/errors" || status=$?
  [ "$status" = 1 ] && [ "$(cat "$DIR/errors")" = "quorvane: $1"$'\n'"$("$DIR/quorvane" --help)" ] ||
    fail "${*:2}: $status, $(cat "$DIR/errors")"
}
install -m 755 "$1" "$DIR/quorvane"
speed='the speed must be a whole number from 1 to 10, not'
refused "$speed \"0\"" --speed 0
refused "$speed \"11\"" -speed 11
refused "$speed \"0a\"" --speed 0a
refused 'this option needs a value: "--speed"' --root --speed
refused 'unknown option "--roots"' --roots
refused 'unknown option "extra"' --root extra
refused 'not a window id: "0xzz"' --window-id 0xzz
refused 'no such window: "04294967295"' -window-id 04294967295
refused 'no such window: "0XFFFFFFFF"' --window-id 0XFFFFFFFF
XSCREENSAVER_WINDOW=root refused 'not a window id: "root"'
DISPLAY=:9999 refused 'cannot open display ":9999"'
(unset DISPLAY && refused 'cannot open display ""')
printf 'mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\nprograms: %s --root\n' \
  "$DIR/quorvane" >"$DIR/.xscreensaver"
chmod 755 "$DIR" && [ "$(id -u)" -ne 0 ] || chown -R nobody:nogroup "$DIR"
# Now and then the daemon ends during its start-up, with status 1 and not a word: it gets
# three starts.
for _ in 1 2 3; do as_user xscreensaver -no-splash && break; done >"$DIR/daemon.log" 2>&1 &
poll requested -activate running && poll shows_colour
poll requested -deactivate stopped
"$DIR/quorvane" --root & ROOT=$!
poll shows_colour
kill -INT "$ROOT"
wait "$ROOT" || fail "status $? on SIGINT"
XSCREENSAVER_WINDOW= "$DIR/quorvane" 2>"$DIR/errors" & OWN=$!
poll sh -c 'xwininfo -name Quorvane 2>/dev/null | grep -q IsViewable'
xwininfo -name Quorvane | grep -q 'Border width: 0' || fail "a border"
[ "$(xprop -name Quorvane WM_PROTOCOLS)" = 'WM_PROTOCOLS(ATOM): protocols  WM_DELETE_WINDOW' ] || fail "protocols"
xdotool search --name '^Quorvane$' windowkill
wait "$OWN" || fail "status $? on a lost display"
[ ! -s "$DIR/errors" ] || fail "$(cat "$DIR/errors")"
