"""The core library's functions, for people who build their own
neighbourhoods.

Everything here works in float32 on C-ordered arrays (inputs of another
dtype or order are converted; they are never modified) and returns new
arrays. Candidate lists are given in CSR form: the list of point i is
``indices[indptr[i]:indptr[i + 1]]``. The GIL is released while the library
runs.

A pass that matches ici3d.denoise() with its default options on a cloud of
spacing h and noise level s::

    table = knn_table(points, DEFAULTS.k)
    unit = max(h, s)                      # windows follow the larger of the two
    smallest = DEFAULTS.base_size * unit  # smallest window half-size
    base = max(1, round(smallest / (6 * s)))
    size_norm = (base / smallest)**2      # 1/sqrt(size_norm) near 6 noise levels
    preselect = DEFAULTS.base_size * DEFAULTS.scale_ratio**DEFAULTS.num_scales * unit
    indptr, indices = candidate_lists(points, preselect_radius(preselect))
    out, sigma = denoise_pass(points, np.full(len(points), s, np.float32), table,
                              indptr, indices, size_norm=size_norm, base_size=base,
                              preselect_size=preselect)

(DEFAULTS holds the pipeline's defaults: k, base_size, num_scales,
scale_ratio, list_cap, preset, passes.)

(ici3d.denoise() also recentres the points, skips non-finite ones and keeps
degenerate neighbourhoods in place.)
"""

import math

import numpy as np

from . import _checks, _core
from ._pipeline import _DEFAULTS

__all__ = ["denoise_pass", "local_frame", "eigeng", "knn_table", "candidate_lists",
           "preselect_radius", "space_filling_order", "DEFAULTS"]

#: The pipeline's default options (an ici3d._core.DenoiseOptions; read only).
DEFAULTS = _DEFAULTS

_PARAMETER_SETS = {"detail": 0, "smooth": 1}


def _table(neighbor_table, n):
    table = _checks.index_array(neighbor_table, "neighbor_table", 2)
    if table.shape[0] != n:
        raise ValueError(f"neighbor_table must have shape ({n}, K), got {table.shape}")
    return table


def _longest_list(indptr):
    return max(1, int(np.diff(indptr).max())) if indptr.size > 1 else 1


def denoise_pass(points, noise_sigma, neighbor_table, indptr, indices, *, size_norm,
                 preselect_size=None, base_size=_DEFAULTS.base_size,
                 num_scales=_DEFAULTS.num_scales, scale_ratio=_DEFAULTS.scale_ratio,
                 preset=_DEFAULTS.preset.name, max_selected=None):
    """One complete denoising pass of the core library
    (square_neigh_ici_denoi_recur_pure_c_parallel).

    Args:
        points: (n, 3) positions.
        noise_sigma: (n,) noise standard deviation per point (length units).
        neighbor_table: (n, K) integers; row i lists the neighbours from
            which the local frame of point i is computed.
        indptr: (n + 1,) integers, and indices: integers in 0..n-1, the
            candidate lists (CSR); list i should contain i itself.
        size_norm: point density in 1/length^2 (1/spacing^2), > 0.
        preselect_size: half-size of the window that pre-selects candidates;
            None gives the largest window, base_size * scale_ratio**num_scales
            / sqrt(size_norm).
        base_size, num_scales, scale_ratio: the window sizes, as for
            ici3d.denoise().
        preset: "detail" or "smooth".
        max_selected: row capacity of the window table, at least the longest
            list; None gives the longest list.

    Returns:
        (denoised points (n, 3) float32, updated noise levels (n,) float32).

    Raises:
        ValueError: for arguments ici3d_check_arguments refuses, with its
            description, and for inconsistent shapes or CSR offsets.
        TypeError: for non-numeric arrays or non-integer indices.

    The library prints a progress line on standard output after every
    5000th point (as its entry square_neigh_ici_denoi_recur_pure_c_parallel
    does).
    """
    args = _core.PassArguments()
    args.points = _checks.points(points, np.float32)
    n = args.points.shape[0]
    args.noise_sigma = _checks.per_point(noise_sigma, n, np.float32, "noise_sigma")
    args.neighbor_table = _table(neighbor_table, n)
    args.indptr = _checks.index_array(indptr, "indptr", 1, np.int64)
    args.indices = _checks.index_array(indices, "indices", 1)
    args.size_norm = _checks.positive(size_norm, "size_norm")
    args.base_size = _checks.integer(base_size, "base_size")
    args.num_scales = _checks.integer(num_scales, "num_scales")
    args.scale_ratio = _checks.positive(scale_ratio, "scale_ratio")
    if preselect_size is None:
        preselect_size = args.base_size * args.scale_ratio ** args.num_scales / math.sqrt(args.size_norm)
    args.preselect_size = _checks.positive(preselect_size, "preselect_size")
    if preset not in _PARAMETER_SETS:
        raise ValueError(f"preset must be 'detail' or 'smooth', got {preset!r}")
    args.parameter_set = _PARAMETER_SETS[preset]
    if max_selected is None:
        max_selected = _longest_list(args.indptr)
    args.max_selected = _checks.integer(max_selected, "max_selected")
    return _core.square_neigh_ici_denoi_recur_pure_c_parallel(args)


