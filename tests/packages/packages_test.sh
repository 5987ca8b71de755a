#!/usr/bin/env bash
# The packages in build/packages/ as people install them, one case each: the setup program
# under Wine in a fresh prefix (or, where no 32-bit code runs, its payload), the Debian
# package, and the X11 program's --version and --help. Prints "PASS case" or "FAIL case"
# after each case's failed checks, and exits 1 if any case failed. Needs DISPLAY.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT/build/packages"
VERSION=$(sed -n 's/^project(quorvane VERSION \([0-9.]*\).*/\1/p' "$QV_ROOT/CMakeLists.txt")
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane'
failures=0

expect() {  # expect WHAT GOT WANT
  [ "$2" = "$3" ] && return
  echo "  $1: got '$2', want '$3'"
  failures=$((failures + 1))
}

run_case() {  # run_case NAME FUNCTION
  local before=$failures
  "$2"
  [ "$failures" = "$before" ] && echo "PASS $1" || echo "FAIL $1"
}

registry() {  # registry KEY VALUE: its data, or nothing
  "$QV_WINE" reg query "$1" /v "$2" /reg:32 2>/dev/null | sed -n "s/^ *$2 *REG_[A-Z]* *//p" | tr -d '\r'
}

shown() { xdotool search --onlyvisible --name "$1" >/dev/null; }

# The saver, started by its real path as the system starts it, ends on a mouse move.
run_installed_saver() {
  local pid status=0
  xdotool mousemove 200 200
  "$QV_WINE" "C:\\windows\\$SYSDIR_NAME\\quorvane.scr" /s &
  pid=$!
  expect "saver window" "$(qv_poll 30 shown '^Screen Saver$' && echo shown)" shown
  xdotool mousemove_relative 40 40
  qv_wait_pid_gone "$pid" 10 || kill "$pid"
  wait "$pid" || status=$?
  expect "saver /s exit status" "$status" 0
}

install_setup() {
  "$QV_WINE" "quorvane-$VERSION-setup.exe" /S
  expect "installed file" "$(cmp "$SCR" ../windows/quorvane.scr && echo built)" built
  expect "entry version" "$(registry "$UNINSTALL_KEY" DisplayVersion)" "$VERSION"
}

# Installed over an older file and run; then removed while SCRNSAVE.EXE names another
# saver (kept) or this one by either path in any letter case (removed).
windows_setup() {
  qv_make_prefix
  SYSDIR_NAME=syswow64
  [ -d "$WINEPREFIX/drive_c/windows/syswow64" ] || SYSDIR_NAME=system32
  SCR="$WINEPREFIX/drive_c/windows/$SYSDIR_NAME/quorvane.scr"
  local row folder
  echo older >"$SCR"
  install_setup
  run_installed_saver
  for row in 'C:\windows\system32\other.scr|C:\windows\system32\other.scr' \
    'C:\WINDOWS\SYSTEM32\QUORVANE.SCR|' 'c:\windows\syswow64\quorvane.scr|'; do
    [ -e "$SCR" ] || install_setup
    folder=$(registry "$UNINSTALL_KEY" InstallLocation)
    "$QV_WINE" reg add 'HKCU\Control Panel\Desktop' /v SCRNSAVE.EXE /d "${row%|*}" /f >/dev/null
    echo 5 >"$WINEPREFIX/drive_c/windows/googoo.goo"
    "$QV_WINE" "$folder\\uninstall.exe" /S
    qv_poll 30 test ! -e "$(winepath -u "$folder")"
    expect "SCRNSAVE.EXE was ${row%|*}" "$(registry 'HKCU\Control Panel\Desktop' SCRNSAVE.EXE)" "${row#*|}"
    expect "files left of saver and googoo.goo" "$(ls "$SCR" "$WINEPREFIX/drive_c/windows/googoo.goo" 2>/dev/null | wc -l)" 1
    expect "entry left" "$(registry "$UNINSTALL_KEY" DisplayVersion)" ""
  done
}

windows_setup_payload() {
  expect "payload" "$(7z l "quorvane-$VERSION-setup.exe" | grep -c ' \$SYSDIR/quorvane.scr$')" 1
}

debian_package() {
  local deb="quorvane_${VERSION}_amd64.deb" pid status=0 report
  expect "files" "$(dpkg-deb -c "$deb" | awk '!/^d/ {printf "%s ", $6}')" "./usr/libexec/xscreensaver/quorvane \
./usr/share/doc/quorvane/changelog.gz ./usr/share/doc/quorvane/copyright ./usr/share/man/man6/quorvane.6.gz \
./usr/share/xscreensaver/config/quorvane.xml "
  expect "Suggests" "$(dpkg-deb -f "$deb" Suggests)" xscreensaver
  expect "Depends on Xlib" "$(dpkg-deb -f "$deb" Depends | grep -o libx11-6)" libx11-6
  report=$(lintian "$deb" 2>/dev/null)
  expect "lintian errors and warnings" "$(grep -c '^[EW]:' <<<"$report")" 0
  qv_temp_dir
  dpkg-deb -x "$deb" "$QV_TEMP_DIR"
  PROGRAM="$QV_TEMP_DIR/usr/libexec/xscreensaver/quorvane"
  "$PROGRAM" &
  pid=$!
  expect "window" "$(qv_poll 20 shown '^Quorvane$' && echo shown)" shown
  kill -TERM "$pid"
  wait "$pid" || status=$?
  expect "status after SIGTERM" "$status" 0
}

x11_options() {
  local out
  out=$("$PROGRAM" --version)
  expect "--version status" $? 0
  expect "--version" "$out" "quorvane $VERSION"
  out=$("$PROGRAM" --help 2>/dev/null)
  expect "--help status" $? 0
  expect "--help on standard output" "${out%% \[*}" "usage: quorvane"
  "$PROGRAM" --bogus 2>/dev/null
  expect "unknown option status" $? 1
}

qv_choose_wine
if [ "$QV_WIN_PRESET" = windows ]; then
  run_case windows-setup windows_setup
else
  run_case windows-setup-payload windows_setup_payload
fi
run_case debian-package debian_package
run_case x11-options x11_options
[ "$failures" = 0 ]
