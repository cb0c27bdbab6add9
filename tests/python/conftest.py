"""Shared fixtures: small seeded clouds on a gently curved surface."""

import numpy as np
import pytest


def wavy_surface(n, seed=0, noise=0.01):
    """n noisy points on z = 0.1 sin(3x) over [-1, 1]^2, rounded to float32
    values so that float32 and float64 copies hold the same numbers."""
    rng = np.random.default_rng(seed)
    u, v = rng.uniform(-1.0, 1.0, (2, n))
    z = 0.1 * np.sin(3.0 * u) + rng.normal(0.0, noise, n)
    return np.c_[u, v, z].astype(np.float32).astype(np.float64)


@pytest.fixture
def cloud():
    return wavy_surface(1500)


def same_bits(a, b):
    """Equal shapes, dtypes and bytes (NaN payloads and signed zeros included)."""
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()
