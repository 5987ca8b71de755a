# Shared by scripts/test.sh, scripts/demo.sh, scripts/screenshots.sh and bench/measure.sh; source it, don't run it.
#
#   qv_choose_wine         sets QV_WINE, the Wine that runs our Windows programs here, and
#                          QV_WIN_PRESET / QV_WIN_BUILD, the build those programs come from
#   qv_install_deps        install what the build and the tests need (root, Debian 12),
#                          skipping every package that is already there
#   qv_start_xvfb          start Xvfb on a free display; sets DISPLAY and QV_XVFB_PID
#   qv_stop_xvfb PID       end one Xvfb this script started
#   qv_make_prefix [DIR]   create a fresh Wine prefix (in a new temp dir unless DIR is given)
#                          and export WINEPREFIX; needs a running display
#   qv_end_prefix DIR      end every process of that prefix and its wineserver
#   qv_build_web [TARGET]  builds the page (target "web" of the native preset), and any
#                          other targets named, into QV_WEB_SITE, the folder to serve
#   qv_temp_dir            makes a temp dir that the cleanup removes; sets QV_TEMP_DIR
#   qv_cleanup             ends what this script started: its Xvfb servers by pid, the
#                          wineservers of its own prefixes, its temp dirs. Installed as an
#                          EXIT trap by qv_install_cleanup_trap.

QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export QV_ROOT

# Seconds to wait for a display to answer and for wineboot to finish.
QV_XVFB_TIMEOUT=${QV_XVFB_TIMEOUT:-20}
QV_WINEBOOT_TIMEOUT=${QV_WINEBOOT_TIMEOUT:-180}
QV_SCREEN_GEOMETRY=${QV_SCREEN_GEOMETRY:-1024x768x24}

# What the cleanup ends: filled as things are started.
QV_STARTED_XVFB_PIDS=()
QV_STARTED_PREFIXES=()
QV_TEMP_DIRS=()

qv_log() { printf '%s\n' "$*" >&2; }

# ---- Packages ------------------------------------------------------------------------

QV_PACKAGES=(
  cmake g++ make git clang-format
  googletest libgtest-dev libbenchmark-dev libx11-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64
  xvfb xauth x11-utils xdotool imagemagick
  xscreensaver xscreensaver-data
  nsis p7zip-full lintian dpkg-dev strip-nondeterminism diffoscope-minimal libxml2-utils
  zlib1g-dev
  xserver-xephyr
  stress-ng
  clang-14 lld-14 wasi-libc libclang-rt-14-dev-wasm32 libc++-14-dev-wasm32 chromium chromium-driver python3-selenium python3-pil zip
)

qv_package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

