#!/usr/bin/env bash
# The tool end to end on bundled data: installs what is missing, builds the
# tool, makes a noisy scan of a machined part (sharp edges, flat faces, a
# bore), denoises it with the default settings, measures the distance to the
# true surface before and after, and draws a before/after picture.
# Everything it writes goes to demo-output/.
#
# Usage: scripts/demo.sh            (ICI3D_DEMO_BUILD_DIR picks the build folder)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${ICI3D_DEMO_BUILD_DIR:-build-demo}
out=demo-output
jobs=$(nproc)

echo "== installing missing packages =="
bash scripts/deps.sh

echo "== building the ici3d tool in $build =="
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DICI3D_BUILD_PYTHON=OFF --log-level=WARNING
cmake --build "$build" -j"$jobs" --target ici3d_cli
ici3d="$build/bin/ici3d"
"$ici3d" --version

mkdir -p "$out"
noisy=$out/part-noisy.ply
clean=$out/part-clean.ply
denoised=$out/part-denoised.ply

echo "== a noisy scan of a machined part: 40000 points, noise 0.005 (seeded) =="
"$ici3d" synth part "$noisy" --points 40000 --noise 0.005 --seed 7 --clean "$clean" --force
"$ici3d" info "$noisy"

echo "== denoising with the default settings =="
"$ici3d" denoise "$noisy" "$denoised" --extra displacement,sigma --report "$out/report.json" --force

echo "== distance to the true surface =="
"$ici3d" compare --shape part "$noisy" "$denoised" | tee "$out/distances.txt"
# Rows 3 and 4 of the table: the noisy and the denoised cloud; column 3: the mean.
before=$(awk 'NR == 3 {print $3}' "$out/distances.txt")
after=$(awk 'NR == 4 {print $3}' "$out/distances.txt")

echo "== pictures =="
"$ici3d" render "$noisy" "$denoised" -o "$out/before-after.png" --shape part \
  --labels "noisy: mean distance $before,denoised: mean distance $after" --force
"$ici3d" render "$noisy" "$denoised" -o "$out/before-after-shaded.png" \
  --labels "noisy,denoised" --force

echo
echo "mean distance to the true surface: $before before, $after after denoising"
echo "outputs in $out/: $(cd "$out" && ls | tr '\n' ' ')"
