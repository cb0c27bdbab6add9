"""Denoising on a Dask cluster, for clouds too large for one machine.

    from distributed import Client
    import ici3d.distributed
    client = Client("tcp://scheduler:8786")
    ici3d.distributed.denoise_file("/shared/scan.ply", "/shared/clean.ply", client,
                                   sigma=0.002, spacing=0.004)

The output holds the same bytes as ``ici3d denoise`` (or ici3d.denoise_file)
with the same options, and no process ever holds the whole cloud:

1. The input's header is read once; binary PLY and PCD files store every
   point in a record of the same size, so a worker reads points a..b by
   their byte range. Each chunk of points is copied to the output as the
   writer would store it, and its bounding box comes back.
2. Points are assigned to tiles (cubes of ``tile_size`` on a grid) and get
   the Morton code the single-process run orders them by, over the bounding
   box of all finite points: inside a tile and inside every region, points
   stay sorted by (code, index), the order of the whole-cloud run.
3. Each pass runs one task per tile. Its region is the tile's points, every
   point of the neighbouring tiles within the halo of the tile's box, and
   the cloud's first point (the smallest (code, index)); the library call
   then gives the tile's points the results of a whole-cloud pass, bit for
   bit. A tile whose frame neighbours lie beyond the halo is run again with
   the halo it asks for. The pass's centre and settings come from the
   tiles' bounding boxes, as in the single-process run.
4. Each tile's workers encode the final positions into the points' records
   and write them at their offsets in the output file, which is a temporary
   file beside the destination until the run succeeds, then renamed.

sigma and spacing are estimated once, from a sample of whole tiles (points
at their full density), when not given; those estimates come close to the
single-process ones but are not the same numbers, so give both for output
identical to a single-process run.
"""

import math
import os
import tempfile
import time
import uuid

import numpy as np

from . import _core
from ._pipeline import _DEFAULT_PRESET, _DEFAULTS, _options

__all__ = ["denoise_file"]

# A noise level below this many spacings is raised to it, as in the
# single-process run (see denoise_positions).
_SIGMA_FLOOR_IN_SPACINGS = 1e-3

# Points within the halo are taken with this relative margin, so that the
# rounding of a distance computed here can never leave one out.
_HALO_MARGIN = 1e-9

_FORMAT_OF_EXTENSION = {".ply": _core.Format.ply, ".pcd": _core.Format.pcd}


# ---------------------------------------------------------------------------
# Work done on the workers. Every function is at module level, so that Dask
# sends a reference to it, and raises errors that name the file and the
# points it was working on.


def _context(path, what, error):
    """An error about `what` of `path` that keeps the original's type where
    it is one of the package's own."""
    message = f"{path}: {what}: {error}"
    if isinstance(error, _core.DenoiseError):
        return _core.DenoiseError(message)
    return _core.IoError(message)


def _read_records(path, layout, begin, end):
    """Records of points begin..end-1 as a (n, record_size) uint8 array."""
    size = layout.record_size
    want = (end - begin) * size
    start = layout.data_offset + begin * size
    parts, got = [], 0
    fd = os.open(path, os.O_RDONLY)
    try:
        while got < want:
            part = os.pread(fd, min(want - got, 1 << 30), start + got)
            if not part:
                break
            parts.append(part)
            got += len(part)
    finally:
        os.close(fd)
    if got < want:
        raise _core.IoError(
            f"the file ends at byte {start + got}; the header promises {layout.points} records of "
            f"{size} bytes from byte {layout.data_offset}")
    return np.frombuffer(b"".join(parts), np.uint8).reshape(end - begin, size)


def _write_at(fd, offset, data):
    view = memoryview(data).cast("B")
    while view:
        written = os.pwrite(fd, view, offset)
        view, offset = view[written:], offset + written


