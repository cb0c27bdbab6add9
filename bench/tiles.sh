#!/usr/bin/env bash
# Tiled passes: time, peak memory and halo overhead against cloud size and
# memory limit or tile size (one process per run), the effect of the
# space-filling-curve order on the pass's stages, and the same file on a
# two-worker Dask LocalCluster. Results in bench/results/tiles*.csv.
#
#   bash bench/tiles.sh [build folder] [largest size]     (default: build, 1000000)
#
# The build needs -DICI3D_BUILD_BENCH=ON (and -DICI3D_BUILD_PYTHON=ON for Dask).
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
# One piece (a limit above what the run needs), the default limit (a quarter
# of the machine's memory), 2 GiB and 512 MiB; a limit too small for the
# cloud's own arrays gives no record.
for n in 100000 1000000 10000000; do
  [ "$n" -le "$largest" ] || continue
  limits="16GiB 0 2GiB 512MiB"
  [ "$n" -lt 10000000 ] || limits="2GiB"
  for limit in $limits; do
    if [ "$limit" = 0 ]; then
      "$bin/ici3d_bench_tiles" --points "$n" >>"$runs"
    else
      "$bin/ici3d_bench_tiles" --points "$n" --memory-limit "$limit" >>"$runs" || true
    fi
  done
done
for tile in 0.2 0.8; do
  "$bin/ici3d_bench_tiles" --points 1000000 --memory-limit 16GiB --tile-size "$tile" >>"$runs"
done
"$bin/ici3d_bench_tiles" --order --header --points 1000000 >"$out/tiles_order.csv"
if /usr/bin/python3 -c "import distributed" 2>/dev/null; then
  PYTHONPATH="$build/python:${PYTHONPATH:-}" /usr/bin/python3 bench/tiles/dask_bench.py \
    --cli "$build/bin/ici3d" --points 1000000 --header >"$out/tiles_dask.csv"
  PYTHONPATH="$build/python:${PYTHONPATH:-}" /usr/bin/python3 bench/tiles/dask_bench.py \
    --cli "$build/bin/ici3d" --points 1000000 --tile-size 0.5 >>"$out/tiles_dask.csv"
fi
cat "$runs" "$out/tiles_order.csv"