qv_install_deps() {
  local missing=() package
  for package in "${QV_PACKAGES[@]}"; do
    qv_package_installed "$package" || missing+=("$package")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    qv_log "packages: all present"
    return 0
  fi
  qv_log "packages: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    qv_log "packages: missing ${missing[*]}; run this as root (or install them) first"
    return 1
  fi
  # wine32 is an i386 package: the architecture must be known before apt-get update.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# ---- The page -----------------------------------------------------------------------------

QV_WEB_SITE="$QV_ROOT/build/native/web/site"

qv_build_web() {
  cmake --preset native >/dev/null
  cmake --build --preset native --target web "$@"
}

# ---- Temp dirs and cleanup -----------------------------------------------------------------

# Sets QV_TEMP_DIR rather than printing it: a command substitution would run in a subshell
# and the cleanup would never learn of the dir.
qv_temp_dir() {
  QV_TEMP_DIR="$(mktemp -d "${TMPDIR:-/tmp}/quorvane.XXXXXX")"
  QV_TEMP_DIRS+=("$QV_TEMP_DIR")
}

qv_stop_xvfb() {
  local pid=$1
  [ -n "$pid" ] || return 0
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    qv_wait_pid_gone "$pid" 5 || kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}

qv_end_prefix() {
  local dir=$1
  [ -d "$dir" ] || return 0
  WINEPREFIX="$dir" wineserver -k 2>/dev/null || true
  # -w returns once that prefix's wineserver has gone, so its files can be removed.
  WINEPREFIX="$dir" timeout 15 wineserver -w 2>/dev/null || true
}

qv_cleanup() {
  local item
  for item in "${QV_STARTED_PREFIXES[@]}"; do qv_end_prefix "$item"; done
  for item in "${QV_STARTED_XVFB_PIDS[@]}"; do qv_stop_xvfb "$item"; done
  for item in "${QV_TEMP_DIRS[@]}"; do
    [ -n "$item" ] && rm -rf -- "$item"
  done
  QV_STARTED_PREFIXES=()
  QV_STARTED_XVFB_PIDS=()
  QV_TEMP_DIRS=()
}

qv_install_cleanup_trap() {
  trap 'qv_cleanup' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# ---- Polling ----------------------------------------------------------------------------

# qv_poll SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds or time runs out.
qv_poll() {
  local seconds=$1; shift
  local deadline=$((SECONDS + seconds))
  while true; do
    "$@" && return 0
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.1
  done
}

qv_pid_gone() { ! kill -0 "$1" 2>/dev/null; }
qv_wait_pid_gone() { qv_poll "$2" qv_pid_gone "$1"; }

# ---- Xvfb ------------------------------------------------------------------------------

qv_display_answers() { xdpyinfo -display "$1" >/dev/null 2>&1; }

qv_read_display_number() {
  local file=$1 number
  number="$(head -n1 "$file" 2>/dev/null)"
  [ -n "$number" ] || return 1
  printf '%s\n' "$number"
}

# Starts Xvfb on a display that no one uses (Xvfb picks it and reports it through
# -displayfd) and waits until the display answers. Sets DISPLAY and QV_XVFB_PID.
qv_start_xvfb() {
  local dir fifo_file number
  qv_temp_dir
  dir=$QV_TEMP_DIR
  fifo_file="$dir/display"
  : >"$fifo_file"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 "$QV_SCREEN_GEOMETRY" -noreset \
    3>"$fifo_file" >"$dir/xvfb.log" 2>&1 &
  QV_XVFB_PID=$!
  QV_STARTED_XVFB_PIDS+=("$QV_XVFB_PID")
  if ! qv_poll "$QV_XVFB_TIMEOUT" qv_read_display_number "$fifo_file" >/dev/null; then
    qv_log "Xvfb reported no display within ${QV_XVFB_TIMEOUT}s:"; cat "$dir/xvfb.log" >&2
    return 1
  fi
  number="$(qv_read_display_number "$fifo_file")"
  export DISPLAY=":$number"
  if ! qv_poll "$QV_XVFB_TIMEOUT" qv_display_answers "$DISPLAY"; then
    qv_log "display $DISPLAY did not answer within ${QV_XVFB_TIMEOUT}s"
    return 1
  fi
}

# ---- Wine prefixes ---------------------------------------------------------------------------

# What every test prefix carries:
# - no window manager is running, so Wine must not wait for one when a window is hidden;
# - an unhandled exception must neither show a dialog nor start a debugger that waits for
#   someone: Auto=1 skips the question, and a debugger command that cannot start makes
#   UnhandledExceptionFilter answer "execute handler", so the process simply ends.
#   The key exists in the 64-bit and the 32-bit view of the registry.
qv_prefix_settings() {
  cat <<'EOF'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Auto"="1"
"Debugger"="qv-no-debugger-here.exe %ld %ld"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Auto"="1"
"Debugger"="qv-no-debugger-here.exe %ld %ld"
EOF
}

# A kernel without 32-bit support runs no 32-bit Wine: there the 64-bit build of the same
# sources (preset win64) runs under the 64-bit Wine loader; elsewhere the real 32-bit
# program runs under wine.
qv_choose_wine() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    QV_WINE=wine QV_WIN_PRESET=windows
  else
    QV_WINE=/usr/lib/wine/wine64 QV_WIN_PRESET=win64
    export WINELOADER=$QV_WINE
  fi
  QV_WIN_BUILD="$QV_ROOT/build/$QV_WIN_PRESET"
  export QV_WINE QV_WIN_PRESET QV_WIN_BUILD
}

qv_wine_env() {
  qv_choose_wine
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${QV_WINEDLLOVERRIDES:-"mscoree,mshtml="}
}

# qv_make_prefix [DIR]: boots a new prefix (about 15 s) and exports WINEPREFIX.
qv_make_prefix() {
  local dir=${1:-}
  if [ -z "$dir" ]; then qv_temp_dir; dir="$QV_TEMP_DIR/prefix"; fi
  mkdir -p "$dir"
  QV_STARTED_PREFIXES+=("$dir")
  export WINEPREFIX="$dir"
  qv_wine_env
  if ! timeout "$QV_WINEBOOT_TIMEOUT" "$QV_WINE" wineboot -i >"$dir.boot.log" 2>&1; then
    qv_log "wineboot failed in $dir:"; tail -n 20 "$dir.boot.log" >&2
    return 1
  fi
  qv_prefix_settings >"$dir.settings.reg"
  if ! timeout 60 "$QV_WINE" reg import "$(qv_windows_path "$dir.settings.reg")" \
      >>"$dir.boot.log" 2>&1; then
    qv_log "could not import the test settings into $dir:"; tail -n 20 "$dir.boot.log" >&2
    return 1
  fi
}

# A Windows path (Z:\...) for a file of this machine, for programs under Wine.
qv_windows_path() {
  local path
  path="$(readlink -f "$1")"
  printf 'Z:%s\n' "${path//\//\\}"
}
