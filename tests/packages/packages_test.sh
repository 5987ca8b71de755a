#!/usr/bin/env bash
# The packages in build/packages/ as people install them, one case each: the saver's
# manifest and icon, the setup program under Wine in a fresh prefix (or, where no 32-bit
# code runs, its payload), the Debian package's contents and its program's --version.
# Prints each failed check, then "PASS case" or "FAIL case"; exits 1 if any case failed.
# Needs DISPLAY.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT/build/packages"
DEB=$(echo quorvane_*_amd64.deb)
VERSION=$(dpkg-deb -f "$DEB" Version)
ENTRY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane'
DESKTOP='HKCU\Control Panel\Desktop'
PENDING='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
failures=0

# expect WHAT GOT WANT
expect() {
  [ "$2" = "$3" ] && return
  echo "  $1: got '$2', want '$3'"
  failures=$((failures + 1))
}

# run_case NAME FUNCTION
run_case() {
  local before=$failures
  "$2"
  [ "$failures" = "$before" ] && echo "PASS $1" || echo "FAIL $1"
}

# registry KEY VALUE: its data, or nothing
registry() {
  "$QV_WINE" reg query "$1" /v "$2" /reg:32 | sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | tr -d '\r'
}

shown() { xdotool search --onlyvisible --name "$1" >/dev/null; }

# end_by_move PID: the saver ends on a mouse move (one that has not ended within 10 s is
# killed, so that a broken saver fails the case, not hangs it).
end_by_move() {
  xdotool mousemove_relative 40 40
  qv_wait_pid_gone "$1" 10 || kill -KILL "$1"
  wait "$1"
  expect "saver /s exit status" "$?" 0
}

# launch LINE: runs a Windows command line exactly as given; prints its whole exit code.
launch() { "$QV_WINE" ../windows/process_tests.exe --exit-code-of "$1" | tr -d '\r'; }

# In place, so that its exit code is the uninstaller's own.
uninstall_in_place() {
  local folder
  folder=$(registry "$ENTRY" InstallLocation)
  launch "\"$folder\\uninstall.exe\" /S _?=$folder"
}

install_setup() {
  expect "setup exit code" "$(launch "$(qv_windows_path "quorvane-$VERSION-setup.exe") /S")" 0
  expect "installed file" "$(cmp "$SCR" ../windows/quorvane.scr && echo built)" built
  expect "entry version" "$(registry "$ENTRY" DisplayVersion)" "$VERSION"
}

# Installed over an older file, then removed while SCRNSAVE.EXE names another saver (kept)
# or this one by either path in any letter case (removed).
windows_setup() {
  local row folder
  echo older >"$SCR"
  install_setup
  for row in 'C:\windows\system32\other.scr|C:\windows\system32\other.scr' \
    'C:\WINDOWS\SYSTEM32\QUORVANE.SCR|' 'c:\windows\syswow64\quorvane.scr|'; do
    [ -e "$SCR" ] || install_setup
    folder=$(registry "$ENTRY" InstallLocation)
    "$QV_WINE" reg add "$DESKTOP" /v SCRNSAVE.EXE /d "${row%|*}" /f >/dev/null
    echo 5 >"$WINEPREFIX/drive_c/windows/googoo.goo"
    "$QV_WINE" "$folder\\uninstall.exe" /S
    qv_poll 30 test ! -e "$(winepath -u "$folder")"
    expect "SCRNSAVE.EXE was ${row%|*}" "$(registry "$DESKTOP" SCRNSAVE.EXE)" "${row#*|}"
    expect "saver and googoo.goo left" "$(ls "$SCR" "$WINEPREFIX/drive_c/windows/googoo.goo" 2>/dev/null | wc -l)" 1
    expect "entry left" "$(registry "$ENTRY" DisplayVersion)" ""
    expect "other desktop setting" "$(registry "$DESKTOP" MenuShowDelay)" 400
  done
}

# Run as Windows 98 (Wine's per-program version, for the setup program and the uninstaller
# in place), the uninstaller finds the current saver in SYSTEM.INI, and clears only our name.
windows_setup_9x() {
  local row exe ini="$WINEPREFIX/drive_c/windows/system.ini"
  for exe in "quorvane-$VERSION-setup.exe" uninstall.exe; do
    "$QV_WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /d win98 /f >/dev/null
  done
  for row in 'C:\windows\system32\other.scr|C:\windows\system32\other.scr' 'C:\WINDOWS\SYSTEM32\QUORVANE.SCR|'; do
    install_setup
    sed -i '/^\[boot\]/,$d' "$ini"
    printf '[boot]\r\nSCRNSAVE.EXE=%s\r\n' "${row%|*}" >>"$ini"
    expect "uninstall exit code" "$(uninstall_in_place)" 0
    expect "SYSTEM.INI's SCRNSAVE.EXE was ${row%|*}" "$(sed -n 's/^SCRNSAVE.EXE=//p' "$ini" | tr -d '\r')" "${row#*|}"
    expect "saver left" "$(ls "$SCR" 2>/dev/null)" ""
  done
  "$QV_WINE" reg delete "HKCU\\Software\\Wine\\AppDefaults" /f >/dev/null
}

