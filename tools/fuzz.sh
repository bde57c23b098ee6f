#!/usr/bin/env bash
# Builds the fuzz targets (clang 14, libFuzzer, AddressSanitizer +
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each one for a bounded
# time against a copy of its seed corpus in fuzz/corpus/, which stays as it
# is. Fails when any target finds a crash, a sanitizer report, a broken
# property, a time-out or a memory blow-up; the reproducer is kept and named.
#
#   bash tools/fuzz.sh                    every target, $KORVANI_FUZZ_SECONDS (20) s each
#   bash tools/fuzz.sh --long 600         every target, 600 s each
#   bash tools/fuzz.sh [--long N] url     only the named targets
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${KORVANI_FUZZ_SECONDS:-20}
if [ "${1:-}" = "--long" ]; then
  seconds=${2:?"--long needs a number of seconds"}
  shift 2
fi
case "$seconds" in '' | *[!0-9]*) echo "not a number of seconds: $seconds" >&2; exit 2 ;; esac

packages=(clang-14 libclang-rt-14-dev cmake ninja-build pkg-config
  libcurl4-openssl-dev libpcre2-dev zlib1g-dev)
bash tools/install-missing.sh "${packages[@]}"

build_dir=${KORVANI_FUZZ_BUILD_DIR:-build-fuzz}
[ -f "$build_dir/CMakeCache.txt" ] || echo "configuring $build_dir/ (the first build takes a few minutes) ..."
# Configured every time, so that a directory set up otherwise still gets the
# fuzz settings; cheap once they are in place.
log=$(mktemp)
if ! cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DKORVANI_FUZZ=ON \
    -DKORVANI_BUILD_GUI=OFF -DKORVANI_BUILD_TESTS=OFF -DKORVANI_BUILD_BENCH=OFF >"$log" 2>&1 ||
  ! cmake --build "$build_dir" -j"$(nproc)" --target korvani_fuzz >>"$log" 2>&1; then
  cat "$log"
  rm -f "$log"
  echo "fuzz build failed" >&2
  exit 1
fi
rm -f "$log"

targets=("$@")
if ((${#targets[@]} == 0)); then
  for src in fuzz/*_fuzz.cpp; do
    name=$(basename "$src" _fuzz.cpp)
    targets+=("$name")
  done
fi

# Each run works on its own copy of the seeds; findings land beside it.
runs=$build_dir/fuzz-runs
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for name in "${targets[@]}"; do
  exe=$build_dir/fuzz/korvani_fuzz_$name
  if [ ! -x "$exe" ]; then
    echo "no fuzz target named $name" >&2
    failed+=("$name")
    continue
  fi
  work=$runs/$name
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings"
  if ! compgen -G "fuzz/corpus/$name/*" >/dev/null; then
    echo "fuzz $name: no seed corpus in fuzz/corpus/$name/" >&2
    failed+=("$name")
    continue
  fi
  cp fuzz/corpus/"$name"/* "$work/corpus/"
  # The page markers spare the fuzzer from guessing code-page bytes.
  dict=()
  case "$name" in
    regex | items | catalog_read) dict=(-dict=fuzz/catalog.dict) ;;
    version) dict=(-dict=fuzz/version.dict) ;;
  esac
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/findings/" "${dict[@]}" "$work/corpus" >"$work/output.txt" 2>&1 &&
      [ -z "$(ls -A "$work/findings")" ]; then
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/output.txt")
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/output.txt")
    echo "fuzz $name: ${seconds}s, $units runs, $rate/s, nothing found"
  else
    echo "fuzz $name: FOUND something; output $work/output.txt" >&2
    grep -E 'property broken|ERROR:|SUMMARY:' "$work/output.txt" | head -5 >&2 || true
    for f in "$work"/findings/*; do [ -e "$f" ] && echo "  reproduce: $exe $f" >&2; done
    failed+=("$name")
  fi
done
if ((${#failed[@]})); then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
