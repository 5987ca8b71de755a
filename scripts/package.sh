#!/usr/bin/env bash
# Builds every package into build/packages/, installing what is missing (as root, Debian 12):
#   quorvane-<version>-setup.exe   the Windows setup program (32-bit, NSIS)
#   quorvane-<version>-win32.zip   quorvane.scr, README.txt and LICENSE.txt, to install by hand
#   quorvane_<version>_amd64.deb   the X11 program for XScreenSaver, with its manual page
#   quorvane-<version>-web.zip     the web page (web/), its README.txt and LICENSE.txt
#   SHA256SUMS, BUILDINFO          the checksums (for sha256sum -c) and what a rebuild must match
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

# Each package by its exact name: a build folder may still hold older versions' files.
VERSION=$(sed -n 's/^project(quorvane VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)

# cpack works in a temp dir of its own; only the package itself lands in $OUT.
cpack_into_out() {  # cpack_into_out PRESET FILE
  qv_temp_dir
  cpack --config "build/$1/CPackConfig.cmake" -B "$QV_TEMP_DIR" >/dev/null
  cp "$QV_TEMP_DIR/$2" "$OUT"/
}

# The web zip holds one folder, its members sorted, each with the time SOURCE_DATE_EPOCH
# gives, fixed modes and no extra fields (-X).
web_zip() {
  local name="quorvane-$VERSION-web"
  qv_temp_dir
  mkdir "$QV_TEMP_DIR/$name"
  cp "$QV_WEB_SITE"/* build/native/web/README.txt "$QV_TEMP_DIR/$name/"
  cp LICENSE "$QV_TEMP_DIR/$name/LICENSE.txt"
  chmod 644 "$QV_TEMP_DIR/$name"/*
  touch -d "@$SOURCE_DATE_EPOCH" "$QV_TEMP_DIR/$name"/*
  (cd "$QV_TEMP_DIR" && find "$name" -type f | sort | zip -X -D -q "$OUT/$name.zip" -@)
}

qv_install_deps
rm -rf "$OUT"
mkdir -p "$OUT"

cmake --preset windows >/dev/null
cmake --build --preset windows --target quorvane setup
cp "build/windows/quorvane-$VERSION-setup.exe" "$OUT"/
cpack_into_out windows "quorvane-$VERSION-win32.zip"
# CPack's zip records the builder's user and group ids and lists the members in the order
# they were staged: zero the ids, sort the members, settle their modes and times.
strip-nondeterminism -T "$SOURCE_DATE_EPOCH" "$OUT/quorvane-$VERSION-win32.zip"

cmake --preset native >/dev/null
cmake --build --preset native --target quorvane
cpack_into_out native "quorvane_${VERSION}_$(dpkg --print-architecture).deb"
qv_build_web
web_zip

# The Debian packages whose versions shaped the bytes. The Windows headers come from
# mingw-w64-common and mingw-w64-i686-dev; the setup program's stubs, plugins and pages
# from nsis-common. The Windows zip and the .deb are written by CPack (cmake-data holds its
# generators) with libarchive and zlib; the zip is normalised by strip-nondeterminism. The
# .deb's Depends comes from dpkg-shlibdeps (dpkg-dev), which reads the symbols files of
# libc6 and libx11-6 (the versions of their -dev packages). The web zip is written by zip,
# around a module that clang (its code generator is libllvm14) compiles against wasi-libc.
QV_BUILD_TOOLS=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev mingw-w64-common
  g++-12 libstdc++-12-dev binutils binutils-x86-64-linux-gnu libc6-dev libx11-dev
  cmake cmake-data libarchive13 zlib1g nsis nsis-common dpkg dpkg-dev gzip
  strip-nondeterminism libarchive-zip-perl
  zip clang-14 libllvm14 lld-14 wasi-libc libc++-14-dev-wasm32 libclang-rt-14-dev-wasm32
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
