"""ici3d.read / ici3d.write: attributes, dtypes, layouts and errors."""

import numpy as np
import pytest

import ici3d
from conftest import same_bits

ALL_DTYPES = ["int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64",
              "float32", "float64"]


def attributes_of_every_type(n, dtypes, seed=0):
    rng = np.random.default_rng(seed)
    out = {}
    for name in dtypes:
        kind = np.dtype(name)
        if kind.kind == "f":
            out["a_" + name] = rng.normal(size=n).astype(kind)
        else:
            info = np.iinfo(kind)
            out["a_" + name] = rng.integers(info.min, info.max, size=n, dtype=kind, endpoint=True)
    return out


@pytest.fixture
def points():
    return np.random.default_rng(3).normal(size=(40, 3))


class TestRoundTrip:
    @pytest.mark.parametrize("name, encoding, dtypes", [
        ("c.ply", "binary", ALL_DTYPES[:6] + ALL_DTYPES[8:]),
        ("c.ply", "binary_big_endian", ALL_DTYPES[:6] + ALL_DTYPES[8:]),
        ("c.pcd", "binary_compressed", ALL_DTYPES),
        ("c.pcd", "ascii", ALL_DTYPES),
    ])
    def test_attributes_keep_values_dtypes_and_order(self, points, tmp_path, name, encoding, dtypes):
        attributes = attributes_of_every_type(len(points), dtypes)
        ici3d.write(tmp_path / name, ici3d.Cloud(points, attributes), encoding=encoding)
        cloud = ici3d.read(tmp_path / name)
        assert same_bits(cloud.points, points)
        assert list(cloud.attributes) == list(attributes)
        for key, values in attributes.items():
            assert same_bits(cloud.attributes[key], values), key

    def test_text_keeps_integer_and_float_columns(self, points, tmp_path):
        labels = np.arange(len(points), dtype=np.int32)
        ici3d.write(tmp_path / "c.xyz", ici3d.Cloud(points, {"label": labels}))
        cloud = ici3d.read(tmp_path / "c.xyz")
        np.testing.assert_allclose(cloud.points, points, rtol=1e-15)
        assert same_bits(cloud.attributes["label"], labels)

    def test_layout_of_the_source_is_kept(self, tmp_path):
        (tmp_path / "in.ply").write_text(
            "ply\nformat ascii 1.0\ncomment scanned today\nelement vertex 2\n"
            "property float x\nproperty float y\nproperty float z\nproperty uchar red\n"
            "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
            "0 0 0 10\n1 0 0 20\n3 0 1 1\n")
        cloud = ici3d.read(tmp_path / "in.ply")
        assert cloud.layout.encoding == ici3d._core.Encoding.ascii
        assert cloud.layout.comments == ["scanned today"]
        assert cloud.attributes["red"].dtype == np.uint8
        cloud.attributes["red"] = cloud.attributes["red"] + np.uint8(1)
        ici3d.write(tmp_path / "out.ply", cloud)
        text = (tmp_path / "out.ply").read_text()
        assert "comment scanned today" in text and "property float x" in text
        assert "element face 1" in text and text.endswith("0 0 0 11\n1 0 0 21\n3 0 1 1\n")

    def test_non_native_byte_order_and_views_are_written_as_values(self, points, tmp_path):
        swapped = np.arange(len(points), dtype=">f4")
        strided = np.arange(2 * len(points), dtype=np.int16)[::2]
        ici3d.write(tmp_path / "c.ply", ici3d.Cloud(points, {"s": swapped, "t": strided}))
        cloud = ici3d.read(tmp_path / "c.ply")
        assert same_bits(cloud.attributes["s"], swapped.astype(np.float32))
        assert same_bits(cloud.attributes["t"], strided.copy())

    def test_bare_array_float32_and_empty_cloud(self, points, tmp_path):
        ici3d.write(tmp_path / "p.pcd", points.astype(np.float32))
        assert same_bits(ici3d.read(tmp_path / "p.pcd").points, points.astype(np.float32).astype(float))
        ici3d.write(tmp_path / "e.ply", np.empty((0, 3)))
        empty = ici3d.read(tmp_path / "e.ply")
        assert empty.points.shape == (0, 3) and len(empty) == 0

    def test_explicit_format_overrides_the_extension(self, points, tmp_path):
        ici3d.write(tmp_path / "c.dat", points, format="ply")
        assert (tmp_path / "c.dat").read_bytes().startswith(b"ply\n")
        assert same_bits(ici3d.read(tmp_path / "c.dat", format="ply").points, points)


