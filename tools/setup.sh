#!/usr/bin/env bash
# Installs what the build needs (Debian 12, as root or with sudo) and builds.
# Quiet and quick when everything is there already.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin qt6-translations-l10n
  libcurl4-openssl-dev libpcre2-dev zlib1g-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-noto-cjk fonts-noto-color-emoji)

bash tools/install-missing.sh "${packages[@]}"

build_dir=${KORVANI_BUILD_DIR:-build}
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  # The only word of a quiet build, so that the first one, which takes
  # minutes, does not look hung.
  echo "building in $build_dir/ (the first build takes several minutes) ..."
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi

# Quiet when all is well; the whole build output when something fails.
build() {
  local log
  log=$(mktemp)
  if ! cmake --build "$build_dir" -j"$(nproc)" "$@" >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    echo "build failed" >&2
    return 1
  fi
  grep -E 'warning:' "$log" || true
  rm -f "$log"
}
build
# The benchmarks are built as well where asked, so that they keep compiling.
if [ "${KORVANI_WITH_BENCH:-0}" = 1 ]; then build --target bench; fi
