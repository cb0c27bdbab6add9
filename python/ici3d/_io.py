"""Reading and writing point-cloud files: PLY (ascii, binary little and big
endian), XYZ-style text (.xyz .txt .csv .pts), PCD (ascii, binary,
binary_compressed) and LAS 1.0 to 1.4 (uncompressed), keeping every
per-point attribute."""

import os

import numpy as np

from . import _checks, _core

_FORMATS = {None: _core.Format.auto, "ply": _core.Format.ply, "xyz": _core.Format.xyz,
            "pcd": _core.Format.pcd, "las": _core.Format.las}
_ENCODINGS = {None: None, "ascii": _core.Encoding.ascii,
              "binary": _core.Encoding.binary_little_endian,
              "binary_little_endian": _core.Encoding.binary_little_endian,
              "binary_big_endian": _core.Encoding.binary_big_endian,
              "binary_compressed": _core.Encoding.binary_compressed}


class Cloud:
    """A point cloud: positions, per-point attributes and, for a cloud read
    from a file, how that file was stored.

    Attributes:
        points: float64 array of shape (n, 3).
        attributes: dict mapping each attribute name to an array of shape
            (n,) with the attribute's own dtype (int8..uint64, float32,
            float64), in file order.
        layout: how the source file was stored (format, encoding, property
            types and order, comments, other PLY elements), or None. Writing
            to the same format reproduces it; attributes added or removed
            since are written or left out.
    """

    __slots__ = ("points", "attributes", "layout")

    def __init__(self, points, attributes=None, layout=None):
        self.points = _checks.points(points)
        self.attributes = dict(attributes or {})
        self.layout = layout

    def __len__(self):
        return self.points.shape[0]

    def __repr__(self):
        names = ", ".join(f"{name}: {values.dtype}" for name, values in self.attributes.items())
        return f"Cloud({len(self)} points, attributes {{{names}}})"


def _choice(table, value, name):
    if value is not None and not isinstance(value, str):
        raise TypeError(f"{name} must be a string or None, got {type(value).__name__}")
    key = value.lower() if value else None
    if key not in table:
        choices = ", ".join(k for k in table if k)
        raise ValueError(f"{name} must be one of {choices} or None, got {value!r}")
    return table[key]


def read(path, *, format=None):
    """Read a point-cloud file.

    Args:
        path: str or os.PathLike.
        format: "ply", "xyz", "pcd" or "las"; None tells it from the
            extension, or else from the content.

    Returns:
        A Cloud with every point in file order and every per-point property
        as an attribute.

    Raises:
        ici3d.IoError (an OSError): the file cannot be read; the message
            names the file, the line or byte offset and what was expected.
    """
    points, attributes, layout = _core.read_cloud(os.fspath(path), _choice(_FORMATS, format, "format"))
    return Cloud(points, dict(attributes), layout)


def _attribute_values(name, values):
    if not isinstance(name, str):
        raise TypeError(f"attribute names must be strings, got {type(name).__name__}")
    array = np.asarray(values)
    return np.ascontiguousarray(array, dtype=array.dtype.newbyteorder("="))


def write(path, cloud, *, format=None, encoding=None, overwrite=False):
    """Write a point-cloud file atomically (a temporary file, then a rename).

    Args:
        path: str or os.PathLike.
        cloud: a Cloud, or an array of shape (n, 3) for positions alone.
        format: "ply", "xyz", "pcd" or "las"; None tells it from the
            extension. A LAS file keeps the header, VLRs, point format,
            scale and offset of a cloud read from LAS (set cloud.layout to
            None for a new LAS 1.4 file, where other attributes become extra
            bytes); positions are rounded to the nearest scale step.
        encoding: "ascii", "binary" (little endian), "binary_big_endian"
            (PLY) or "binary_compressed" (PCD); None keeps the source
            file's when the format matches, else binary (ascii for text).
        overwrite: replace an existing file (the file the cloud was read
            from included).

    Raises:
        TypeError: an attribute dtype no format stores (bool, float16,
            complex, ...); PLY also refuses 64-bit integers (IoError).
        ici3d.IoError: also a LAS position beyond the 32-bit range of its
            scale and offset, a value a LAS field cannot hold, or an
            attribute the records of the source LAS file have no place for.
        ValueError: an attribute of the wrong length, or named x, y or z.
        ici3d.IoError (an OSError): the file cannot be written or exists.
    """
    if not isinstance(cloud, Cloud):
        cloud = Cloud(cloud)
    points = _checks.points(cloud.points, name="cloud.points")
    names = list(cloud.attributes)
    values = [_attribute_values(name, cloud.attributes[name]) for name in names]
    _core.write_cloud(os.fspath(path), points, names, values, cloud.layout,
                      _choice(_FORMATS, format, "format"), _choice(_ENCODINGS, encoding, "encoding"),
                      bool(overwrite))
