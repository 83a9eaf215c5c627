"""Captures: arrays against the converter's CSV, seeking against iteration, errors."""

import subprocess
import sys
import warnings

import numpy as np
import pytest

import tovik16


def converter_rows(convert_exe, capture, tmp_path, *options):
    out = tmp_path / "out.csv"
    subprocess.run([str(convert_exe), str(capture), "-o", str(out), *options], check=True,
                   timeout=120)
    lines = out.read_text().splitlines()
    assert lines[0].startswith("FreamID,Points_X")
    return lines[1:]


def as_rows(number, rev):
    """The CSV rows of a revolution, numbers printed as the converter prints them ("%g")."""
    g = lambda a: np.char.mod("%g", a.astype(np.float64))  # noqa: E731
    d = lambda a: np.char.mod("%d", a)  # noqa: E731
    cols = [np.full(len(rev), str(number)), g(rev.x), g(rev.y), g(rev.z), d(rev.intensity),
            d(rev.channel), g(rev.azimuth), g(rev.distance), d(rev.time), d(rev.time)]
    return [",".join(r) for r in zip(*cols)]


@pytest.mark.parametrize(
    "name, kwargs, options",
    [
        # sensor, degree and resolution found by themselves
        ("single", {}, ["--degree", "1", "--resolution", "1"]),
        ("dual", {}, ["--sensor", "Tovik16-2"]),
        ("dual", {"sensor": "Tovik16-2", "echo": 2, "degree": 1}, ["--sensor", "Tovik16-2",
                                                                   "--echo", "2", "--degree", "1"]),
        ("dual", {"echo": 1, "resolution": 1}, ["--sensor", "Tovik16-2", "--echo", "1",
                                                "--resolution", "1"]),
    ],
)
def test_arrays_equal_the_converters_csv(captures, convert_exe, tmp_path, name, kwargs, options):
    expected = converter_rows(convert_exe, captures[name], tmp_path, *options)
    got = []
    with tovik16.open(captures[name], **kwargs) as capture:
        for rev in capture:
            assert {len(getattr(rev, f)) for f in tovik16.FIELDS} == {len(rev)}
            got += as_rows(rev.index + 1, rev)
    assert len(got) == len(expected)
    assert got == expected


def test_modes_and_metadata(captures):
    with tovik16.open(captures["single"]) as single, tovik16.open(captures["dual"]) as dual:
        assert (single.sensor, single.degree, single.resolution) == ("Tovik16-1", 1, 1)
        assert (dual.sensor, dual.degree, dual.resolution) == ("Tovik16-2", 0, 0)
        # Five simulated revolutions: the first wrap closes a partial one, four follow.
        assert len(single) == len(dual) == 5
        assert 0.45 < single.duration < 0.55 and 0.2 < dual.duration < 0.3
        assert single.device_packets and single.device_packets[0]["degree"] == 1
        assert dual.device_packets == []
        rev = single[2]
        assert rev.x.dtype == rev.y.dtype == rev.z.dtype == np.float32
        assert rev.azimuth.dtype == rev.distance.dtype == np.float32
        assert rev.intensity.dtype == rev.channel.dtype == np.uint8
        assert rev.time.dtype == np.uint64
        assert set(np.unique(rev.channel)) == set(range(16))


@pytest.mark.parametrize("name", ["single", "dual"])
def test_seeking_equals_iteration(captures, name):
    with tovik16.open(captures[name]) as capture:
        in_order = list(capture)
        assert len(in_order) == len(capture)
        for i in reversed(range(len(capture))):  # every seek starts from a fresh assembler
            rev = capture[i]
            assert rev.index == i
            for f in tovik16.FIELDS:
                np.testing.assert_array_equal(getattr(rev, f), getattr(in_order[i], f), err_msg=f)
        part = capture[1:4:2]
        assert len(part) == 2 and [r.index for r in part] == [1, 3]
        np.testing.assert_array_equal(part[-1].x, in_order[3].x)
        assert capture[-1].index == len(capture) - 1
        with pytest.raises(IndexError):
            capture[len(capture)]


def test_structured_and_pandas(captures, monkeypatch):
    rev = tovik16.open(captures["dual"])[1]
    s = rev.to_structured()
    assert s.dtype == tovik16.POINT_DTYPE and len(s) == len(rev)
    np.testing.assert_array_equal(s["time"], rev.time)
    np.testing.assert_array_equal(s["z"], rev.z)
    pandas = pytest.importorskip("pandas")
    df = rev.to_pandas()
    assert list(df.columns) == list(tovik16.FIELDS) and len(df) == len(rev)
    assert df["distance"].dtype == np.float32
    monkeypatch.setitem(sys.modules, "pandas", None)  # as if it were not installed
    with pytest.raises(ImportError, match="python3-pandas"):
        rev.to_pandas()
    del pandas