# A running saver holds its file: the setup program replaces it at the next restart, and
# the uninstaller moves it aside and deletes that copy then; each says so with exit code
# 3010. A reinstall before the restart keeps its file. Wine carries out the pending list
# whenever its server starts afresh, so the server stays up until each restart.
windows_setup_in_use() {
  # What the uninstallers before left to the restart (their temporary copies) goes first.
  restart
  cp ../windows/quorvane.scr "$SCR"
  echo older >>"$SCR"
  start_saver
  expect "setup exit code" "$(launch "$(qv_windows_path "quorvane-$VERSION-setup.exe") /S")" 3010
  expect "pending after setup" "$(registry "$PENDING" PendingFileRenameOperations | tr A-Z a-z)" \
    "\\??\\$SYSDIR\\quorvane.new\\0!\\??\\$SYSDIR\\quorvane.scr"
  expect "entry version" "$(registry "$ENTRY" DisplayVersion)" "$VERSION"
  end_by_move "$SAVER"
  restart
  expect "replaced at restart" "$(cmp "$SCR" ../windows/quorvane.scr && echo built)" built
  start_saver
  expect "uninstall exit code" "$(uninstall_in_place)" 3010
  expect "entry left" "$(registry "$ENTRY" DisplayVersion)" ""
  expect "pending after uninstall" "$(registry "$PENDING" PendingFileRenameOperations | tr A-Z a-z)" \
    "\\??\\$SYSDIR\\quorvane.old\\0"
  end_by_move "$SAVER"
  install_setup
  restart
  expect "reinstall kept at restart" "$(cmp "$SCR" ../windows/quorvane.scr && echo built)" built
  expect "entry after restart" "$(registry "$ENTRY" DisplayVersion)" "$VERSION"
}

start_saver() {
  xdotool mousemove 200 200
  "$QV_WINE" "$SYSDIR\\quorvane.scr" /s &
  SAVER=$!
  expect "window" "$(qv_poll 30 shown '^Screen Saver$' && echo shown)" shown
}

restart() {
  wineserver -k
  wineserver -p
  "$QV_WINE" wineboot -r
}



windows_setup_payload() {
  expect "payload" "$(7z l "quorvane-$VERSION-setup.exe" | grep -c '/quorvane.new$')" 1
}

debian_package() {
  local files="libexec/xscreensaver/quorvane share/doc/quorvane/changelog.gz share/doc/quorvane/copyright share/man/man6/quorvane.6.gz share/xscreensaver/config/quorvane.xml"
  expect "files in /usr" "$(dpkg-deb -c "$DEB" | awk '!/^d/ {printf "%s ", substr($6, 7)}')" "$files "
  expect "Suggests" "$(dpkg-deb -f "$DEB" Suggests)" xscreensaver
  expect "Depends on Xlib" "$(dpkg-deb -f "$DEB" Depends | grep -o libx11-6)" libx11-6
  expect "lintian errors and warnings" "$(lintian "$DEB" 2>/dev/null | grep -c '^[EW]:')" 0
  qv_temp_dir
  dpkg-deb -x "$DEB" "$QV_TEMP_DIR"
  expect "--version" "$(timeout 10 "$QV_TEMP_DIR/usr/libexec/xscreensaver/quorvane" --version)" "quorvane $VERSION"
}

# What Windows reads from the saver's file (7z lists and extracts a program's resources):
# a manifest and an icon group, with no icon 100 for the window class; the manifest is
# well-formed XML (or xmllint prints nothing) and declares per-monitor DPI awareness and
# no execution level (trustInfo); the version block carries the package's version and the
# saver's name, which the file's properties show.
saver_resources() {
  local scr=../windows/quorvane.scr
  expect "resources" "$(7z l "$scr" | grep -Eo '(MANIFEST|GROUP_ICON)/.*' | xargs)" "GROUP_ICON/1 MANIFEST/1"
  expect "manifest" "$(7z x -so "$scr" .rsrc/MANIFEST/1 |
    xmllint --xpath '//*[local-name()="windowsSettings"]/*/text() | //*[local-name()="trustInfo"]' -)" \
    $'true/pm\nPerMonitorV2, PerMonitor'
  expect "file version and description" "$(7z x -so "$scr" .rsrc/version.txt | iconv -f UTF-16LE | tr -s ' ' |
    sed -n 's/^\W*FILEVERSION //p; s/.*"FileDescription", "\(.*\)"/\1/p' | tr -d '\r' | paste -sd '|')" \
    "${VERSION//./,},0|Quorvane screen saver"
}

qv_choose_wine
if [ "$QV_WIN_PRESET" = windows ]; then
  [ -x ../windows/process_tests.exe ] || cmake --build --preset windows --target process_tests >/dev/null
  qv_make_prefix
  sysdir=syswow64
  [ -d "$WINEPREFIX/drive_c/windows/syswow64" ] || sysdir=system32
  SYSDIR="c:\\windows\\$sysdir"
  SCR="$WINEPREFIX/drive_c/windows/$sysdir/quorvane.scr"
  run_case windows-setup windows_setup
  run_case windows-setup-9x windows_setup_9x
  run_case windows-setup-in-use windows_setup_in_use
else
  run_case windows-setup-payload windows_setup_payload
fi
run_case saver-resources saver_resources
run_case debian-package debian_package
[ "$failures" = 0 ]
