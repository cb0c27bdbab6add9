#!/usr/bin/env bash
# Developer check, not part of CI: an independent LAS reader (the npm package
# @loaders.gl/las, installed into a scratch folder) reads a hand-made LAS 1.2
# file and the file `ici3d denoise` writes from it; its values must match
# what ici3d reads, and the denoised file must keep every non-position byte.
#
# Usage: scripts/dev/las_check_npm.sh [BUILD_DIR]   (default: build; needs
# the tool and the Python module built there, node and npm)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$scratch" && npm init -y >/dev/null && npm install --silent --no-audit --no-fund \
  @loaders.gl/core@4 @loaders.gl/las@4 >/dev/null)
/usr/bin/python3 scripts/dev/las_make_sample.py "$scratch/in.las" 5000
"$build/bin/ici3d" denoise "$scratch/in.las" "$scratch/out.las" -q
for f in in out; do
  NODE_PATH="$scratch/node_modules" node scripts/dev/las_read_npm.mjs "$scratch/$f.las" >"$scratch/$f.json"
done
PYTHONPATH="$build/python" /usr/bin/python3 scripts/dev/las_compare.py "$scratch/in.las" "$scratch/out.las" \
  "$scratch/in.json" "$scratch/out.json"
