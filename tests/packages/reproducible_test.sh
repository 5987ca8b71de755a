#!/usr/bin/env bash
# Builds the packages twice, as two people would: each from a fresh clone of the last commit,
# in folders of different names, with another umask, time zone and locale (and, run as root,
# by another user), the second started on a later second than the first ended. Two cases,
# each printed as "PASS name" or "FAIL name":
#   same-bytes  every file of the two build/packages folders has the same SHA-256; each one
#               that differs is named, with the start of diffoscope's account of it
#   checksums   SHA256SUMS names every other file of the folder, and sha256sum -c accepts it
# A build that fails prints the end of its log and fails the script without a case.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
qv_install_cleanup_trap
export LC_ALL=C
qv_temp_dir
WORK=$QV_TEMP_DIR

# build FOLDER UMASK TZ LOCALE [RUNNER...]: a fresh clone, packaged by RUNNER scripts/package.sh
build() {
  local folder="$WORK/$1" mask=$2 tz=$3 locale=$4
  shift 4
  if ! (umask "$mask" && git clone -q "$QV_ROOT" "$folder" && cd "$folder" &&
    { [ $# -eq 0 ] || chown -R nobody:nogroup .; } &&
    TZ=$tz LANG=$locale LC_ALL=$locale "$@" scripts/package.sh) >"$folder.log" 2>&1; then
    tail -n 30 "$folder.log"
    exit 1
  fi
}

# Where this script may (as root), another user makes the second build.
other_user=()
if [ "$(id -u)" -eq 0 ]; then
  other_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chmod 755 "$WORK"
fi

later_than() { [ "$(date +%s)" -gt "$1" ]; }

build first 022 UTC0 C
qv_poll 5 later_than "$(date +%s)"
build "second build, elsewhere" 077 NZT-13 C.UTF-8 "${other_user[@]}"
A="$WORK/first/build/packages"
B="$WORK/second build, elsewhere/build/packages"

# diff exits 1 when it finds a difference: that is the case to report, not an error.
differing=$( (diff <(cd "$A" && sha256sum -- *) <(cd "$B" && sha256sum -- *) || true) |
  sed -n 's/^[<>] [0-9a-f]*  //p' | sort -u)
for file in $differing; do
  echo "  $file differs:"
  timeout 120 diffoscope --text - "$A/$file" "$B/$file" 2>&1 | head -n 40 || true
done
[ -z "$differing" ] && echo "PASS same-bytes" || echo "FAIL same-bytes"

cd "$A"
if [ "$(ls | grep -vx SHA256SUMS)" = "$(cut -c 67- SHA256SUMS)" ] && sha256sum -c --quiet SHA256SUMS; then
  echo "PASS checksums"
else
  echo "FAIL checksums"
fi
