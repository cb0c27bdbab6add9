"""Denoising and estimates through the host pipeline: the code path, the
defaults and the results of the command-line tool."""

import dataclasses
import os
import warnings

import numpy as np

from . import _checks, _core

# The pipeline's own defaults, read once so that they are written nowhere else.
_DEFAULTS = _core.DenoiseOptions()
_DEFAULT_PRESET = _DEFAULTS.preset.name

#: Names accepted by ``denoise_file(extra=...)``: the per-point attributes
#: added to the output file ("sigma" is stored as "noise_sigma", "normal"
#: as "nx", "ny", "nz").
EXTRAS = ("sigma", "displacement", "normal")


@dataclasses.dataclass(frozen=True)
class Estimates:
    """Spacing and noise level of a cloud, as the pipeline estimates them.

    Attributes:
        spacing: 1/sqrt(points per unit area of the surface), measured in
            neighbourhoods wide beside the noise (length units; the
            nearest-neighbour spacing when too few points for that).
        sigma: noise standard deviation along the surface normal (length
            units; NaN when no neighbourhood could be measured).
        finite: points without a NaN or infinite coordinate.
        duplicates: points at a position taken by an earlier point.
        noise_samples: positions at which the noise was measured.
        noise_too_few_points: of those, positions with too few neighbours.
        noise_collinear: of those, positions whose neighbourhood is a line.
        noise_radius: radius of the neighbourhoods the estimates settled on
            (length units).
        noise_fit_points: median number of points per fit there.
        noise_rounds: neighbourhood radii tried.
    """

    spacing: float
    sigma: float
    finite: int
    duplicates: int
    noise_samples: int
    noise_too_few_points: int
    noise_collinear: int
    noise_radius: float
    noise_fit_points: float
    noise_rounds: int


def _sigma_arguments(sigma, n):
    """(scalar sigma for the options, per-point array or None)."""
    if sigma is None:
        return 0.0, None
    if np.ndim(sigma) == 0:
        return _checks.positive(np.asarray(sigma).item(), "sigma"), None
    return 0.0, _checks.per_point(sigma, n, np.float64, "sigma")


def _memory_limit(value):
    """Bytes from None (the default), an integer or a text such as "2GiB"."""
    if value is None:
        return 0
    if isinstance(value, str):
        return _core.parse_memory_size(value)
    return _checks.integer(value, "memory_limit")


def _options(sigma, spacing, preset, passes, k, base_size, num_scales, scale_ratio, list_cap,
             threads, memory_limit=None, tile_size=None):
    """Pipeline options; the pipeline checks the ranges (DenoiseError)."""
    options = _core.DenoiseOptions()
    options.memory_limit = _memory_limit(memory_limit)
    options.tile_size = 0.0 if tile_size is None else _checks.positive(tile_size, "tile_size")
    options.sigma = sigma
    options.spacing = 0.0 if spacing is None else _checks.positive(spacing, "spacing")
    if not isinstance(preset, str):
        raise TypeError(f"preset must be 'detail' or 'smooth', got {type(preset).__name__}")
    options.preset = _core.preset_from_name(preset)
    options.passes = _checks.integer(passes, "passes")
    options.k = _checks.integer(k, "k")
    options.base_size = _checks.integer(base_size, "base_size")
    options.num_scales = _checks.integer(num_scales, "num_scales")
    options.scale_ratio = _checks.positive(scale_ratio, "scale_ratio")
    options.list_cap = _checks.integer(list_cap, "list_cap")
    options.threads = _checks.threads(threads)
    return options


def _warn_non_finite(report, stacklevel=3):
    if report.non_finite:
        warnings.warn(
            f"{report.non_finite} of {report.points} points have a NaN or infinite coordinate; "
            "they are returned unchanged", RuntimeWarning, stacklevel=stacklevel)


