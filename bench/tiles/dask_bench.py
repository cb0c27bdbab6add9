"""Time and peak memory of ici3d.distributed.denoise_file on a LocalCluster,
against ``ici3d denoise`` on the same file with the same sigma and spacing;
checks that the two outputs hold the same bytes. One CSV record per run.

    python3 bench/tiles/dask_bench.py --cli build/bin/ici3d --points 1000000 \
        --workers 2 [--tile-size L] [--header]
"""

import argparse
import filecmp
import json
import math
import os
import resource
import subprocess
import sys
import tempfile
import time


def worker_peak_bytes():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--points", type=int, default=100000)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--tile-size", type=float)
    parser.add_argument("--header", action="store_true")
    args = parser.parse_args()
    if args.header:
        print("points,workers,tile_size,tiles,dask_s,single_s,worker_peak_bytes_max,"
              "single_peak_bytes,same_bytes")
    import ici3d.distributed
    from distributed import Client, LocalCluster

    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "in.ply")
        noise = 0.5 * math.sqrt(4 * math.pi / args.points)
        subprocess.run([args.cli, "synth", "sphere", src, "--points", str(args.points),
                        "--noise", str(noise), "--no-clean"], check=True, capture_output=True)
        # The single-process run settles sigma and spacing; both runs use them.
        single = os.path.join(tmp, "single.ply")
        report = os.path.join(tmp, "single.json")
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", args.cli, "denoise", src, single,
                               "--report", report, "-q"], check=True, capture_output=True,
                              text=True)
        single_s = time.perf_counter() - start
        single_peak = int(done.stderr.strip().splitlines()[-1]) * 1024
        estimates = json.load(open(report))["parameters"]
        out = os.path.join(tmp, "dask.ply")
        with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True) as cluster:
            with Client(cluster) as client:
                start = time.perf_counter()
                result = ici3d.distributed.denoise_file(
                    src, out, client, sigma=estimates["sigma"], spacing=estimates["spacing"],
                    tile_size=args.tile_size)
                dask_s = time.perf_counter() - start
                peaks = client.run(worker_peak_bytes)
        same = filecmp.cmp(single, out, shallow=False)
        print(f"{args.points},{args.workers},{args.tile_size or ''},{result['tiles']},"
              f"{dask_s:.2f},{single_s:.2f},{max(peaks.values())},{single_peak},{int(same)}")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
