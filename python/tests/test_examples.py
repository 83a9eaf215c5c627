"""Every example runs, on a simulator capture, and writes what it says."""

import os
import pathlib
import shutil
import subprocess
import sys

import numpy as np
import pytest

import tovik16

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"


def run_example(name, *args, cwd):
    r = subprocess.run([sys.executable, str(EXAMPLES / name), *map(str, args)], cwd=cwd,
                       env=os.environ, capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stderr
    return r.stdout


def test_birds_eye_png(captures, tmp_path):
    pytest.importorskip("matplotlib")
    import matplotlib.image

    out = tmp_path / "bev.png"
    run_example("birds_eye.py", captures["single"], out, "--revolution", 2, cwd=tmp_path)
    image = matplotlib.image.imread(out)
    assert image.shape[0] > 400 and image.shape[1] > 400
    assert len(np.unique(image.reshape(-1, image.shape[-1]), axis=0)) > 50  # points, not blank


def test_open3d_voxel_ply(captures, tmp_path):
    o3d = pytest.importorskip("open3d")
    out = tmp_path / "rev.ply"
    run_example("open3d_voxel.py", captures["dual"], out, "--voxel", 0.5, cwd=tmp_path)
    cloud = o3d.io.read_point_cloud(str(out))
    returns = int((tovik16.open(captures["dual"])[1].distance > 0).sum())
    assert 100 < len(cloud.points) < returns


def test_hdf5_one_group_per_revolution(captures, tmp_path):
    h5py = pytest.importorskip("h5py")
    out = tmp_path / "capture.h5"
    run_example("to_hdf5.py", captures["single"], out, cwd=tmp_path)
    capture = tovik16.open(captures["single"])
    with h5py.File(out) as f:
        assert sorted(f) == [f"revolution_{i:05d}" for i in range(len(capture))]
        rev = capture[3]
        for name in tovik16.FIELDS:
            np.testing.assert_array_equal(f["revolution_00003"][name][()], getattr(rev, name))
        assert f["revolution_00003"]["azimuth"].attrs["unit"] == "deg"


def test_dask_batch_converts_each_file(captures, tmp_path):
    pytest.importorskip("distributed")
    h5py = pytest.importorskip("h5py")
    folder = tmp_path / "in"
    folder.mkdir()
    for name, path in captures.items():
        shutil.copy(path, folder / f"{name}.pcap")
    out = run_example("dask_batch.py", folder, tmp_path / "out", "--workers", 2, cwd=tmp_path)
    assert out.count(" -> ") == len(captures)
    for name, path in captures.items():
        with h5py.File(tmp_path / "out" / f"{name}.h5") as f:
            assert len(f) == len(tovik16.open(path))
            assert f.attrs["sensor"] == tovik16.open(path).sensor
