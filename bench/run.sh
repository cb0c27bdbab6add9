#!/usr/bin/env bash
# Builds and runs every benchmark on this machine, side by side in one run:
# micro-benchmarks, throughput of one pass, and the quality comparison with
# CGAL and PCL. Writes CSV/JSON results, markdown tables and PNG charts.
#
#   bench/run.sh            full run (about 2 hours on 2 cores); results in bench/results/
#   bench/run.sh --quick    a few minutes; results in build-bench/bench-quick/
#   options: --out DIR, --build DIR
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
out=""
build=build-bench
while (($#)); do
  case "$1" in
    --quick) quick=1 ;;
    --out) out="$2"; shift ;;
    --build) build="$2"; shift ;;
    *) echo "usage: bench/run.sh [--quick] [--out DIR] [--build DIR]" >&2; exit 2 ;;
  esac
  shift
done
if [[ -z "$out" ]]; then
  if ((quick)); then out="$build/bench-quick"; else out=bench/results; fi
fi
mkdir -p "$out"
start=$(date +%s)
jobs=$(nproc)

# Benchmark dependencies only (the project's own come with scripts/deps.sh).
bash scripts/deps.sh libbenchmark-dev libeigen3-dev libcgal-dev libcgal-demo libpcl-dev \
  libtbb-dev gnuplot-nox

echo "== build ($build) =="
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DICI3D_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$jobs" --target ici3d_bench_micro ici3d_bench_throughput ici3d_bench_quality
bin="$build/bench"

meshes_dir="$build/bench-meshes"
mkdir -p "$meshes_dir"
tar -xzf /usr/share/doc/libcgal-dev/data.tar.gz -C "$meshes_dir" --strip-components=2 \
  data/meshes/fandisk.off data/meshes/armadillo.off data/meshes/camel.off \
  data/meshes/cow.off data/meshes/elephant.off

{
  echo "date: $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "cpus: $jobs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs))"
  echo "memory: $(free -g | awk '/Mem:/ {print $2}') GiB"
  echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "mode: $( ((quick)) && echo quick || echo full)"
} | tee "$out/machine.txt"

echo "== micro-benchmarks =="
min_time=0.5
((quick)) && min_time=0.05
"$bin/ici3d_bench_micro" --benchmark_min_time="$min_time" \
  --benchmark_out="$out/micro.json" --benchmark_out_format=json

echo "== throughput =="
# Each size in its own process, so that the peak RSS belongs to that size.
tp="$out/throughput.csv"
"$bin/ici3d_bench_throughput" --header --points 0 >"$tp"
# Points, threads, repetitions (the fastest counts).
if ((quick)); then
  runs=("10000 1 2" "10000 $jobs 2" "100000 $jobs 1")
else
  # 10^6 points once, with all threads.
  runs=("10000 1 3" "10000 $jobs 3" "100000 1 2" "100000 $jobs 2" "1000000 $jobs 1")
fi
for run in "${runs[@]}"; do
  set -- $run
  echo "  $1 points, $2 threads, best of $3"
  "$bin/ici3d_bench_throughput" --points "$1" --threads "$2" --repeat "$3" >>"$tp"
done

echo "== quality =="
# Peers are tuned per size and noise level (full grid on the first size, the
# previous size's best and its grid neighbours after); ici3d runs with its
# defaults and estimates noise and spacing itself.
quality=("$bin/quality/ici3d_bench_quality" --csv "$out/quality.csv" --mesh-dir "$meshes_dir"
  --threads "$jobs")
if ((quick)); then
  quality+=(--meshes fandisk,cube --sigmas 0.01,0.02 --sizes 10000
    --peer jet:k=16 --peer jet:k=32 --peer jet:k=64
    --peer bilateral:k=24,iters=3,sharp=25
    --peer mls:r=0.06 --peer mls:r=0.1)
else
  quality+=(--meshes fandisk,armadillo,camel,cow,elephant,cube,machined
    --sigmas 0.005,0.01,0.02,0.03 --sizes 10000,50000,200000)
  for k in 12 16 24 32 48 64 96 128 192; do quality+=(--peer "jet:k=$k"); done
  for k in 16 24 48 96; do
    for it in 1 3; do quality+=(--peer "bilateral:k=$k,iters=$it,sharp=25"); done
  done
  for r in 0.02 0.03 0.04 0.06 0.08 0.1 0.13 0.16; do quality+=(--peer "mls:r=$r"); done
fi
"${quality[@]}" 2>&1 | tee "$out/quality.log"

echo "== report =="
python3 bench/report.py --quality "$out/quality.csv" --throughput "$tp" --micro "$out/micro.json" \
  --out "$out"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$out/machine.txt"
echo "total: $(($(date +%s) - start)) s" | tee -a "$out/machine.txt"