def local_frame(points, neighbor_table, i):
    """Local coordinate frame of point i (local_coordinate_for_ici_c).

    Args:
        points: (n, 3) positions.
        neighbor_table: (n, K) integers in 0..n-1; row i is used.
        i: the point.

    Returns:
        (axes, frame): axes is an int32 array of the eigenvalue indices of
        the largest, middle and smallest eigenvalue; frame a (3, 3) float32
        array whose column k is the unit eigenvector of eigenvalue k, so
        ``frame[:, axes[2]]`` is the estimated surface normal.
    """
    xyz = _checks.points(points, np.float32)
    table = _table(neighbor_table, xyz.shape[0])
    return _core.local_coordinate_for_ici_c(xyz, table, _checks.integer(i, "i"))


def eigeng(matrix):
    """Eigenvalues and eigenvectors of a general real square matrix, in
    single precision (the library's eigeng; the input is not destroyed).

    Returns:
        (real parts (m,), imaginary parts (m,), vectors (m, m)), float32.
        Eigenvalues come in the order the iteration found them; a complex
        pair sits at k, k+1 with the positive imaginary part first. Column k
        of vectors is the unit eigenvector of eigenvalue k; for a complex
        pair columns k and k+1 hold its real and imaginary parts.
    """
    m = _checks.real_array(matrix, "matrix", np.float32, "(m, m)", 2)
    if m.shape[0] != m.shape[1]:
        raise ValueError(f"matrix must have shape (m, m), got {m.shape}")
    return _core.eigeng(m)


def knn_table(points, k, *, threads=None):
    """K-nearest-neighbour table, as the pipeline builds it.

    Row i holds point i itself first, then its k-1 nearest other points by
    (squared distance, index); rows are padded with i when fewer exist, and a
    point with a NaN or infinite coordinate gets only itself.

    Returns:
        int32 array of shape (n, k).
    """
    xyz = _checks.points(points, np.float32)
    return _core.knn_table(xyz, _checks.integer(k, "k", 0), _checks.threads(threads))


def candidate_lists(points, radius, *, cap=_DEFAULTS.list_cap, threads=None):
    """Candidate lists, as the pipeline builds them.

    List i holds point i itself first, then every other finite point within
    `radius`, ordered by (squared distance, index) and cut to `cap` entries.

    Returns:
        (indptr (n + 1,) int64, indices int32): list i is
        ``indices[indptr[i]:indptr[i + 1]]``.
    """
    xyz = _checks.points(points, np.float32)
    if isinstance(radius, bool) or not isinstance(radius, (int, float, np.floating, np.integer)):
        raise TypeError(f"radius must be a number, got {type(radius).__name__}")
    return _core.candidate_lists(xyz, float(radius), _checks.integer(cap, "cap", 1),
                                 _checks.threads(threads))


def preselect_radius(preselect_size):
    """Radius of the ball holding a whole pre-selection window of half-size
    `preselect_size` (with a margin for float rounding): the radius to give
    candidate_lists()."""
    return _core.preselect_radius(_checks.positive(preselect_size, "preselect_size"))


def space_filling_order(points):
    """Indices of the finite points in the order the pipeline hands them to
    the library: along a Morton curve over their bounding cube, ties by lower
    index. A pass over the points in this order gives the pipeline's results
    bit for bit, and touches memory in a cache-friendly order.

    Returns:
        int64 array of the finite points' indices.
    """
    return _core.space_filling_order(_checks.points(points, np.float64))