class TestErrors:
    def test_missing_file_is_an_oserror_naming_it(self, tmp_path):
        with pytest.raises(ici3d.IoError, match="missing.ply") as caught:
            ici3d.read(tmp_path / "missing.ply")
        assert isinstance(caught.value, OSError)

    def test_existing_file_needs_overwrite(self, points, tmp_path):
        ici3d.write(tmp_path / "c.ply", points)
        with pytest.raises(ici3d.IoError, match="exists"):
            ici3d.write(tmp_path / "c.ply", points)
        ici3d.write(tmp_path / "c.ply", points[:3], overwrite=True)
        assert len(ici3d.read(tmp_path / "c.ply")) == 3

    @pytest.mark.parametrize("values, error, message", [
        (np.zeros(40, bool), TypeError, "attribute 'a' has dtype bool"),
        (np.zeros(40, np.float16), TypeError, "attribute 'a' has dtype float16"),
        (np.zeros(39), ValueError, r"attribute 'a' must have shape \(40,\), got \(39,\)"),
        (np.zeros((40, 2)), ValueError, r"attribute 'a' must have shape \(40,\), got \(40, 2\)"),
    ])
    def test_bad_attribute_values(self, points, tmp_path, values, error, message):
        with pytest.raises(error, match=message):
            ici3d.write(tmp_path / "c.ply", ici3d.Cloud(points, {"a": values}))
        assert not (tmp_path / "c.ply").exists()

    def test_bad_attribute_names_and_types(self, points, tmp_path):
        with pytest.raises(ValueError, match="x"):
            ici3d.write(tmp_path / "c.ply", ici3d.Cloud(points, {"x": np.zeros(40)}))
        with pytest.raises(TypeError, match="attribute names must be strings"):
            ici3d.write(tmp_path / "c.ply", ici3d.Cloud(points, {1: np.zeros(40)}))
        with pytest.raises(ici3d.IoError, match="PLY cannot store"):
            ici3d.write(tmp_path / "c.ply", ici3d.Cloud(points, {"big": np.zeros(40, np.int64)}))

    def test_bad_format_and_encoding_names(self, points, tmp_path):
        with pytest.raises(ValueError, match="format must be one of ply, xyz, pcd"):
            ici3d.write(tmp_path / "c.ply", points, format="obj")
        with pytest.raises(ValueError, match="encoding must be one of"):
            ici3d.write(tmp_path / "c.ply", points, encoding="gzip")
        with pytest.raises(ici3d.IoError, match="cannot be written binary compressed"):
            ici3d.write(tmp_path / "c.ply", points, encoding="binary_compressed")

    def test_cloud_points_are_checked(self):
        with pytest.raises(ValueError, match=r"points must have shape \(n, 3\), got \(5, 2\)"):
            ici3d.Cloud(np.zeros((5, 2)))


class TestLas:
    def test_new_file_keeps_attributes_and_positions_to_a_step(self, points, tmp_path):
        attributes = attributes_of_every_type(40, ALL_DTYPES)
        attributes["classification"] = np.arange(40, dtype=np.uint8)
        ici3d.write(tmp_path / "c.las", ici3d.Cloud(points, attributes))
        cloud = ici3d.read(tmp_path / "c.las")
        assert cloud.layout.format == ici3d._core.Format.las
        assert np.max(np.abs(cloud.points - points)) <= 0.5e-7 * (1 + 1e-9)
        for name, values in attributes.items():
            assert cloud.attributes[name].dtype == values.dtype, name
            assert same_bits(cloud.attributes[name], values), name
        assert cloud.attributes["intensity"].dtype == np.uint16  # a standard field, left zero
        assert not cloud.attributes["intensity"].any()

    def test_rewrite_keeps_every_byte_but_the_generating_software(self, points, tmp_path):
        ici3d.write(tmp_path / "a.las", ici3d.Cloud(points, {"red": np.full(40, 7, np.uint16),
                                                            "green": np.zeros(40, np.uint16),
                                                            "blue": np.zeros(40, np.uint16)}))
        cloud = ici3d.read(tmp_path / "a.las")
        ici3d.write(tmp_path / "b.las", cloud)
        a, b = (tmp_path / "a.las").read_bytes(), (tmp_path / "b.las").read_bytes()
        assert a[104] == 7 and len(a) == len(b)
        assert a[:58] == b[:58] and a[90:] == b[90:]

    def test_attributes_the_records_lack_are_refused_unless_the_layout_is_dropped(self, points, tmp_path):
        ici3d.write(tmp_path / "a.las", points)
        cloud = ici3d.read(tmp_path / "a.las")
        cloud.attributes["label"] = np.ones(40, np.int32)
        with pytest.raises(ici3d.IoError, match="'label' has no place"):
            ici3d.write(tmp_path / "b.las", cloud)
        cloud.layout = None
        ici3d.write(tmp_path / "b.las", cloud)
        assert same_bits(ici3d.read(tmp_path / "b.las").attributes["label"], np.ones(40, np.int32))

    def test_laz_is_refused_by_name(self, points, tmp_path):
        with pytest.raises(ici3d.IoError, match="LAZ"):
            ici3d.write(tmp_path / "a.laz", points)
        with pytest.raises(ValueError, match="format must be one of ply, xyz, pcd, las"):
            ici3d.write(tmp_path / "a.las", points, format="laz")
