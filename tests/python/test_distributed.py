"""Runs on a local Dask cluster (two worker processes) write the bytes of a
single-process run; lost workers and bad input do not change that or leave
files behind."""

import os
import threading
import time

import numpy as np
import pytest

import ici3d
from conftest import wavy_surface

distributed = pytest.importorskip("distributed")
import dask  # noqa: E402  (after the skip: both come with python3-distributed)

import ici3d.distributed as idist  # noqa: E402

# Small windows keep the halo a few tiles wide, so that a 20000-point cloud
# makes dozens of tile tasks with real neighbours.
OPTIONS = dict(sigma=0.01, spacing=0.014, base_size=3, num_scales=2, scale_ratio=1.25)
SPREAD = dict(tile_size=0.25, chunk_points=3000)
POINTS = 20000


@pytest.fixture(scope="module")
def client():
    with dask.config.set({"distributed.scheduler.allowed-failures": 10}):
        cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                           dashboard_address=None)
        client = distributed.Client(cluster)
    yield client
    client.close()
    cluster.close()


def write_ply(path, xyz, dtype="<f4"):
    """A binary PLY file of the points with a colour before the positions and
    an intensity after them."""
    n = len(xyz)
    record = np.zeros(n, [("red", "u1"), ("x", dtype), ("y", dtype), ("z", dtype),
                          ("intensity", dtype[0] + "f4")])
    record["red"] = np.arange(n) % 251
    record["x"], record["y"], record["z"] = xyz.T
    record["intensity"] = np.linspace(0, 1, n)
    kind = {"f4": "float", "f8": "double"}[dtype[1:]]
    encoding = "binary_little_endian" if dtype[0] == "<" else "binary_big_endian"
    header = (f"ply\nformat {encoding} 1.0\ncomment scanned\nelement vertex {n}\n"
              "property uchar red\n" + "".join(f"property {kind} {a}\n" for a in "xyz") +
              "property float intensity\nend_header\n")
    with open(path, "wb") as out:
        out.write(header.encode() + record.tobytes())


def noisy_points(seed=3):
    points = wavy_surface(POINTS, seed=seed)
    points[[5, 777]] = [np.nan, 0.0, 0.0], [0.0, np.inf, 0.0]
    return points


def make_noisy_file(kind, tmp_path):
    points = noisy_points()
    if kind == "pcd_double":
        path = tmp_path / "noisy.pcd"
        ici3d.write(path, ici3d.Cloud(points, {"label": np.arange(POINTS, dtype=np.int32)}))
    else:
        path = tmp_path / "noisy.ply"
        write_ply(path, points, "<f4" if kind == "ply_float32" else ">f8")
    return path


def single_process(src, dst, **options):
    with pytest.warns(RuntimeWarning):
        ici3d.denoise_file(src, dst, **options)
    return dst.read_bytes()


@pytest.mark.parametrize("kind, passes", [
    ("ply_float32", 1), ("ply_big_endian_double", 2), ("pcd_double", 2)])
def test_same_bytes_as_one_process(client, tmp_path, kind, passes):
    noisy_file = make_noisy_file(kind, tmp_path)
    expected = single_process(noisy_file, tmp_path / ("one" + noisy_file.suffix), passes=passes,
                              **OPTIONS)
    dst = tmp_path / ("many" + noisy_file.suffix)
    report = idist.denoise_file(noisy_file, dst, client, passes=passes, **OPTIONS, **SPREAD)
    assert dst.read_bytes() == expected
    assert report["tiles"] > 20 and report["chunks"] == 7 and report["non_finite"] == 2
    assert len(report["passes"]) == passes
    assert sorted(os.listdir(tmp_path)) == sorted([noisy_file.name, "one" + noisy_file.suffix,
                                                  dst.name])


def test_estimates_from_a_sample(client, tmp_path):
    # Not the single-process numbers, but near them, and the cloud is denoised.
    points = noisy_points(seed=11)
    src = tmp_path / "noisy.ply"
    write_ply(src, points, "<f8")
    report = idist.denoise_file(src, tmp_path / "out.ply", client, sample_points=6000,
                                base_size=3, num_scales=2, scale_ratio=1.25, **SPREAD)
    whole = ici3d.estimate(points)
    assert report["sigma_estimated"] and report["spacing_estimated"]
    assert report["spacing"] == pytest.approx(whole.spacing, rel=0.15)
    assert report["sigma"] == pytest.approx(whole.sigma, rel=0.3)
    out = ici3d.read(tmp_path / "out.ply")
    ok = np.isfinite(points).all(axis=1)

    def off_surface(p):
        return np.sqrt(np.mean((p[ok, 2] - 0.1 * np.sin(3 * p[ok, 0])) ** 2))

    assert off_surface(out.points) < 0.7 * off_surface(points)
    assert np.array_equal(out.attributes["red"], np.arange(POINTS) % 251)


