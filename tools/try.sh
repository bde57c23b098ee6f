#!/usr/bin/env bash
# Installs, builds and starts the demo shop and the tool against it.
# Closing the tool (or Ctrl+C) stops the shop as well.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build_dir=${KORVANI_BUILD_DIR:-build}

"$build_dir/tools/demo-shop/korvani-demo-shop" &
shop=$!
trap 'kill $shop 2>/dev/null || true' EXIT

# The tool is no use without the shop: wait until both of its ports answer,
# and stop here if it could not start (a port taken by another program, say).
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for _ in $(seq 50); do
  if ! kill -0 "$shop" 2>/dev/null; then
    wait "$shop" || true
    echo "try.sh: the demo shop did not start; is another one still running on ports 18080/18081?" >&2
    exit 1
  fi
  listening 18080 && listening 18081 && break
  sleep 0.1
done

tool="$build_dir/src/korvani-dock"
if [ ! -x "$tool" ]; then
  echo "try.sh: $tool is not built (a build without the windows); the demo shop runs alone until Ctrl+C." >&2
  wait "$shop"
  exit 0
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "try.sh: no desktop display here, so the tool cannot open its windows." >&2
  echo "        The demo shop runs alone until Ctrl+C; run the tool where there is a display." >&2
  wait "$shop"
  exit 0
fi

[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
# The embedded browser's start-up report would push the shop's addresses
# off the screen.
export QT_LOGGING_RULES=${QT_LOGGING_RULES:-qt.webenginecontext.info=false}
"$tool"
