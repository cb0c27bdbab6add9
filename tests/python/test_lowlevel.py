"""ici3d.lowlevel: the core library's functions over user-built neighbourhoods."""

import numpy as np
import pytest

import ici3d
from ici3d import lowlevel
from conftest import same_bits, wavy_surface

SPACING = 0.05
SIGMA = 0.01


def centred_cloud(n=1500):
    """A float32-valued cloud whose bounding box is centred on the origin, so
    that the pipeline's recentring leaves its coordinates as they are."""
    points = wavy_surface(n)
    points[:2, :2] = [[-1.0, -1.0], [1.0, 1.0]]
    extent = np.float32(np.abs(points[:, 2]).max())
    points[2, 2], points[3, 2] = -extent, extent
    return points


DEFAULTS = ici3d.lowlevel.DEFAULTS


def pipeline_inputs(points, k=DEFAULTS.k):
    """The neighbourhoods the pipeline builds for one default pass (the noise
    is below the spacing, so windows are counted in spacings)."""
    preselect = DEFAULTS.base_size * DEFAULTS.scale_ratio**DEFAULTS.num_scales * SPACING
    table = lowlevel.knn_table(points, k)
    indptr, indices = lowlevel.candidate_lists(points, lowlevel.preselect_radius(preselect))
    return table, indptr, indices, preselect


class TestDenoisePass:
    def test_equals_the_pipeline_bit_for_bit(self):
        # The pipeline hands the library its points along a space-filling curve.
        cloud = centred_cloud()
        order = lowlevel.space_filling_order(cloud)
        assert sorted(order) == list(range(len(cloud)))
        points = np.ascontiguousarray(cloud[order])
        table, indptr, indices, preselect = pipeline_inputs(points)
        out, sigma = lowlevel.denoise_pass(points, np.full(len(points), SIGMA), table, indptr,
                                           indices, base_size=2,  # round(0.1 / 0.06)
                                           size_norm=(2 / (DEFAULTS.base_size * SPACING))**2,
                                           preselect_size=preselect)
        expected, expected_sigma = ici3d.denoise(cloud, SIGMA, spacing=SPACING, return_sigma=True)
        expected, expected_sigma = expected[order], expected_sigma[order]
        assert out.dtype == np.float32 and out.shape == points.shape
        assert same_bits(out.astype(np.float64), expected)
        assert same_bits(sigma, expected_sigma)

    def test_inputs_are_never_modified(self):
        points = np.asfortranarray(centred_cloud(300))
        table, indptr, indices, _ = pipeline_inputs(points, k=8)
        noise = np.full(len(points), SIGMA)
        copies = [a.copy() for a in (points, noise, table, indptr, indices)]
        lowlevel.denoise_pass(points, noise, table, indptr, indices, size_norm=400.0)
        for before, after in zip(copies, (points, noise, table, indptr, indices)):
            assert same_bits(before, after)

    def test_library_argument_check_raises_its_description(self):
        points = centred_cloud(50)
        table, indptr, indices, _ = pipeline_inputs(points, k=8)
        bad_table = table.copy()
        bad_table[7, 3] = 50
        with pytest.raises(ValueError, match="neighbor_table entry is outside 0..n-1"):
            lowlevel.denoise_pass(points, np.ones(50), bad_table, indptr, indices, size_norm=400.0)
        bad_indices = indices.copy()
        bad_indices[-1] = -1
        with pytest.raises(ValueError, match="candidate index is outside 0..n-1"):
            lowlevel.denoise_pass(points, np.ones(50), table, indptr, bad_indices, size_norm=400.0)
        with pytest.raises(ValueError, match="max_selected is smaller"):
            lowlevel.denoise_pass(points, np.ones(50), table, indptr, indices, size_norm=400.0,
                                  max_selected=1)

    def test_malformed_csr_and_shapes(self):
        points = centred_cloud(50)
        table, indptr, indices, _ = pipeline_inputs(points, k=8)
        decreasing = indptr.copy()
        decreasing[5] = decreasing[7]
        with pytest.raises(ValueError, match="indptr: offsets must not decrease"):
            lowlevel.denoise_pass(points, np.ones(50), table, decreasing, indices, size_norm=1.0)
        with pytest.raises(ValueError, match="end at the number of indices"):
            lowlevel.denoise_pass(points, np.ones(50), table, indptr, indices[:-1], size_norm=1.0)
        with pytest.raises(ValueError, match=r"indptr must have shape \(51,\), got \(50,\)"):
            lowlevel.denoise_pass(points, np.ones(50), table, indptr[:-1], indices, size_norm=1.0)
        with pytest.raises(ValueError, match=r"neighbor_table must have shape \(50, K\)"):
            lowlevel.denoise_pass(points, np.ones(50), table[:-1], indptr, indices, size_norm=1.0)
        with pytest.raises(TypeError, match="indices must hold integers"):
            lowlevel.denoise_pass(points, np.ones(50), table, indptr, indices.astype(float),
                                  size_norm=1.0)
        with pytest.raises(ValueError, match="outside the range of int32"):
            lowlevel.denoise_pass(points, np.ones(50), table, indptr,
                                  indices.astype(np.int64) + 2**32, size_norm=1.0)


