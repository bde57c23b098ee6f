#!/usr/bin/env bash
# Installs, builds and runs every test. Exits non-zero when any stage fails:
#   1. the whole suite (ctest) in build/
#   2. the core and end-to-end tests under AddressSanitizer + UBSan, the
#      threaded ones under ThreadSanitizer (tools/sanitize.sh)
#   3. every fuzz target for a bounded time (tools/fuzz.sh)
#   4. the Debian package: built, validated, installed, started as a normal
#      user, removed (tools/package-test.sh; needs root)
# Extra arguments go to ctest. KORVANI_TEST_STAGES="suite sanitize fuzz
# package" picks stages (all by default).
set -euo pipefail
cd "$(dirname "$0")/.."
stages=${KORVANI_TEST_STAGES:-suite sanitize fuzz package}
wants() { [[ " $stages " == *" $1 "* ]]; }
started=$SECONDS
stage_done() { echo "== $1 passed ($((SECONDS - started)) s so far)"; }

# The benchmarks are built too, so that they keep compiling; they run by hand.
KORVANI_WITH_BENCH=1 bash tools/setup.sh
build_dir=${KORVANI_BUILD_DIR:-build}
# The embedded browser runs as root here: it needs its sandbox switched off.
export QTWEBENGINE_DISABLE_SANDBOX=1

if wants suite; then
  ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" "$@"
  stage_done "test suite"
fi
if wants sanitize; then
  bash tools/sanitize.sh
  stage_done "sanitizer builds"
fi
if wants fuzz; then
  bash tools/fuzz.sh
  stage_done "fuzzing"
fi
if wants package; then
  if [ "$(id -u)" -eq 0 ]; then
    KORVANI_BUILD_DIR=$build_dir bash tools/package-test.sh
    stage_done "package check"
  elif [ -n "${CI:-}" ]; then
    echo "the package check installs a package and needs root" >&2
    exit 1
  else
    echo "== package check not run: it installs a package and needs root (sudo bash tools/package-test.sh)"
  fi
fi
