"""Writes a LAS 1.2 file of point format 3 with random records and UTM-sized
offsets, made byte by byte from the ASPRS layout (no ici3d code involved).

Usage: python3 scripts/dev/las_make_sample.py OUT.las [POINTS]"""

import random
import struct
import sys


def main(path, points):
    rng = random.Random(5)
    scale, offset = (0.01, 0.01, 0.001), (500000.0, 5200000.0, 0.0)
    records = []
    for _ in range(points):
        xyz = [rng.randint(-2_000_000, 2_000_000) for _ in range(3)]
        returns = rng.randint(1, 5)
        flags = rng.randint(1, returns) | (returns << 3) | (rng.randint(0, 1) << 6) | (rng.randint(0, 1) << 7)
        records.append(struct.pack("<3iHBBbBHd3H", *xyz, rng.randint(0, 65535), flags, rng.randint(0, 255),
                                   rng.randint(-90, 90), rng.randint(0, 255), rng.randint(0, 65535),
                                   rng.uniform(0, 6e5), *(rng.randint(0, 65535) for _ in range(3))))
    xs = [[struct.unpack_from("<3i", r)[c] * scale[c] + offset[c] for r in records] for c in range(3)]
    vlr = struct.pack("<H16sHH32s", 0, b"sample", 1, 5, b"a VLR kept as it is") + b"hello"
    header_size, data_offset = 227, 227 + len(vlr)
    header = struct.pack("<4sHHIHH8sBB32s32sHHHIIBHI5I3d3d6d", b"LASF", 7, 0, 0, 0, 0, b"\0" * 8, 1, 2,
                         b"HAND MADE", b"las_make_sample.py", 100, 2026, header_size, data_offset, 1, 3, 34,
                         points, points, 0, 0, 0, 0, *scale, *offset,
                         max(xs[0]), min(xs[0]), max(xs[1]), min(xs[1]), max(xs[2]), min(xs[2]))
    assert len(header) == header_size
    with open(path, "wb") as out:
        out.write(header + vlr + b"".join(records))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 5000)
