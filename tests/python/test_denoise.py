"""ici3d.denoise / estimate / denoise_file: input handling, outputs, errors."""

import re

import numpy as np
import pytest

import ici3d
from conftest import same_bits, wavy_surface


class TestInputHandling:
    def test_float32_and_float64_give_the_same_result(self, cloud):
        assert same_bits(ici3d.denoise(cloud.astype(np.float32)), ici3d.denoise(cloud))

    def test_c_and_fortran_order_give_the_same_result(self, cloud):
        assert same_bits(ici3d.denoise(np.asfortranarray(cloud)), ici3d.denoise(cloud))

    def test_strided_view_and_list_input(self, cloud):
        wide = np.zeros((len(cloud), 5))
        wide[:, 1:4] = cloud
        expected = ici3d.denoise(cloud[:200])
        assert same_bits(ici3d.denoise(wide[:200, 1:4]), expected)
        assert same_bits(ici3d.denoise(cloud[:200].tolist()), expected)

    @pytest.mark.parametrize("dtype", [np.float32, np.float64])
    def test_input_is_never_modified(self, cloud, dtype):
        points = cloud.astype(dtype)
        before = points.copy()
        out = ici3d.denoise(points, return_sigma=True)[0]
        assert same_bits(points, before)
        assert not np.shares_memory(out, points)

    def test_read_only_input_is_accepted(self, cloud):
        cloud.flags.writeable = False
        out = ici3d.denoise(cloud)
        assert out.flags.writeable and out.flags.c_contiguous

    def test_output_is_float64_n_by_3_and_moves_points(self, cloud):
        out = ici3d.denoise(cloud)
        assert out.shape == cloud.shape and out.dtype == np.float64
        assert not np.array_equal(out, cloud)


class TestSigma:
    def test_uniform_array_equals_scalar(self, cloud):
        scalar = ici3d.denoise(cloud, 0.01, return_sigma=True)
        per_point = ici3d.denoise(cloud, np.full(len(cloud), 0.01), return_sigma=True)
        assert same_bits(scalar[0], per_point[0]) and same_bits(scalar[1], per_point[1])

    def test_per_point_levels_change_the_result(self, cloud):
        levels = np.full(len(cloud), 0.01)
        levels[::2] = 0.03
        assert not np.array_equal(ici3d.denoise(cloud, levels), ici3d.denoise(cloud, 0.01))

    def test_sigma_none_estimates_it(self, cloud):
        estimated = ici3d.estimate(cloud).sigma
        assert same_bits(ici3d.denoise(cloud), ici3d.denoise(cloud, estimated))

    def test_return_sigma_gives_float32_levels(self, cloud):
        out, sigma = ici3d.denoise(cloud, 0.01, return_sigma=True)
        assert sigma.shape == (len(cloud),) and sigma.dtype == np.float32
        assert np.all(sigma > 0)


class TestNonFinitePoints:
    def test_nan_rows_pass_through_unchanged_and_are_reported(self, cloud):
        cloud[[3, 700]] = [[np.nan, 0.0, 0.0], [1.0, np.inf, np.nan]]
        with pytest.warns(RuntimeWarning, match="2 of 1500 points"):
            out, sigma = ici3d.denoise(cloud, return_sigma=True)
        assert same_bits(out[[3, 700]], cloud[[3, 700]])
        assert np.isnan(sigma[[3, 700]]).all()
        assert np.isfinite(out[:3]).all()

    def test_too_few_points_come_back_unchanged(self):
        points = np.array([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0]])
        assert same_bits(ici3d.denoise(points), points)
        assert ici3d.denoise(np.empty((0, 3))).shape == (0, 3)


class TestErrors:
    @pytest.mark.parametrize("shape", [(100, 4), (100,), (2, 3, 3)])
    def test_wrong_shape_names_expected_and_actual(self, shape):
        with pytest.raises(ValueError, match=re.escape(f"points must have shape (n, 3), got {shape}")):
            ici3d.denoise(np.zeros(shape))

    @pytest.mark.parametrize("points", [np.zeros((4, 3), complex), np.zeros((4, 3), bool),
                                        np.array([["a", "b", "c"]])])
    def test_wrong_dtype_is_a_type_error(self, points):
        with pytest.raises(TypeError, match=f"got dtype {points.dtype}"):
            ici3d.denoise(points)

    def test_sigma_errors(self, cloud):
        with pytest.raises(ValueError, match=r"sigma must have shape \(1500,\), got \(10,\)"):
            ici3d.denoise(cloud, np.ones(10))
        with pytest.raises(ValueError, match="sigma must be finite and > 0"):
            ici3d.denoise(cloud, -1.0)
        with pytest.raises(ValueError, match="point 4 must be finite and > 0"):
            ici3d.denoise(cloud, np.where(np.arange(len(cloud)) == 4, 0.0, 0.01))

    def test_option_ranges_come_from_the_pipeline(self, cloud):
        with pytest.raises(ici3d.DenoiseError, match="k must be 3..1000"):
            ici3d.denoise(cloud, k=2)
        with pytest.raises(ValueError, match="passes"):
            ici3d.denoise(cloud, passes=0)
        with pytest.raises(ValueError, match="unknown preset 'rough'"):
            ici3d.denoise(cloud, preset="rough")

    def test_option_types(self, cloud):
        with pytest.raises(TypeError, match="k must be an integer, got float"):
            ici3d.denoise(cloud, k=3.5)
        with pytest.raises(TypeError, match="progress must be callable"):
            ici3d.denoise(cloud, progress=1)
        with pytest.raises(ValueError, match="threads must be in 1..4096, got 0"):
            ici3d.denoise(cloud, threads=0)


