#!/usr/bin/env bash
# Installs, builds and runs every test. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# The benchmarks are built too, so that they keep compiling; they run by hand.
KORVANI_WITH_BENCH=1 bash tools/setup.sh
build_dir=${KORVANI_BUILD_DIR:-build}
# The embedded browser runs as root here: it needs its sandbox switched off.
export QTWEBENGINE_DISABLE_SANDBOX=1
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" "$@"
