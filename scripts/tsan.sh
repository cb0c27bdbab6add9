#!/usr/bin/env bash
# Builds the core library and its tests with ThreadSanitizer and runs them.
#
# Usage: scripts/tsan.sh [ctest arguments...]    (build folder: build-tsan)
#
# clang with LLVM's OpenMP runtime (libomp-dev), not gcc: libgomp is not built
# with ThreadSanitizer, so its barriers look like races. libomp is loaded with
# its ThreadSanitizer tool (libarcher), which tells the sanitizer about
# OpenMP's own synchronisation; what remains to report are races in our code.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v clang++ >/dev/null || { echo "tsan.sh: clang++ is missing (apt-get install clang)" >&2; exit 1; }
# libarcher.so sits beside clang's own libraries (Debian: /usr/lib/llvm-N/lib).
archer=$(readlink -f "$(dirname "$(readlink -f "$(command -v clang++)")")/../lib/libarcher.so" || true)
if [[ -z "$archer" || ! -e "$archer" ]]; then
  echo "tsan.sh: libarcher.so not found (apt-get install libomp-dev)" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S . -B build-tsan \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DICI3D_SANITIZE=thread \
  -DICI3D_BUILD_HOST=OFF
cmake --build build-tsan -j"$(nproc)"

# Several threads even on a one-core machine, so that the parallel phases
# really run in parallel.
export OMP_NUM_THREADS=${OMP_NUM_THREADS:-4}
export OMP_TOOL_LIBRARIES="$archer"
# ignore_noninstrumented_modules: accesses inside libomp itself (not built
# with the sanitizer) are not checked; libarcher reports its synchronisation.
# allocator_may_return_null: the tests of failed allocations need malloc to
# return null for impossible sizes rather than abort.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 \
allocator_may_return_null=1 suppressions=$PWD/scripts/tsan.supp ${TSAN_OPTIONS:-}"
# api.install_and_consume builds an uninstrumented consumer against the
# installed library, which cannot link a sanitized one.
ctest --test-dir build-tsan --output-on-failure -j"$(nproc)" \
  -E '^api\.install_and_consume$' "$@"