class TestProgress:
    def test_fractions_increase_and_end_at_one(self):
        fractions = []
        ici3d.denoise(wavy_surface(12000), progress=fractions.append)
        assert len(fractions) >= 2
        assert fractions == sorted(set(fractions)) and 0 < fractions[0] and fractions[-1] == 1.0

    def test_exception_in_callback_is_raised_after_the_run(self):
        def fail(fraction):
            raise KeyError("stop")

        with pytest.raises(KeyError, match="stop"):
            ici3d.denoise(wavy_surface(6000), progress=fail)


class TestEstimate:
    def test_grid_spacing_is_the_step(self):
        x, y = np.meshgrid(np.arange(20) * 0.5, np.arange(20) * 0.5)
        grid = np.c_[x.ravel(), y.ravel(), np.zeros(x.size)]
        e = ici3d.estimate(np.vstack([grid, grid[:5]]))
        assert e.spacing == pytest.approx(0.5, rel=0.05)  # the step, from the density
        assert (e.finite, e.duplicates) == (405, 5)

    def test_ignores_non_finite_points(self, cloud):
        e = ici3d.estimate(cloud)
        cloud[0] = np.nan
        assert ici3d.estimate(cloud).finite == e.finite - 1


class TestDenoiseFile:
    def test_matches_the_array_path_and_keeps_attributes(self, cloud, tmp_path):
        intensity = np.arange(len(cloud), dtype=np.uint16)
        ici3d.write(tmp_path / "in.ply", ici3d.Cloud(cloud, {"intensity": intensity}))
        report = ici3d.denoise_file(tmp_path / "in.ply", tmp_path / "out.ply", preset="smooth",
                                    extra=("sigma", "displacement"))
        out = ici3d.read(tmp_path / "out.ply")
        points, sigma = ici3d.denoise(cloud, preset="smooth", return_sigma=True)
        assert same_bits(out.points, points)
        assert list(out.attributes) == ["intensity", "noise_sigma", "displacement"]
        assert same_bits(out.attributes["intensity"], intensity)
        assert same_bits(out.attributes["noise_sigma"], sigma)
        assert report["points"] == len(cloud) and report["effective"]["preset"] == "smooth"
        assert report["sigma_estimated"] and len(report["passes"]) == 1

    def test_refuses_existing_output_and_input(self, cloud, tmp_path):
        source, target = tmp_path / "in.xyz", tmp_path / "out.xyz"
        ici3d.write(source, cloud[:50])
        ici3d.write(target, cloud[:10])
        with pytest.raises(ici3d.IoError, match="file exists"):
            ici3d.denoise_file(source, target)
        with pytest.raises(OSError, match="is the file the cloud was read from"):
            ici3d.denoise_file(source, source, overwrite=True)
        ici3d.denoise_file(source, target, overwrite=True)
        assert len(ici3d.read(target)) == 50

    def test_bad_extra_and_array_sigma(self, tmp_path):
        with pytest.raises(ValueError, match="extra must name attributes"):
            ici3d.denoise_file(tmp_path / "a.ply", tmp_path / "b.ply", extra=["colour"])
        with pytest.raises(TypeError, match="one sigma"):
            ici3d.denoise_file(tmp_path / "a.ply", tmp_path / "b.ply", np.ones(3))


class TestTiles:
    def test_tiles_and_memory_limits_give_the_same_points(self, cloud):
        whole = ici3d.denoise(cloud, 0.02)
        assert same_bits(ici3d.denoise(cloud, 0.02, tile_size=0.3), whole)
        assert same_bits(ici3d.denoise(cloud, 0.02, memory_limit="1GiB"), whole)
        assert same_bits(ici3d.denoise(cloud, 0.02, memory_limit=1 << 30), whole)

    def test_bad_limits_and_tile_sizes(self, cloud):
        with pytest.raises(ValueError, match="memory size"):
            ici3d.denoise(cloud, memory_limit="lots")
        with pytest.raises(ValueError, match="too small"):
            ici3d.denoise(cloud, 0.02, memory_limit="1K")
        with pytest.raises(ValueError):
            ici3d.denoise(cloud, tile_size=-1)
