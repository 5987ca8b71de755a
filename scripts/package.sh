#!/usr/bin/env bash
# Builds every package into build/packages/, installing what is missing (as root, Debian 12):
#   quorvane-<version>-setup.exe   the Windows setup program (32-bit, NSIS)
#   quorvane-<version>-win32.zip   quorvane.scr, README.txt and LICENSE.txt, to install by hand
#   quorvane_<version>_amd64.deb   the X11 program for XScreenSaver, with its manual page
#   quorvane-<version>-web.zip     the web page (web/), its README.txt and LICENSE.txt
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
qv_install_cleanup_trap
cd "$QV_ROOT"

OUT="$QV_ROOT/build/packages"

# Each package by its exact name: a build folder may still hold older versions' files.
VERSION=$(sed -n 's/^project(quorvane VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)

# cpack works in a temp dir of its own; only the package itself lands in $OUT.
cpack_into_out() {  # cpack_into_out PRESET FILE
  qv_temp_dir
  cpack --config "build/$1/CPackConfig.cmake" -B "$QV_TEMP_DIR" >/dev/null
  cp "$QV_TEMP_DIR/$2" "$OUT"/
}

# The web zip holds one folder, its members sorted, each with the time SOURCE_DATE_EPOCH
# gives (else the last commit's), fixed modes and no extra fields (-X), so that one commit
# gives the same bytes wherever it is built.
web_zip() {
  local epoch name="quorvane-$VERSION-web"
  epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
  qv_temp_dir
  mkdir "$QV_TEMP_DIR/$name"
  cp "$QV_WEB_SITE"/* build/native/web/README.txt "$QV_TEMP_DIR/$name/"
  cp LICENSE "$QV_TEMP_DIR/$name/LICENSE.txt"
  chmod 644 "$QV_TEMP_DIR/$name"/*
  TZ=UTC touch -d "@$epoch" "$QV_TEMP_DIR/$name"/*
  (cd "$QV_TEMP_DIR" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q "$OUT/$name.zip" -@)
}

qv_install_deps
rm -rf "$OUT"
mkdir -p "$OUT"

cmake --preset windows >/dev/null
cmake --build --preset windows --target quorvane setup
cp "build/windows/quorvane-$VERSION-setup.exe" "$OUT"/
cpack_into_out windows "quorvane-$VERSION-win32.zip"

cmake --preset native >/dev/null
cmake --build --preset native --target quorvane
cpack_into_out native "quorvane_${VERSION}_$(dpkg --print-architecture).deb"
qv_build_web
web_zip

ls -l "$OUT"