def _scan_chunk(src, tmp, layout, begin, end):
    """Copies points begin..end-1 to the output as the writer stores them;
    returns (finite points, their lower corner, upper corner)."""
    try:
        records = _read_records(src, layout, begin, end)
        xyz = _core.decode_positions(layout, records)
        copied = _core.encode_positions(layout, records, xyz)
        fd = os.open(tmp, os.O_WRONLY)
        try:
            _write_at(fd, layout.data_offset + begin * layout.record_size, copied)
        finally:
            os.close(fd)
    except Exception as error:
        raise _context(src, f"points {begin} to {end - 1}", error) from error
    finite = xyz[np.isfinite(xyz).all(axis=1)]
    if len(finite) == 0:
        return 0, None, None
    return len(finite), finite.min(axis=0), finite.max(axis=0)


def _assign_chunk(src, layout, begin, end, grid):
    """The finite points of begin..end-1 by tile: {tile: (codes, indices,
    positions)}."""
    try:
        xyz = _core.decode_positions(layout, _read_records(src, layout, begin, end))
    except Exception as error:
        raise _context(src, f"points {begin} to {end - 1}", error) from error
    finite = np.isfinite(xyz).all(axis=1)
    xyz = np.ascontiguousarray(xyz[finite])
    index = np.arange(begin, end, dtype=np.int64)[finite]
    codes = _core.space_filling_codes(xyz, grid["lo"], grid["hi"])
    tiles = _tile_of(xyz, grid)
    order = np.argsort(tiles, kind="stable")
    tiles = tiles[order]
    starts = np.flatnonzero(np.r_[True, tiles[1:] != tiles[:-1]]) if len(tiles) else []
    bounds = list(starts) + [len(tiles)]
    out = {}
    for s, e in zip(bounds[:-1], bounds[1:]):
        chosen = order[s:e]
        out[int(tiles[s])] = (codes[chosen], index[chosen], xyz[chosen])
    return out


def _tile_of(xyz, grid):
    cells = np.floor((xyz - grid["lo"]) / grid["side"])
    dims = grid["dims"]
    cells = np.clip(cells, 0, dims - 1).astype(np.int64)
    return cells[:, 0] + dims[0] * (cells[:, 1] + dims[1] * cells[:, 2])


def _tiles_in_chunk(pieces):
    return {tile: len(part[1]) for tile, part in pieces.items()}


def _piece(pieces, tile):
    return pieces[tile]


def _build_tile(*parts):
    """A tile's state: (codes, indices, positions, noise levels or None),
    in the cloud's order."""
    codes = np.concatenate([p[0] for p in parts])
    index = np.concatenate([p[1] for p in parts])
    xyz = np.concatenate([p[2] for p in parts])
    order = np.lexsort((index, codes))
    return codes[order], index[order], np.ascontiguousarray(xyz[order]), None


def _summary(state):
    """(points, lower corner, upper corner, first point) of a tile, or
    ("far", needed halo) for a tile that must be run again."""
    if isinstance(state, _Far):
        return ("far", state.needed_halo)
    codes, index, xyz, noise = state[:4]
    first = (int(codes[0]), int(index[0]), xyz[0].copy(), None if noise is None else noise[0])
    return len(index), xyz.min(axis=0), xyz.max(axis=0), first


class _Far:
    """A tile's result when its region was too small: the halo it needs."""

    def __init__(self, needed_halo):
        self.needed_halo = needed_halo


def _distance_to_box(xyz, lo, hi):
    gap = np.maximum(np.maximum(lo - xyz, xyz - hi), 0.0)
    return np.sqrt((gap * gap).sum(axis=1))


