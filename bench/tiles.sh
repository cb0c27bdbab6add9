#!/usr/bin/env bash
# Tiled passes: time, peak memory and halo overhead against cloud size and
# memory limit or tile size (one process per run), the effect of the
# space-filling-curve order on the pass's stages, and the same file on a
# two-worker Dask LocalCluster. Results in bench/results/tiles*.csv.
#
#   bash bench/tiles.sh [build folder] [largest size]     (default: build, 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
largest=${2:-1000000}
bin="$build/bench"
[ -x "$bin/ici3d_bench_tiles" ] || bin="$build/bin"
out=bench/results
mkdir -p "$out"
runs="$out/tiles.csv"
"$bin/ici3d_bench_tiles" --header --points 0 >"$runs"
for n in 100000 1000000 10000000; do
  [ "$n" -le "$largest" ] || continue
  "$bin/ici3d_bench_tiles" --points "$n" >>"$runs"                      # default limit
  for limit in 512MiB 2GiB; do
    "$bin/ici3d_bench_tiles" --points "$n" --memory-limit "$limit" >>"$runs" || true
  done
done
for tile in 0.2 0.4 0.8; do
  "$bin/ici3d_bench_tiles" --points 1000000 --tile-size "$tile" >>"$runs"
done
"$bin/ici3d_bench_tiles" --order --header --points 1000000 >"$out/tiles_order.csv"
if python3 -c "import distributed" 2>/dev/null; then
  PYTHONPATH="$build/python:${PYTHONPATH:-}" python3 bench/tiles/dask_bench.py \
    --cli "$build/bin/ici3d" --points 1000000 --header >"$out/tiles_dask.csv"
fi
cat "$runs" "$out/tiles_order.csv"
