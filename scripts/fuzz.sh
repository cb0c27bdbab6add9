#!/usr/bin/env bash
# A long libFuzzer run of one harness.
#
# Usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
#   TARGET: read_ply read_xyz read_pcd read_las eigeng find_index_square4
#           kernel_estimate entry main_loop denoise
#   e.g. scripts/fuzz.sh read_pcd 1800 -jobs=2 -workers=2
#
# Builds the harnesses (folder build-fuzz, clang), starts from the committed
# seeds in fuzz/corpus/TARGET and keeps what it finds in fuzz/out/TARGET/
# (ignored by git): the grown corpus in corpus/, crashing inputs as
# crash-*, timeout-*, oom-*. A found input is replayed with
#   build-fuzz/fuzz_TARGET fuzz/out/TARGET/crash-...
# Fixed findings become regression tests in tests/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."

if (($# < 2)); then
  sed -n '2,15p' "$0" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

source fuzz/fuzz_common.sh
build_fuzzers "fuzz_$target"

out=fuzz/out/$target
mkdir -p "$out/corpus"
# Workers print to fuzz-N.log files of the current folder: keep them in out.
cd "$out"
root=../../..
# shellcheck disable=SC2046
exec "$root/build-fuzz/fuzz_$target" $(fuzz_options "$target" "$root") \
  -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=./ \
  "$@" corpus "$root/fuzz/corpus/$target"