def _run_tile(src, tile, state, neighbours, first, sigma, settings, halo, extent, threads):
    """One pass over a tile: its new state, or _Far."""
    codes, index, xyz, noise = state
    if noise is None:
        noise = np.full(len(index), np.float32(sigma), np.float32)
    lo, hi = xyz.min(axis=0), xyz.max(axis=0)
    take = halo * (1 + _HALO_MARGIN)
    parts = [(codes, index, xyz, noise, np.ones(len(index), np.uint8))]
    for other in neighbours:
        o_codes, o_index, o_xyz, o_noise = other
        if o_noise is None:
            o_noise = np.full(len(o_index), np.float32(sigma), np.float32)
        near = _distance_to_box(o_xyz, lo, hi) <= take
        parts.append((o_codes[near], o_index[near], o_xyz[near], o_noise[near],
                      np.zeros(int(near.sum()), np.uint8)))
    f_code, f_index, f_xyz, f_noise = first
    f_noise = np.float32(sigma) if f_noise is None else f_noise
    parts.append((np.array([f_code], np.uint64), np.array([f_index], np.int64),
                  np.asarray(f_xyz, np.float64).reshape(1, 3), np.array([f_noise], np.float32),
                  np.zeros(1, np.uint8)))
    r_codes, r_index, r_xyz, r_noise, r_core = (np.concatenate(column) for column in zip(*parts))
    # The cloud's order; a point taken twice (the first point) keeps its
    # core copy.
    order = np.lexsort((1 - r_core, r_index, r_codes))
    r_index, r_xyz, r_noise, r_core = r_index[order], r_xyz[order], r_noise[order], r_core[order]
    keep = np.r_[True, r_index[1:] != r_index[:-1]]
    try:
        points, new_xyz, new_noise, kept = _core.denoise_tile(
            np.ascontiguousarray(r_xyz[keep]), np.ascontiguousarray(r_noise[keep]),
            np.ascontiguousarray(r_core[keep]), lo, hi, halo, extent, settings, threads)
    except _core.FarNeighboursError as error:
        return _Far(error.needed_halo)
    except Exception as error:
        raise _context(src, f"tile {tile} ({len(index)} points)", error) from error
    if len(points) != len(index):
        raise _core.DenoiseError(f"{src}: tile {tile}: {len(points)} results for {len(index)} points")
    return codes, index, new_xyz, new_noise, int(kept.sum())


def _pass_state(result):
    """A tile's state without the count of points kept in place."""
    return result[:4]


def _kept(result):
    return result[4]


def _estimate(samples, threads):
    """(spacing, sigma) of the sampled points."""
    xyz = np.ascontiguousarray(np.concatenate([state[2][:count] for state, count in samples]))
    estimates = _core.estimate_points(xyz, threads)
    return estimates.spacing, estimates.sigma


def _write_tile(src, tmp, layout, tile, state):
    """Writes the tile's points, their final positions encoded into their
    records, at their offsets in the output."""
    _, index, xyz, _ = state
    order = np.argsort(index)
    index, xyz = index[order], np.ascontiguousarray(xyz[order])
    breaks = np.flatnonzero(np.diff(index) != 1) + 1
    starts = np.r_[0, breaks]
    ends = np.r_[breaks, len(index)]
    size = layout.record_size
    try:
        records = np.concatenate([_read_records(src, layout, int(index[s]), int(index[e - 1]) + 1)
                                  for s, e in zip(starts, ends)])
        encoded = _core.encode_positions(layout, records, xyz)
        fd = os.open(tmp, os.O_WRONLY)
        try:
            for s, e in zip(starts, ends):
                _write_at(fd, layout.data_offset + int(index[s]) * size, encoded[s:e])
            os.fsync(fd)
        finally:
            os.close(fd)
    except Exception as error:
        raise _context(src, f"tile {tile} ({len(index)} points)", error) from error
    return len(index)


# ---------------------------------------------------------------------------
# The run, driven from the client.


def _boxes_within(boxes, lo, hi, reach):
    """Indices of the boxes (lo, hi arrays of shape (t, 3)) within `reach`
    of the box lo..hi."""
    gap = np.maximum(np.maximum(boxes[0] - hi, lo - boxes[1]), 0.0)
    return np.flatnonzero(np.sqrt((gap * gap).sum(axis=1)) <= reach)