def denoise(points, sigma=None, *, spacing=None, preset=_DEFAULT_PRESET, passes=_DEFAULTS.passes,
            k=_DEFAULTS.k, base_size=_DEFAULTS.base_size, num_scales=_DEFAULTS.num_scales,
            scale_ratio=_DEFAULTS.scale_ratio, list_cap=_DEFAULTS.list_cap, threads=None,
            memory_limit=None, tile_size=None, return_sigma=False, progress=None):
    """Denoise a point cloud.

    Args:
        points: array-like of shape (n, 3), any real dtype (float32 and
            float64 give the same result for the same values), C or Fortran
            order. It is never modified.
        sigma: noise standard deviation in the points' length unit: None
            estimates it from the cloud, a number applies to every point, an
            array of shape (n,) gives one level per point (finite and > 0 for
            every finite point).
        spacing: point spacing in length units; None estimates it.
        preset: "detail" keeps small features, "smooth" lets windows grow
            more readily across them.
        passes: denoising passes (1..100); each pass starts from the
            previous result and its updated noise levels.
        k: neighbours (the point included) from which each local frame is
            built (3..1000).
        base_size: window half-size at the smallest scale, in spacings (in
            noise levels where the noise is larger than the spacing).
        num_scales: scales 0..num_scales are tried; each grows the window
            by scale_ratio.
        scale_ratio: growth of the window per scale, in (1, 10].
        list_cap: longest candidate list per point (bounds memory, about 5
            bytes per entry and point).
        threads: OpenMP threads; None uses the runtime's default. Results do
            not depend on it.
        memory_limit: bytes the run may use beyond the cloud itself (an
            integer, or a text such as "2GiB" or "500MB"); None: a quarter
            of the machine's memory. A cloud that needs more is denoised
            tile by tile, with the same result.
        tile_size: largest tile side in length units; None: tiles only as
            the memory limit needs them. Results do not depend on it.
        return_sigma: also return the final noise level of each point.
        progress: None, or a callable receiving the fraction of the run done:
            increasing values in (0, 1], the last one 1.0. It is called from
            a worker thread while the calculation runs; an exception it
            raises is re-raised when the run ends.

    Returns:
        A new float64 array of shape (n, 3); with return_sigma, the tuple
        (points, sigma) where sigma is a float32 array of shape (n,) (NaN for
        non-finite points).

    Points with a NaN or infinite coordinate are returned unchanged and
    reported with a RuntimeWarning; clouds of fewer than three finite points
    are returned unchanged. The GIL is released during the calculation;
    runs started from several threads run at the same time.

    Raises:
        TypeError: an argument of the wrong type or dtype.
        ValueError: a wrong shape or an option out of range (DenoiseError,
            a subclass, for options the pipeline refuses).
    """
    xyz = _checks.points(points)
    scalar_sigma, point_sigma = _sigma_arguments(sigma, xyz.shape[0])
    options = _options(scalar_sigma, spacing, preset, passes, k, base_size, num_scales,
                       scale_ratio, list_cap, threads, memory_limit, tile_size)
    _checks.callback(progress, "progress")
    out, final_sigma, report = _core.denoise_points(xyz, options, point_sigma, progress,
                                                    bool(return_sigma))
    _warn_non_finite(report)
    return (out, final_sigma) if return_sigma else out


def _report_dict(value):
    """A pipeline report (or its parts) as plain Python values."""
    if isinstance(value, list):
        return [_report_dict(item) for item in value]
    if isinstance(value, _core.Preset):
        return value.name
    if isinstance(value, (_core.DenoiseReport, _core.PassReport, _core.DenoiseOptions)):
        return {name: _report_dict(getattr(value, name))
                for name in dir(value) if not name.startswith("_")}
    return value


def denoise_file(input, output, sigma=None, *, spacing=None, preset=_DEFAULT_PRESET,
                 passes=_DEFAULTS.passes, k=_DEFAULTS.k, base_size=_DEFAULTS.base_size,
                 num_scales=_DEFAULTS.num_scales, scale_ratio=_DEFAULTS.scale_ratio,
                 list_cap=_DEFAULTS.list_cap, threads=None, memory_limit=None, tile_size=None,
                 extra=(), overwrite=False, progress=None):
    """Denoise a file into another, keeping every attribute and the layout.

    This is what ``ici3d denoise INPUT OUTPUT`` does, with the same options
    (see denoise(); sigma must be None or a number here). The output format
    follows the output's extension.

    Args:
        input, output: paths (str or os.PathLike). The input is never
            replaced, whatever overwrite says.
        extra: names from EXTRAS, per-point attributes to add (float32).
        overwrite: replace an existing output file.

    Returns:
        The run's report as a dict: point counts ("points", "non_finite",
        "degenerate"), the estimates ("spacing", "sigma", ...), timings in
        seconds, the library parameters ("size_norm", "preselect_size"),
        every effective option ("effective") and one dict per pass
        ("passes").

    Raises:
        ici3d.IoError (an OSError): the input cannot be read or the output
            cannot be written (it exists and overwrite is False, say).
        TypeError, ValueError: as for denoise().
    """
    input, output = os.fspath(input), os.fspath(output)
    if sigma is not None and np.ndim(sigma) != 0:
        raise TypeError("denoise_file takes one sigma for the whole file (a number or None)")
    scalar_sigma, _ = _sigma_arguments(sigma, 0)
    options = _options(scalar_sigma, spacing, preset, passes, k, base_size, num_scales,
                       scale_ratio, list_cap, threads, memory_limit, tile_size)
    extras = (extra,) if isinstance(extra, str) else tuple(extra)
    unknown = [name for name in extras if name not in EXTRAS]
    if unknown:
        raise ValueError(f"extra must name attributes from {EXTRAS}, got {unknown}")
    options.output_sigma = "sigma" in extras
    options.output_displacement = "displacement" in extras
    options.output_normal = "normal" in extras
    _checks.callback(progress, "progress")
    report = _core.denoise_file(input, output, options, progress, bool(overwrite))
    _warn_non_finite(report)
    return _report_dict(report)


def estimate(points, *, threads=None):
    """Spacing and noise level of a cloud, as denoise() estimates them.

    Args:
        points: array-like of shape (n, 3) (see denoise()). Points with a
            NaN or infinite coordinate are ignored.
        threads: OpenMP threads; None uses the runtime's default.

    Returns:
        Estimates (spacing, sigma, and counts of what was measured).
    """
    xyz = _checks.points(points)
    e = _core.estimate_points(xyz, _checks.threads(threads))
    return Estimates(spacing=e.spacing, sigma=e.sigma, finite=e.finite, duplicates=e.duplicates,
                     noise_samples=e.noise_samples, noise_too_few_points=e.noise_too_few_points,
                     noise_collinear=e.noise_collinear, noise_radius=e.noise_radius,
                     noise_fit_points=e.noise_fit_points, noise_rounds=e.noise_rounds)
