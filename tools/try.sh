#!/usr/bin/env bash
# Installs, builds and starts the demo shop and the tool against it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build_dir=${KORVANI_BUILD_DIR:-build}
"$build_dir/tools/demo-shop/korvani-demo-shop" &
shop=$!
trap 'kill $shop 2>/dev/null || true' EXIT
sleep 1
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
if [ -x "$build_dir/src/korvani-dock" ]; then
  "$build_dir/src/korvani-dock"
else
  wait $shop
fi
