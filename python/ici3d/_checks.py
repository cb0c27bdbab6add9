"""Input checks shared by the package: every public function turns its
arguments into arrays of the exact dtype and order the compiled layer takes,
copying only when needed, and raises TypeError (wrong kind of value) or
ValueError (wrong shape or range) with the expected and the actual value."""

import numbers
import operator

import numpy as np

_REAL_KINDS = "fiu"


def real_array(value, name, dtype, shape_text, ndim):
    """`value` as a C-ordered array of `dtype` with `ndim` dimensions.

    `shape_text` describes the expected shape in messages, e.g. "(n, 3)".
    The input is never modified: a copy is made whenever its dtype or
    order differ, and the compiled layer only reads the array it gets."""
    array = np.asarray(value)
    if array.dtype.kind not in _REAL_KINDS:
        raise TypeError(f"{name} must hold real numbers (float32 or float64), got dtype {array.dtype}")
    if array.ndim != ndim:
        raise ValueError(f"{name} must have shape {shape_text}, got {array.shape}")
    return np.ascontiguousarray(array, dtype=dtype)


def points(value, dtype=np.float64, name="points"):
    """An (n, 3) array of points as `dtype`, C order."""
    array = real_array(value, name, dtype, "(n, 3)", 2)
    if array.shape[1] != 3:
        raise ValueError(f"{name} must have shape (n, 3), got {array.shape}")
    return array


def per_point(value, n, dtype, name):
    """An (n,) array of one value per point as `dtype`."""
    array = real_array(value, name, dtype, f"({n},)", 1)
    if array.shape[0] != n:
        raise ValueError(f"{name} must have shape ({n},), got {array.shape}")
    return array


def index_array(value, name, ndim, dtype=np.int32):
    """An integer array as `dtype` (int32 or int64), refusing values that
    the conversion would change."""
    array = np.asarray(value)
    if array.dtype.kind not in "iu":
        raise TypeError(f"{name} must hold integers, got dtype {array.dtype}")
    if array.ndim != ndim:
        raise ValueError(f"{name} must have {ndim} dimension(s), got shape {array.shape}")
    limits = np.iinfo(dtype)
    if array.size and (array.min() < limits.min or array.max() > limits.max):
        raise ValueError(f"{name} holds values outside the range of {np.dtype(dtype).name}")
    return np.ascontiguousarray(array, dtype=dtype)


INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1


def integer(value, name, low=INT32_MIN, high=INT32_MAX):
    """A Python int within [low, high] (bools refused)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, got {type(value).__name__}")
    value = operator.index(value)
    if not low <= value <= high:
        raise ValueError(f"{name} must be in {low}..{high}, got {value}")
    return value


def positive(value, name):
    """A finite float > 0."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, got {type(value).__name__}")
    value = float(value)
    if not (np.isfinite(value) and value > 0):
        raise ValueError(f"{name} must be finite and > 0, got {value}")
    return value


def threads(value):
    """Thread count for the compiled layer: None gives 0 (runtime default)."""
    return 0 if value is None else integer(value, "threads", 1, 4096)


def callback(value, name):
    """None or a callable."""
    if value is not None and not callable(value):
        raise TypeError(f"{name} must be callable or None, got {type(value).__name__}")
    return value