def test_lost_worker_changes_nothing(client, tmp_path):
    src = tmp_path / "noisy.ply"
    write_ply(src, noisy_points())
    expected = single_process(src, tmp_path / "one.ply", passes=2, **OPTIONS)
    before = client.run(os.getpid)
    victim = sorted(before)[0]

    # Runs in the worker: dies as soon as it holds a tile's result of the
    # first pass, which the second pass needs.
    def die_when_holding_a_pass_result(dask_worker=None):
        def watch():
            while True:
                try:
                    keys = list(dask_worker.data.keys())
                except RuntimeError:  # changed while listed
                    keys = []
                if any(str(key).startswith("ici3d-state0-") for key in keys):
                    os._exit(1)
                time.sleep(0.002)
        threading.Thread(target=watch, daemon=True).start()

    client.run(die_when_holding_a_pass_result, workers=[victim])
    idist.denoise_file(src, tmp_path / "many.ply", client, passes=2, **OPTIONS, **SPREAD)
    assert (tmp_path / "many.ply").read_bytes() == expected
    client.wait_for_workers(2, timeout=60)
    assert before[victim] not in client.run(os.getpid).values()


def test_bad_data_names_the_points_and_leaves_no_file(client, tmp_path):
    src = tmp_path / "short.ply"
    write_ply(src, noisy_points())
    with open(src, "r+b") as f:
        f.truncate(os.path.getsize(src) - 100)  # the last chunk lacks its end
    dst = tmp_path / "out.ply"
    dst.write_bytes(b"keep me")
    with pytest.raises(ici3d.IoError, match=r"short\.ply: points 18000 to 19999: the file ends"):
        idist.denoise_file(src, dst, client, overwrite=True, **OPTIONS, **SPREAD)
    assert dst.read_bytes() == b"keep me"
    assert sorted(os.listdir(tmp_path)) == ["out.ply", "short.ply"]


def test_files_and_destinations_refused_before_any_work(client, tmp_path):
    points = wavy_surface(100)
    ascii_ply = tmp_path / "text.ply"
    ici3d.write(ascii_ply, ici3d.Cloud(points), encoding="ascii")
    binary = tmp_path / "cloud.ply"
    write_ply(binary, points)
    (tmp_path / "taken.ply").write_bytes(b"x")
    cases = [
        (ascii_ply, tmp_path / "a.ply", "ascii data has no records of a fixed size"),
        (binary, tmp_path / "a.pcd", "writes the input's format"),
        (binary, binary, "is the input file"),
        (binary, tmp_path / "taken.ply", "file exists"),
    ]
    for src, dst, message in cases:
        with pytest.raises(ici3d.IoError, match=message):
            idist.denoise_file(src, dst, client, **OPTIONS)
    assert sorted(os.listdir(tmp_path)) == ["cloud.ply", "taken.ply", "text.ply"]
    with pytest.raises(ValueError, match="sigma"):
        idist.denoise_file(binary, tmp_path / "a.ply", client, sigma=-1.0)


def test_tile_call_gives_the_whole_cloud_results_and_asks_for_a_wider_halo():
    # The binding on its own: a region of every point, a box around part of
    # them; declared with no halo the call asks for one, with it the box's
    # points get what the whole-cloud run gives them.
    from ici3d import _core
    points = wavy_surface(3000, seed=5)
    expected = ici3d.denoise(points, **OPTIONS)
    order = ici3d.lowlevel.space_filling_order(points)
    xyz = np.ascontiguousarray(points[order])
    options = _core.DenoiseOptions()
    options.sigma, options.spacing = OPTIONS["sigma"], OPTIONS["spacing"]
    options.base_size, options.num_scales = OPTIONS["base_size"], OPTIONS["num_scales"]
    options.scale_ratio = OPTIONS["scale_ratio"]
    lo, hi = xyz.min(axis=0), xyz.max(axis=0)
    settings = _core.pass_settings(options, _core.bounding_box_centre(np.array([lo, hi])), 3000)
    extent = float(np.max(hi - lo))
    box_lo, box_hi = np.array([-0.3, -0.3, -1.0]), np.array([0.2, 0.1, 1.0])
    core = ((xyz >= box_lo) & (xyz <= box_hi)).all(axis=1).astype(np.uint8)
    noise = np.full(3000, np.float32(OPTIONS["sigma"]), np.float32)
    with pytest.raises(_core.FarNeighboursError) as far:
        _core.denoise_tile(xyz, noise, core, box_lo, box_hi, 0.0, extent, settings, 1)
    assert isinstance(far.value, ici3d.DenoiseError) and far.value.needed_halo > 0
    halo = max(far.value.needed_halo, _core.tile_halo(settings, extent))
    at, new_xyz, _, _ = _core.denoise_tile(xyz, noise, core, box_lo, box_hi, halo, extent,
                                           settings, 2)
    assert np.array_equal(at, np.flatnonzero(core))
    assert new_xyz.tobytes() == expected[order][core == 1].tobytes()
