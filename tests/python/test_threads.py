"""The GIL is released while the pipeline runs, and runs from several
threads neither deadlock nor mix their results."""

import threading
import time

import numpy as np

import ici3d
from conftest import same_bits, wavy_surface


def start_thread(function, *args):
    result = {}
    thread = threading.Thread(target=lambda: result.setdefault("value", function(*args)))
    thread.start()
    return thread, result


def main_thread_rate(function, *args):
    """Iterations per second of a counting loop in the main thread while
    function(*args) runs in another thread, and the function's result."""
    start, iterations = time.perf_counter(), 0
    thread, result = start_thread(function, *args)
    while thread.is_alive():
        iterations += 1
    elapsed = time.perf_counter() - start
    thread.join()
    return iterations / elapsed, result["value"]


def assert_main_thread_keeps_running(function, *args):
    # A sleeping thread releases the GIL: the loop's rate then is the most it
    # can reach. A calculation holding the GIL would freeze the loop for
    # nearly all of its duration (rate near 0); one releasing it on one
    # OpenMP thread leaves the loop a core of its own.
    free_rate, _ = main_thread_rate(time.sleep, 0.2)
    rate, value = main_thread_rate(function, *args)
    assert rate > 0.2 * free_rate, f"main thread ran at {rate:.0f}/s, {free_rate:.0f}/s when free"
    return value


def test_main_thread_runs_while_denoise_computes():
    points = wavy_surface(6000)
    out = assert_main_thread_keeps_running(lambda: ici3d.denoise(points, threads=1))
    assert out.shape == points.shape


def test_estimate_releases_the_gil_too():
    points = wavy_surface(6000)
    e = assert_main_thread_keeps_running(
        lambda: [ici3d.estimate(points, threads=1) for _ in range(5)][-1])
    assert np.isfinite(e.spacing)


def test_concurrent_runs_finish_with_their_own_results():
    clouds = [wavy_surface(3000, seed=s) for s in (1, 2, 3)]
    expected = [ici3d.denoise(c) for c in clouds]
    fractions = []
    runs = [start_thread(ici3d.denoise, c) for c in clouds]
    runs.append(start_thread(lambda: ici3d.denoise(clouds[0], progress=fractions.append)))
    for thread, _ in runs:
        thread.join(timeout=120)
        assert not thread.is_alive(), "a denoise run did not finish"
    for (_, result), want in zip(runs, expected + expected[:1]):
        assert same_bits(result["value"], want)
    assert fractions[-1] == 1.0


def test_two_runs_overlap_in_time():
    # The first progress report of each run waits for the other run's first
    # report: both finish only if they run at the same time (runs taking
    # turns would leave the barrier broken after its timeout).
    clouds = [wavy_surface(3000, seed=s) for s in (4, 5)]
    expected = [ici3d.denoise(c) for c in clouds]
    barrier = threading.Barrier(2, timeout=30)
    met = []

    def meet_once(fractions):
        def progress(fraction):
            if not fractions:
                barrier.wait()
                met.append(time.perf_counter())
            fractions.append(fraction)
        return progress

    fractions = [[], []]
    runs = [start_thread(lambda k=k: ici3d.denoise(clouds[k], progress=meet_once(fractions[k])))
            for k in (0, 1)]
    for thread, _ in runs:
        thread.join(timeout=120)
        assert not thread.is_alive(), "a denoise run did not finish"
    assert not barrier.broken
    assert len(met) == 2
    for (_, result), want in zip(runs, expected):
        assert same_bits(result["value"], want)
    for f in fractions:
        assert f == sorted(set(f)) and f[-1] == 1.0
