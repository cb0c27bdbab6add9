"""The Python package and the command-line tool give the same results for
the same options: both run the host pipeline."""

import os
import subprocess

import numpy as np
import pytest

import ici3d
from conftest import same_bits, wavy_surface

CLI = os.environ.get("ICI3D_CLI", "")

pytestmark = pytest.mark.skipif(
    not os.access(CLI, os.X_OK),
    reason=f"command-line tool not built (ICI3D_CLI={CLI!r}); build target ici3d_cli")


def run_cli(*args):
    done = subprocess.run([CLI, *map(str, args)], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return done


@pytest.fixture
def noisy_file(tmp_path):
    points = wavy_surface(2000, seed=7)
    points[10] = np.nan
    colour = np.arange(len(points), dtype=np.uint8)
    path = tmp_path / "noisy.ply"
    ici3d.write(path, ici3d.Cloud(points, {"red": colour}))
    return path, points, colour


@pytest.mark.parametrize("options, kwargs", [
    ([], {}),
    (["--preset", "smooth", "--passes", "2", "--k", "10"], {"preset": "smooth", "passes": 2, "k": 10}),
    (["--sigma", "0.02", "--spacing", "0.04", "--scales", "2", "--base-size", "3", "--scale-ratio", "1.25"],
     {"sigma": 0.02, "spacing": 0.04, "num_scales": 2, "base_size": 3, "scale_ratio": 1.25}),
])
def test_same_points_as_the_tool(noisy_file, tmp_path, options, kwargs):
    path, points, colour = noisy_file
    run_cli("denoise", path, tmp_path / "tool.ply", *options)
    tool = ici3d.read(tmp_path / "tool.ply")
    with pytest.warns(RuntimeWarning, match="1 of 2000 points"):
        ours = ici3d.denoise(points, **kwargs)
    assert same_bits(tool.points, ours)
    assert same_bits(tool.attributes["red"], colour)


def test_same_file_as_the_tool(noisy_file, tmp_path):
    path, _, _ = noisy_file
    run_cli("denoise", path, tmp_path / "tool.pcd")
    with pytest.warns(RuntimeWarning):
        ici3d.denoise_file(path, tmp_path / "ours.pcd")
    tool, ours = ici3d.read(tmp_path / "tool.pcd"), ici3d.read(tmp_path / "ours.pcd")
    assert same_bits(tool.points, ours.points)
    assert list(tool.attributes) == list(ours.attributes)
