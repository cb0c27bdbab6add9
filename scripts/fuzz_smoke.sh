#!/usr/bin/env bash
# CI smoke run of the fuzz harnesses: builds them (folder build-fuzz, clang)
# and runs each over its committed corpus (fuzz/corpus/TARGET, which also
# holds the inputs of past findings) plus a fixed number of mutations with a
# fixed seed, about a minute in all. Exits non-zero when any harness crashes,
# hangs, runs out of memory or reports a failed check.
#
# Usage: scripts/fuzz_smoke.sh [TARGET...]    (default: every harness)
set -euo pipefail
cd "$(dirname "$0")/.."
source fuzz/fuzz_common.sh

targets=("$@")
((${#targets[@]})) || targets=("${FUZZ_TARGETS[@]}")

# Mutations per harness, for a few seconds each on one core.
declare -A runs=(
  [read_ply]=60000 [read_xyz]=30000 [read_pcd]=15000 [read_las]=100000 [eigeng]=50000
  [find_index_square4]=500000 [kernel_estimate]=500000 [entry]=8000
  [main_loop]=10000 [denoise]=150
)

build_fuzzers "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=()
for target in "${targets[@]}"; do
  echo "== fuzz smoke: $target (${runs[$target]:-10000} runs)"
  mkdir -p "$scratch/$target"
  # New inputs go to the scratch folder: the committed corpus stays as it is.
  # shellcheck disable=SC2046
  if ! build-fuzz/fuzz_"$target" $(fuzz_options "$target" .) -seed=1 -runs="${runs[$target]:-10000}" \
      -artifact_prefix="$scratch/$target/" "$scratch/$target" "fuzz/corpus/$target" \
      >"$scratch/$target.log" 2>&1; then
    tail -n 40 "$scratch/$target.log"
    failed+=("$target")
  else
    grep -E '^Done|^#[0-9]+ *DONE' "$scratch/$target.log" | tail -n 1
  fi
done

if ((${#failed[@]})); then
  echo "fuzz smoke run FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz smoke run passed"
