"""Compares what ici3d reads from LAS files with an independent reader's JSON
(scripts/dev/las_read_npm.mjs), and checks that the second file keeps every
byte of the first but the positions, bounds, counts and generating software.
Also usable alone on any pair of LAS files: las_compare.py IN.las OUT.las.

Usage: las_compare.py IN.las OUT.las [IN.json OUT.json]"""

import json
import struct
import sys

import numpy as np

import ici3d


def check_reader(path, other):
    cloud = ici3d.read(path)
    a = cloud.attributes
    n = len(cloud)
    theirs = np.array(other["POSITION"]).reshape(n, 3)
    assert np.array_equal(theirs, cloud.points), f"{path}: positions differ"
    assert np.array_equal(other["intensity"], a["intensity"]), f"{path}: intensity differs"
    byte = a["classification"] | a["synthetic"] << 5 | a["key_point"] << 6 | a["withheld"] << 7
    assert np.array_equal(other["classification"], byte), f"{path}: classification byte differs"
    colours = np.array(other["COLOR_0"]).reshape(n, 4)[:, :3]
    ours = np.stack([a["red"], a["green"], a["blue"]], axis=1) >> 8
    assert np.array_equal(colours, ours), f"{path}: colours differ"
    print(f"{path}: {n} points, positions, intensity, classification and colours as the other reader reads them")


def check_bytes(before, after):
    a, b = open(before, "rb").read(), open(after, "rb").read()
    assert len(a) == len(b), "sizes differ"
    header_size, offset = struct.unpack_from("<HI", a, 94)
    length = struct.unpack_from("<H", a, 105)[0]
    changeable = set(range(58, 90)) | set(range(107, 131)) | set(range(179, 227)) | set(range(247, 375))
    header_diff = [k for k in range(header_size) if a[k] != b[k] and k not in changeable]
    assert not header_diff, f"header bytes changed: {header_diff[:10]}"
    assert a[header_size:offset] == b[header_size:offset], "VLRs changed"
    records = struct.unpack_from("<I", a, 107)[0]
    if a[25] >= 4 and header_size >= 375:
        records = struct.unpack_from("<Q", a, 247)[0] or records
    ra = np.frombuffer(a, np.uint8, records * length, offset).reshape(records, length)
    rb = np.frombuffer(b, np.uint8, records * length, offset).reshape(records, length)
    assert np.array_equal(ra[:, 12:], rb[:, 12:]), "non-position record bytes changed"
    assert a[offset + records * length:] == b[offset + records * length:], "EVLRs changed"
    moved = np.count_nonzero(np.any(ra[:, :12] != rb[:, :12], axis=1))
    print(f"{after}: header, VLRs, EVLRs and every non-position byte of {records} records as in {before}; "
          f"{moved} positions moved")


if __name__ == "__main__":
    if len(sys.argv) == 5:
        for path, other in zip(sys.argv[1:3], sys.argv[3:5]):
            with open(other) as f:
                check_reader(path, json.load(f))
    check_bytes(sys.argv[1], sys.argv[2])
