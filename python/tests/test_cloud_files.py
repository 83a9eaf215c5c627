"""PCD and PLY files of the converter as Open3D reads them: the points the Python arrays hold."""

import subprocess

import numpy as np
import pytest

import tovik16


@pytest.mark.parametrize("name", ["single", "dual"])
@pytest.mark.parametrize("suffix", ["pcd", "ply"])
def test_open3d_reads_every_field(captures, convert_exe, tmp_path, name, suffix):
    import open3d as o3d

    subprocess.run([str(convert_exe), str(captures[name]), "--format", suffix, "--revolutions",
                    "2:2", "-o", str(tmp_path / f"rev_%d.{suffix}")], check=True, timeout=120)
    cloud = o3d.t.io.read_point_cloud(str(tmp_path / f"rev_2.{suffix}"))
    with tovik16.open(captures[name]) as capture:
        rev = capture[1]
    # Every field survives the reader (a 16-bit channel would be dropped from a PLY).
    assert set(cloud.point) == {"positions", "intensity", "channel", "azimuth", "time"}
    xyz = cloud.point["positions"].numpy()
    assert len(xyz) == len(rev)
    np.testing.assert_allclose(xyz, np.stack([rev.x, rev.y, rev.z], axis=1), atol=1e-5)
    np.testing.assert_array_equal(cloud.point["channel"].numpy().ravel(), rev.channel)
    np.testing.assert_allclose(cloud.point["azimuth"].numpy().ravel(), rev.azimuth, atol=1e-4)