class _Run:
    """The state of one call of denoise_file on the client."""

    def __init__(self, client, src, tmp, layout, options, threads):
        self.client = client
        self.src, self.tmp, self.layout = src, tmp, layout
        self.options, self.threads = options, threads
        self.token = uuid.uuid4().hex[:12]
        self.futures = []  # every future still wanted, to cancel on failure

    def submit(self, name, function, *args):
        future = self.client.submit(function, *args, key=f"ici3d-{name}-{self.token}", pure=False)
        self.futures.append(future)
        return future

    def gather(self, futures):
        return self.client.gather(futures)

    def release(self, futures):
        ids = {id(f) for f in futures}
        self.futures = [f for f in self.futures if id(f) not in ids]

    def keep(self, futures):
        """Forgets every future but these: Dask frees what nothing wants."""
        self.futures = list(futures)

    def cancel(self):
        if self.futures:
            self.client.cancel(self.futures)
        self.futures = []

    # -- stages ----------------------------------------------------------

    def scan(self, chunks):
        futures = [self.submit(f"scan-{b}", _scan_chunk, self.src, self.tmp, self.layout, b, e)
                   for b, e in chunks]
        results = self.gather(futures)
        # Once gathered nothing may run them again: a copy written after
        # the final positions would undo them.
        self.release(futures)
        del futures
        found = [r for r in results if r[0] > 0]
        if not found:
            return 0, None, None
        return (sum(r[0] for r in found), np.min([r[1] for r in found], axis=0),
                np.max([r[2] for r in found], axis=0))

    def tiles(self, chunks, grid):
        assigned = [self.submit(f"assign-{b}", _assign_chunk, self.src, self.layout, b, e, grid)
                    for b, e in chunks]
        listed = self.gather([self.submit(f"list-{b}", _tiles_in_chunk, f)
                              for (b, _), f in zip(chunks, assigned)])
        pieces = {}
        for (b, _), future, tiles in zip(chunks, assigned, listed):
            for tile in tiles:
                pieces.setdefault(tile, []).append(
                    self.submit(f"piece-{b}-{tile}", _piece, future, tile))
        ids = sorted(pieces)
        states = [self.submit(f"tile-{t}", _build_tile, *pieces[t]) for t in ids]
        self.keep(states)
        return ids, states

    def estimate(self, states, summaries, sample_points):
        """Spacing and sigma from whole tiles spread over the cloud."""
        counts = np.array([s[0] for s in summaries])
        # Every stride-th tile first, so that the sample spreads over the
        # cloud; then the others, should those not hold enough points.
        wanted_tiles = max(1, math.ceil(sample_points / counts.mean()))
        stride = max(1, len(states) // wanted_tiles)
        order = list(range(0, len(states), stride))
        order += [t for t in range(len(states)) if t % stride]
        picked, total = [], 0
        for t in order:
            if total >= sample_points:
                break
            take = int(min(counts[t], sample_points - total))
            picked.append((t, take))
            total += take
        future = self.submit("estimate", _estimate, [(states[t], n) for t, n in picked], self.threads)
        result = future.result()
        self.release([future])
        return result

    def run_pass(self, p, ids, states, summaries, sigma):
        boxes = (np.array([s[1] for s in summaries]), np.array([s[2] for s in summaries]))
        lo, hi = boxes[0].min(axis=0), boxes[1].max(axis=0)
        centre = _core.bounding_box_centre(np.array([lo, hi]))
        extent = float(np.max(hi - lo))
        points = sum(s[0] for s in summaries)
        settings = _core.pass_settings(self.options, centre, points)
        halo = _core.tile_halo(settings, extent)
        first = min((s[3] for s in summaries), key=lambda f: (f[0], f[1]))

        def submit(t, reach, attempt):
            near = range(len(ids)) if math.isinf(reach) else _boxes_within(
                boxes, boxes[0][t], boxes[1][t], reach * (1 + _HALO_MARGIN))
            neighbours = [states[u] for u in near if u != t]
            return self.submit(f"pass{p}-{attempt}-{ids[t]}", _run_tile, self.src, ids[t], states[t],
                               neighbours, first, sigma, settings, reach, extent, self.threads)

        results = [submit(t, halo, 0) for t in range(len(ids))]
        retries, attempt = 0, 0
        while True:
            outcome = self.gather([self.submit(f"check{p}-{attempt}-{ids[t]}", _summary, f)
                                   for t, f in enumerate(results)])
            far = [t for t, s in enumerate(outcome) if s[0] == "far"]
            if not far:
                break
            attempt += 1
            retries += len(far)
            for t in far:
                needed = max(halo, outcome[t][1])
                self.release([results[t]])
                results[t] = submit(t, needed, attempt)
        new_states = [self.submit(f"state{p}-{ids[t]}", _pass_state, f) for t, f in enumerate(results)]
        kept = sum(self.gather([self.submit(f"kept{p}-{ids[t]}", _kept, f)
                                for t, f in enumerate(results)]))
        summaries = self.gather([self.submit(f"summary{p}-{ids[t]}", _summary, f)
                                 for t, f in enumerate(new_states)])
        self.keep(new_states)
        return new_states, summaries, {"halo": halo, "retried_tiles": retries, "kept": kept}

    def write(self, ids, states):
        futures = [self.submit(f"write-{t}", _write_tile, self.src, self.tmp, self.layout, t, s)
                   for t, s in zip(ids, states)]
        return sum(self.gather(futures))


def _default_tile_size(extent, points, tile_points):
    """A cube side that gives about `tile_points` points per tile on a
    surface spread over the bounding box."""
    per_side = max(1, math.ceil(math.sqrt(points / tile_points)))
    return extent / per_side if extent > 0 else 1.0


def _grid(lo, hi, side):
    dims = np.floor((hi - lo) / side).astype(np.int64) + 1
    if float(np.prod(dims.astype(np.float64))) > 2.0 ** 62:
        raise ValueError(f"tile_size {side} is far too small for a cloud of extent {np.max(hi - lo)}")
    return {"lo": lo, "hi": hi, "side": side, "dims": dims}


def _check_destination(src, dst, layout, overwrite):
    extension = os.path.splitext(dst)[1].lower()
    wanted = _FORMAT_OF_EXTENSION.get(extension)
    if wanted != layout.format:
        raise _core.IoError(
            f"{dst}: a distributed run writes the input's format ({layout.format.name}); "
            f"give the output the extension .{layout.format.name}")
    if os.path.isdir(dst):
        raise _core.IoError(f"{dst}: is a directory")
    if os.path.exists(dst):
        if os.path.samefile(src, dst):
            raise _core.IoError(f"{dst}: is the input file; refusing to replace it")
        if not overwrite:
            raise _core.IoError(f"{dst}: file exists; refusing to replace it (set overwrite)")


def _client_or_default(client):
    if client is not None:
        return client, None
    from distributed import Client, default_client
    try:
        return default_client(), None
    except ValueError:
        own = Client(processes=True)
        return own, own


def denoise_file(src, dst, client=None, *, sigma=None, spacing=None, preset=_DEFAULT_PRESET,
                 passes=_DEFAULTS.passes, k=_DEFAULTS.k, base_size=_DEFAULTS.base_size,
                 num_scales=_DEFAULTS.num_scales, scale_ratio=_DEFAULTS.scale_ratio,
                 list_cap=_DEFAULTS.list_cap, threads=1, tile_size=None, tile_points=1_000_000,
                 chunk_points=1_000_000, sample_points=200_000, overwrite=False):
    """Denoise a binary PLY or PCD file on a Dask cluster.

    The output holds the bytes that ``ici3d denoise src dst`` writes with
    the same options; sigma and spacing must be given for that (estimates
    from a sample are close, not identical). Every worker must see `src` and
    the folder of `dst` under the same paths (a shared file system) and
    import the ici3d package.

    Args:
        src, dst: paths (str or os.PathLike). The input is a binary PLY file
            of vertices only or a PCD file with binary data; the output is
            written in the same format and encoding, so dst must have the
            same extension (.ply or .pcd).
        client: a distributed.Client; None uses the current default client,
            or starts a local cluster for this call.
        sigma, spacing: noise level and point spacing in length units; None
            estimates them from about `sample_points` points of whole tiles.
        preset, passes, k, base_size, num_scales, scale_ratio, list_cap: as
            for ici3d.denoise_file.
        threads: OpenMP threads of each tile's task (results do not depend
            on it); match it to the cores per worker thread.
        tile_size: side of the cubic tiles in length units; None picks one
            that gives about `tile_points` points per tile on a surface.
            Each task holds its tile and the neighbouring tiles it needs.
        chunk_points: points per read of the input.
        overwrite: replace an existing dst.

    Returns:
        A dict: points, non_finite, sigma, spacing (and whether each was
        estimated), tiles, chunks, and per pass the halo, the tiles run
        again with a wider halo and the points kept in place; seconds.

    Raises:
        ici3d.IoError: the input is not a binary PLY or PCD file, a worker
            cannot read its points (the message names the file and the
            points), the output cannot be written.
        ici3d.DenoiseError, TypeError, ValueError: bad options.

    On any failure the temporary output is removed and dst is left as it
    was. Lost workers are replaced by Dask, which runs their tasks again
    (set distributed.scheduler.allowed-failures for flaky clusters).
    """
    started = time.monotonic()
    src, dst = os.fspath(src), os.fspath(dst)
    if sigma is not None and not (np.ndim(sigma) == 0 and float(sigma) > 0):
        raise ValueError(f"sigma must be a number > 0 or None, got {sigma!r}")
    options = _options(0.0 if sigma is None else float(sigma), spacing, preset, passes, k,
                       base_size, num_scales, scale_ratio, list_cap, threads)
    _core.validate_options(options)
    for value, name in ((chunk_points, "chunk_points"), (tile_points, "tile_points"),
                        (sample_points, "sample_points")):
        if not isinstance(value, int) or value < 1:
            raise ValueError(f"{name} must be a positive integer, got {value!r}")
    if tile_size is not None and not (math.isfinite(tile_size) and tile_size > 0):
        raise ValueError(f"tile_size must be > 0 or None, got {tile_size}")
    layout, header = _core.open_record_file(src)
    _check_destination(src, dst, layout, overwrite)

    client, own_client = _client_or_default(client)
    folder = os.path.dirname(os.path.abspath(dst))
    fd, tmp = tempfile.mkstemp(dir=folder, prefix=f".{os.path.basename(dst)}.tmp-")
    run = _Run(client, src, tmp, layout, options, options.threads)
    try:
        with os.fdopen(fd, "wb") as out:
            out.write(header)
            out.truncate(len(header) + layout.points * layout.record_size)
        report = _distributed_run(run, layout, options, sigma, spacing, tile_size, tile_points,
                                  chunk_points, sample_points)
        try:
            mode = os.stat(dst).st_mode & 0o7777
        except FileNotFoundError:
            mode = 0o644
        os.chmod(tmp, mode)
        os.replace(tmp, dst)
    except BaseException:
        run.cancel()
        try:
            os.remove(tmp)
        except FileNotFoundError:
            pass
        raise
    finally:
        if own_client is not None:
            own_client.close()
    report["seconds"] = time.monotonic() - started
    return report


def _distributed_run(run, layout, options, sigma, spacing, tile_size, tile_points, chunk_points,
                     sample_points):
    n = layout.points
    chunks = [(b, min(b + chunk_points, n)) for b in range(0, n, chunk_points)]
    finite, lo, hi = run.scan(chunks)
    report = {"points": n, "non_finite": n - finite, "chunks": len(chunks), "tiles": 0,
              "sigma": sigma, "spacing": spacing, "sigma_estimated": sigma is None,
              "spacing_estimated": spacing is None, "passes": []}
    if finite < 3:
        return report  # nothing to fit a plane to: written unchanged
    extent = float(np.max(hi - lo))
    side = tile_size if tile_size is not None else _default_tile_size(extent, finite, tile_points)
    ids, states = run.tiles(chunks, _grid(lo, hi, side))
    summaries = run.gather([run.submit(f"summary-{t}", _summary, s) for t, s in zip(ids, states)])
    report["tiles"] = len(ids)
    if sigma is None or spacing is None:
        est_spacing, est_sigma = run.estimate(states, summaries, sample_points)
        if spacing is None:
            spacing = est_spacing
        if sigma is None:
            sigma = est_sigma
            if math.isfinite(spacing) and not sigma >= _SIGMA_FLOOR_IN_SPACINGS * spacing:
                sigma = _SIGMA_FLOOR_IN_SPACINGS * spacing
        report["sigma"], report["spacing"] = sigma, spacing
    if not (spacing > 0 and math.isfinite(spacing) and sigma > 0):
        return report  # no surface to measure: written unchanged
    options.sigma, options.spacing = float(sigma), float(spacing)
    for p in range(options.passes):
        states, summaries, stats = run.run_pass(p, ids, states, summaries, sigma)
        report["passes"].append(stats)
    run.write(ids, states)
    return report