class TestNeighbourhoods:
    def test_knn_rows_start_with_the_point_and_hold_its_nearest(self):
        points = wavy_surface(200)
        table = lowlevel.knn_table(points, 6)
        assert table.shape == (200, 6) and table.dtype == np.int32
        assert np.array_equal(table[:, 0], np.arange(200))
        d = np.linalg.norm(points[:, None] - points[None], axis=2)
        np.fill_diagonal(d, np.inf)
        assert np.array_equal(table[:, 1], d.argmin(axis=1))

    def test_candidate_lists_hold_the_points_within_the_radius(self):
        points = wavy_surface(200)
        indptr, indices = lowlevel.candidate_lists(points, 0.2, cap=1000)
        assert indptr.dtype == np.int64 and indices.dtype == np.int32 and indptr.shape == (201,)
        d = np.linalg.norm(points[:, None] - points[None], axis=2)
        for i in (0, 57, 199):
            members = indices[indptr[i]:indptr[i + 1]]
            assert members[0] == i
            assert set(members) == set(np.flatnonzero(d[i] <= 0.2))

    def test_cap_and_radius_errors(self):
        points = wavy_surface(50)
        indptr, _ = lowlevel.candidate_lists(points, 10.0, cap=5)
        assert np.diff(indptr).max() == 5
        with pytest.raises(ValueError, match="radius"):
            lowlevel.candidate_lists(points, -1.0)
        with pytest.raises(ValueError, match="cap must be in 1"):
            lowlevel.candidate_lists(points, 1.0, cap=0)


class TestGeometry:
    def test_frame_of_a_plane_has_its_normal_last(self):
        rng = np.random.default_rng(5)
        points = np.c_[rng.uniform(size=(30, 2)) * [3.0, 1.0], np.zeros(30)]
        table = lowlevel.knn_table(points, 10)
        axes, frame = lowlevel.local_frame(points, table, 4)
        assert sorted(axes) == [0, 1, 2] and frame.shape == (3, 3)
        np.testing.assert_allclose(np.abs(frame[:, axes[2]]), [0, 0, 1], atol=1e-6)
        np.testing.assert_allclose(frame.T @ frame, np.eye(3), atol=1e-5)

    def test_frame_index_errors(self):
        points = wavy_surface(20)
        table = lowlevel.knn_table(points, 4)
        with pytest.raises(IndexError, match="point 20 outside 0..19"):
            lowlevel.local_frame(points, table, 20)
        table[3, 1] = 99
        with pytest.raises(ValueError, match="row 3 of neighbor_table holds 99"):
            lowlevel.local_frame(points, table, 3)

    def test_eigeng_leaves_its_input_and_finds_the_eigenpairs(self):
        matrix = np.array([[2.0, 1.0, 0.0], [1.0, 2.0, 0.0], [0.0, 0.0, 5.0]])
        before = matrix.copy()
        re, im, vectors = lowlevel.eigeng(matrix)
        assert same_bits(matrix, before)
        assert re.dtype == np.float32 and not im.any()
        np.testing.assert_allclose(sorted(re), [1.0, 3.0, 5.0], rtol=1e-6)
        np.testing.assert_allclose(matrix @ vectors, vectors * re, atol=1e-5)

    def test_eigeng_complex_pair_and_shape_error(self):
        re, im, _ = lowlevel.eigeng([[0.0, -1.0], [1.0, 0.0]])
        assert list(im) == [1.0, -1.0] and not re.any()
        with pytest.raises(ValueError, match=r"matrix must have shape \(m, m\), got \(2, 3\)"):
            lowlevel.eigeng(np.zeros((2, 3)))