def converter_error(convert_exe, path):
    r = subprocess.run([str(convert_exe), str(path), "--stats"], capture_output=True, text=True,
                       timeout=60)
    assert r.returncode == 3
    return r.stderr.splitlines()[0].removeprefix("tovik16-convert: ")


@pytest.mark.parametrize(
    "content, error",
    [
        (None, FileNotFoundError),
        ("dir", IsADirectoryError),
        (b"", ValueError),
        (b"FreamID,Points_X\n", ValueError),
        # a pcap file header and nothing else: a capture without point data
        (bytes.fromhex("d4c3b2a1020004000000000000000000ffff000001000000"), ValueError),
    ],
    ids=["missing", "directory", "empty", "text", "header-only"],
)
def test_bad_files_raise_with_the_converters_message(convert_exe, tmp_path, content, error):
    path = tmp_path / "capture.pcap"
    if content == "dir":
        path.mkdir()
    elif content is not None:
        path.write_bytes(content)
    with pytest.raises(error) as raised:
        tovik16.open(path)
    assert str(raised.value) == converter_error(convert_exe, path)


def test_cut_capture_warns_and_decodes_what_it_holds(captures, tmp_path):
    data = captures["single"].read_bytes()
    cut = tmp_path / "cut.pcap"
    cut.write_bytes(data[: len(data) * 3 // 4 + 7])
    with pytest.warns(RuntimeWarning, match="is incomplete"):
        capture = tovik16.open(cut)
    whole = tovik16.open(captures["single"])
    assert 0 < len(capture) < len(whole)
    np.testing.assert_array_equal(capture[len(capture) - 1].x, whole[len(capture) - 1].x)


def test_closed_capture_and_bad_arguments(captures):
    capture = tovik16.open(captures["single"])
    it = iter(capture)
    capture.close()
    with pytest.raises(ValueError, match="closed"):
        len(capture)
    assert next(it).index == 0  # a started iterator keeps the file
    for kwargs in ({"sensor": "Tovik16-3"}, {"echo": 3}, {"degree": 2}, {"resolution": True}):
        with pytest.raises(ValueError):
            tovik16.open(captures["single"], **kwargs)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        tovik16.open(captures["dual"]).close()


def device_packet(**fields) -> bytearray:
    p = bytearray(1206)
    p[0:8] = bytes.fromhex("a5ff005a11115555")
    for offset, value in fields.values():
        p[offset:offset + len(value)] = value
    return p


def test_device_packet_fields_reach_their_keys():
    p = device_packet(
        speed=(8, (601).to_bytes(2, "big")), lidar_ip=(10, bytes([10, 0, 0, 7])),
        mac=(18, bytes.fromhex("0a0b0c0d0e0f")), data_port=(24, (2370).to_bytes(2, "big")),
        motor_state=(40, (1).to_bytes(2, "big")), status=(44, (1).to_bytes(2, "big")),
        temperature=(80, (2048).to_bytes(2, "big")), lvds=(83, b"\x01"),
        clean=(104, b"\x02"), echo=(185, b"\x01"), angle=(245 + 2 * 3, bytes.fromhex("fe0c")),
        spacing=(1194, (133).to_bytes(2, "big")), fpga2=(1196, bytes([3, 0x05])),
        fpga3=(1198, bytes([20, 21, 3, 11, 3, 0x57])), lidar_id=(1164, b"ABC"))
    d = tovik16.decode_device_packet(memoryview(p))
    assert (d["motor_speed"], d["lidar_ip"], d["mac_address"], d["data_port"]) == (
        "601", "10.0.0.7", "0a-0b-0c-0d-0e-0f", "2370")
    assert (d["motor_state"], d["lidar_status"], d["lvds"], d["cleanliness"]) == (
        "Stop", "Sleep", "1：LVDS未锁定", "Serious pollution")
    assert d["plate2_temperature"] == "115.00"
    assert d["versions"]["fpga3"] == "2021.3.11-V.3.5.7"
    assert d["versions"]["lidar_id"] == "ABC" + "\0" * 17
    assert d["vertical_angles"][3] == pytest.approx(-4.99)
    assert (d["sensor"], d["degree"], d["resolution"]) == ("Tovik162", 1, 1)
    with pytest.raises(ValueError, match="1206 bytes"):
        tovik16.decode_device_packet(bytes(p[:100]))
    p[3] = 0x5B
    with pytest.raises(ValueError, match="not a device information packet"):
        tovik16.decode_device_packet(p)
