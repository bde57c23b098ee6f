#!/usr/bin/env bash
# Regenerates the README's pictures: walks the demo against a demo shop on
# 127.0.0.1:18080/18081 under a private Xvfb display and grabs every window.
#   bash tools/screenshots.sh [output-dir]     (default docs/screenshots)
# QT_SCALE_FACTOR=2 bash tools/screenshots.sh /tmp/hidpi   looks at HiDPI.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${KORVANI_BUILD_DIR:-build}
out=$(realpath -m "${1:-docs/screenshots}")
display=${KORVANI_SCREENSHOT_DISPLAY:-:47}
scale=${QT_SCALE_FACTOR:-1}

command -v Xvfb >/dev/null || { echo "screenshots.sh: Xvfb is missing (bash tools/setup.sh installs it)." >&2; exit 1; }
[ -f "$build_dir/CMakeCache.txt" ] || { echo "screenshots.sh: no build in $build_dir; run bash tools/setup.sh first." >&2; exit 1; }
if ! log=$(cmake --build "$build_dir" -j2 --target screenshots_qttest 2>&1); then
  echo "$log" >&2
  echo "screenshots.sh: the driver did not build (a build without the windows?)." >&2
  exit 1
fi
driver="$build_dir/tests/screenshots_qttest"

if [ -e "/tmp/.X${display#:}-lock" ]; then
  echo "screenshots.sh: display $display is taken; set KORVANI_SCREENSHOT_DISPLAY to a free one." >&2
  exit 1
fi
# A screen large enough for the biggest window at the chosen scale.
screen=$(awk -v s="$scale" 'BEGIN { f = int(s) + (s > int(s)); if (f < 1) f = 1; printf "%dx%dx24", 1000 * f, 800 * f }')
Xvfb "$display" -screen 0 "$screen" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
# The grabs go into a fresh folder first: a walk that fails half-way must
# not leave the README with some of its pictures gone.
fresh=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$fresh"' EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  if ! kill -0 "$xvfb" 2>/dev/null; then
    echo "screenshots.sh: Xvfb could not start on $display; set KORVANI_SCREENSHOT_DISPLAY to a free one." >&2
    exit 1
  fi
  sleep 0.1
done

[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
DISPLAY=$display QT_QPA_PLATFORM=xcb KORVANI_SCREENSHOT_DIR=$fresh \
  KORVANI_DEMO_SHOP_DATA="$PWD/tools/demo-shop/data" \
  QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking --disable-component-update" \
  QT_LOGGING_RULES=${QT_LOGGING_RULES:-qt.webenginecontext.info=false} \
  "$driver" -silent

# The driver only warns when a window did not come up; a picture the README
# shows and the walk did not make fails here.
missing=()
for name in $(grep -o 'docs/screenshots/[0-9][^)]*\.png' README.md | sed 's|.*/||' | sort -u); do
  [ -s "$fresh/$name" ] || missing+=("$name")
done
if ((${#missing[@]})); then
  echo "screenshots.sh: the walk made no ${missing[*]}; $out is left as it was." >&2
  exit 1
fi
mkdir -p "$out"
rm -f "$out"/[0-9]-*.png
mv "$fresh"/*.png "$out"/
ls -l "$out"
