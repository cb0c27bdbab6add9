#!/usr/bin/env bash
# Sets up what a fresh Debian machine lacks, builds everything and runs every
# test: the plain build, then the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

jobs=$(nproc)

echo "== plain build =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DICI3D_BUILD_PYTHON=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build (address, undefined) =="
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DICI3D_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
