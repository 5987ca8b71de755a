#!/usr/bin/env bash
# Builds every package into build/packages/, installing what is missing (as root, Debian 12):
#   quorvane-<version>-setup.exe   the Windows setup program (32-bit, NSIS)
#   quorvane-<version>-win32.zip   quorvane.scr, README.txt and LICENSE.txt, to install by hand
#   quorvane_<version>_amd64.deb   the X11 program for XScreenSaver, with its manual page
# and beside them SHA256SUMS (for sha256sum -c) and BUILDINFO (what a rebuild must match).
# One commit gives the same bytes wherever and whenever it is built: every time stored in a
# package is SOURCE_DATE_EPOCH, by default the last commit's time.
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT"

SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
# A zip stores local times, the archives store the modes that the umask leaves, and sorting
# follows the locale: all three are fixed here rather than taken from the caller.
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
umask 022

OUT="$QV_ROOT/build/packages"

# cpack works in a temp dir of its own; only the package itself lands in $OUT.
cpack_into_out() {  # cpack_into_out PRESET EXTENSION
  qv_temp_dir
  cpack --config "build/$1/CPackConfig.cmake" -B "$QV_TEMP_DIR" >/dev/null
  cp "$QV_TEMP_DIR"/quorvane*."$2" "$OUT"/
}

qv_install_deps
rm -rf "$OUT"
mkdir -p "$OUT"

cmake --preset windows >/dev/null
cmake --build --preset windows --target quorvane setup
cp build/windows/quorvane-*-setup.exe "$OUT"/
cpack_into_out windows zip
# CPack's zip records the builder's user and group ids and lists the members in the order
# they were staged: zero the ids, sort the members, settle their modes and times.
strip-nondeterminism -T "$SOURCE_DATE_EPOCH" "$OUT"/quorvane-*-win32.zip

cmake --preset native >/dev/null
cmake --build --preset native --target quorvane
cpack_into_out native deb

# The Debian packages whose versions shaped the bytes. The zip is written by CPack's
# libarchive and normalised by strip-nondeterminism; no zip program takes part.
QV_BUILD_TOOLS=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-12 binutils libc6-dev libx11-dev cmake libarchive13 nsis dpkg gzip
  strip-nondeterminism libarchive-zip-perl
)

write_buildinfo() {
  local commit
  commit=$(git rev-parse HEAD)
  git diff --quiet HEAD || commit+=" with uncommitted changes"
  printf 'Commit: %s\nSource-Date-Epoch: %s\nDebian: %s\nEnvironment: TZ=%s LC_ALL=%s umask %s\nTools:\n' \
    "$commit" "$SOURCE_DATE_EPOCH" "$(cat /etc/debian_version)" "$TZ" "$LC_ALL" "$(umask)"
  dpkg-query -W -f=' ${Package} (= ${Version})\n' "${QV_BUILD_TOOLS[@]}"
}

write_buildinfo >"$OUT/BUILDINFO"
# Every file here, whichever packages there are.
(cd "$OUT" && sha256sum -- * >SHA256SUMS)
ls -l "$OUT"
