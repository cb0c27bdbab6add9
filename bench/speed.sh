#!/usr/bin/env bash
# Speed against the peers on one large cloud: a sphere of radius 1 with
# Gaussian noise. ici3d denoises it file to file with its defaults (timed as
# a whole, reading and writing included); each peer setting runs on the
# points in memory (its reading and writing not counted). Everything runs in
# this one script, on the same machine, one after the other, and every
# output is measured against the exact sphere with `ici3d compare`. A peer's
# tuned setting is its one closest to the surface.
#
#   bash bench/speed.sh [build folder] [points] [noise] [peer setting ...]
#
# Defaults: build, 1000000 points, noise 0.01 (1 % of the radius), and the
# settings below. Needs -DICI3D_BUILD_BENCH=ON with CGAL and PCL found.
# Results: bench/results/speed.csv (one record per run) and speed_ici3d.json
# (ici3d's report: estimates, chosen windows, time of each stage).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
points=${2:-1000000}
noise=${3:-0.01}
shift $(($# < 3 ? $# : 3))
peers=("$@")
[ ${#peers[@]} -gt 0 ] || peers=(mls:r=0.02 mls:r=0.03 mls:r=0.05 mls:r=0.08 jet:k=32 jet:k=64 jet:k=128 jet:k=256)
out=bench/results
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
threads=$(nproc)

"$build/bin/ici3d" synth sphere "$work/in.ply" --points "$points" --noise "$noise" --seed 1 --no-clean
/usr/bin/time -f "%e,%M" -o "$work/time.txt" \
  "$build/bin/ici3d" denoise "$work/in.ply" "$work/ici3d.ply" --force --report "$out/speed_ici3d.json"
args=()
for p in "${peers[@]}"; do args+=(--peer "$p"); done
"$build/bench/quality/ici3d_bench_speed" "$work/in.ply" "$work" "${args[@]}" --threads "$threads" \
  >"$work/peers.csv"

/usr/bin/python3 - "$work" "$build/bin/ici3d" "$threads" "$out/speed.csv" <<'PY'
import csv, json, subprocess, sys
work, ici3d, threads, dest = sys.argv[1:]
def distances(path):
    run = subprocess.run([ici3d, "compare", "--shape", "sphere", "--json", path],
                         check=True, capture_output=True, text=True)
    return json.loads(run.stdout)["clouds"][0]
rows = []
def add(method, setting, seconds, peak, path):
    d = distances(path)
    rows.append([method, setting, threads, f"{seconds:.2f}", f"{peak:.0f}",
                 f"{d['mean_distance']:.6g}", f"{d['rms_distance']:.6g}", d["points"]])
add("noisy input", "", 0, 0, f"{work}/in.ply")
seconds, kbytes = open(f"{work}/time.txt").read().strip().splitlines()[-1].split(",")
add("ici3d", "defaults", float(seconds), 1024 * float(kbytes), f"{work}/ici3d.ply")
for setting, _, seconds, peak, path in csv.reader(open(f"{work}/peers.csv")):
    add(setting.split(":")[0], setting, float(seconds), float(peak), path)
with open(dest, "w", newline="") as f:
    w = csv.writer(f)
    w.writerow(["method", "setting", "threads", "seconds", "peak_bytes", "mean_distance",
                "rms_distance", "points"])
    w.writerows(rows)
for r in rows:
    print(",".join(str(v) for v in r))
PY
