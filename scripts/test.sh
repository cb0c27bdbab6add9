#!/usr/bin/env bash
# Sets up what a fresh Debian machine lacks, builds everything and runs every
# test:
#   1. the plain build (library, host pipeline, tool, Python package) and
#      all its tests;
#   2. the same C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the library's tests under ThreadSanitizer (the parallel phases);
#   4. a short smoke run of every fuzz harness over its corpus.
# Usage: scripts/test.sh [--no-deps] [plain|asan|tsan|fuzz ...]   (default: all four)
#   --no-deps  skip scripts/deps.sh (for machines where the packages it
#              lists were installed by other means)
set -euo pipefail
cd "$(dirname "$0")/.."

deps=1
stages=()
for arg in "$@"; do
  case "$arg" in
    --no-deps) deps=0 ;;
    *) stages+=("$arg") ;;
  esac
done
((${#stages[@]})) || stages=(plain asan tsan fuzz)
jobs=$(nproc)

((deps == 0)) || bash scripts/deps.sh

for stage in "${stages[@]}"; do
  case "$stage" in
    plain)
      echo "== plain build =="
      cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DICI3D_BUILD_PYTHON=ON
      cmake --build build -j"$jobs"
      ctest --test-dir build --output-on-failure -j"$jobs"
      ;;
    asan)
      echo "== sanitizer build (address, undefined) =="
      cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DICI3D_BUILD_PYTHON=OFF \
        -DICI3D_SANITIZE=address,undefined
      cmake --build build-asan -j"$jobs"
      # allocator_may_return_null: the tests of failed allocations need
      # malloc to return null for impossible sizes instead of aborting.
      ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure -j"$jobs"
      ;;
    tsan)
      echo "== thread sanitizer build =="
      bash scripts/tsan.sh
      ;;
    fuzz)
      echo "== fuzz smoke run =="
      bash scripts/fuzz_smoke.sh
      ;;
    *)
      echo "unknown stage '$stage' (expected plain, asan, tsan or fuzz)" >&2
      exit 2
      ;;
  esac
done
