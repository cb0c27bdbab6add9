#!/usr/bin/env bash
# The tool end to end on bundled data: installs what is missing, builds the
# tool, makes a noisy scan of a machined part (sharp edges, flat faces, a
# bore), denoises it with the default settings, measures the distance to the
# true surface before and after, and draws a before/after picture.
# Everything it writes goes to demo-output/; the output of each step (the
# package manager's and the compiler's included) goes to demo-output/demo.log,
# and the terminal gets one line per step.
#
# Usage: scripts/demo.sh            (ICI3D_DEMO_BUILD_DIR picks the build folder)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${ICI3D_DEMO_BUILD_DIR:-build-demo}
out=demo-output
jobs=$(nproc)
mkdir -p "$out"
log=$out/demo.log
: >"$log"

# step "what it does" command...: runs the command with its output in the
# log; on failure shows the end of the log and stops.
step() {
  local what=$1
  shift
  printf '%s ... ' "$what"
  echo "== $what" >>"$log"
  if "$@" >>"$log" 2>&1; then
    echo done
  else
    echo FAILED
    tail -n 30 "$log" >&2
    echo "the whole output is in $log" >&2
    exit 1
  fi
}

step "installing missing packages" bash scripts/deps.sh
step "configuring the build in $build" cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_TESTING=OFF -DICI3D_BUILD_PYTHON=OFF --log-level=WARNING
step "building the ici3d tool" cmake --build "$build" -j"$jobs" --target ici3d_cli
ici3d="$build/bin/ici3d"

noisy=$out/part-noisy.ply
clean=$out/part-clean.ply
denoised=$out/part-denoised.ply

step "making a noisy scan of a machined part (40000 points, noise 0.005)" \
  "$ici3d" synth part "$noisy" --points 40000 --noise 0.005 --seed 7 --clean "$clean" --force
step "describing it (ici3d info)" "$ici3d" info "$noisy"
step "denoising with the default settings" \
  "$ici3d" denoise "$noisy" "$denoised" --extra displacement,sigma --report "$out/report.json" --force
step "measuring the distance to the true surface" \
  sh -c '"$0" compare --shape part "$1" "$2" >"$3"' "$ici3d" "$noisy" "$denoised" "$out/distances.txt"
# Rows 3 and 4 of the table: the noisy and the denoised cloud; column 3: the mean.
before=$(awk 'NR == 3 {print $3}' "$out/distances.txt")
after=$(awk 'NR == 4 {print $3}' "$out/distances.txt")
step "drawing the pictures" "$ici3d" render "$noisy" "$denoised" -o "$out/before-after.png" --shape part \
  --labels "noisy: mean distance $before,denoised: mean distance $after" --force
step "drawing the shaded pictures" "$ici3d" render "$noisy" "$denoised" -o "$out/before-after-shaded.png" \
  --labels "noisy,denoised" --force

echo
echo "mean distance to the true surface: $before before, $after after denoising"
echo "outputs in $out/: $(cd "$out" && ls | tr '\n' ' ')"
