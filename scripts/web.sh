#!/usr/bin/env bash
# Builds the page (web/, the model as WebAssembly) and serves it on the loopback address
# until Ctrl-C, the module as application/wasm and the app manifest as
# application/manifest+json (scripts/browser.py):
#
#   scripts/web.sh          on http://127.0.0.1:8000/
#   scripts/web.sh PORT     on that port
#
# Then open http://127.0.0.1:PORT/?speed=1&seed=7, for instance. Installs what the build
# needs when it is missing (as root, Debian 12).
set -euo pipefail

source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/scripts/lib.sh"
cd "$QV_ROOT"
PORT=${1:-8000}

qv_install_deps
qv_build_web
echo "Quorvane: http://127.0.0.1:$PORT/  (Ctrl-C stops)"
exec /usr/bin/python3 scripts/browser.py serve "$QV_WEB_SITE" "$PORT"
