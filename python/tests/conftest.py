"""Fixtures: the built tools, and small captures written by the simulated lidar."""

import os
import pathlib
import subprocess

import pytest

import tovik16


def _tool(env: str, *relative: str) -> pathlib.Path:
    """A built tool: from the environment (CTest sets it), else beside the build-tree package."""
    if os.environ.get(env):
        return pathlib.Path(os.environ[env])
    build = pathlib.Path(tovik16.__file__).resolve().parents[2]
    return build.joinpath(*relative)


@pytest.fixture(scope="session")
def sim_exe() -> pathlib.Path:
    path = _tool("TOVIK_SIM", "tools", "sim", "tovik16-sim")
    assert path.exists(), f"{path} is not built"
    return path


@pytest.fixture(scope="session")
def convert_exe() -> pathlib.Path:
    path = _tool("TOVIK_CONVERT", "tools", "convert", "tovik16-convert")
    assert path.exists(), f"{path} is not built"
    return path


# name: simulator options. The single-return capture carries device packets that select the
# 1.33 degree table and 0.4 cm counts, so its modes come from them; the dual-return one has none.
CAPTURES = {
    "single": ["--single", "--angle-mode", "1", "--resolution", "1", "--with-device-packets",
               "--start-azimuth", "123.4"],
    "dual": ["--dual", "--rpm", "1200"],
}


@pytest.fixture(scope="session")
def captures(tmp_path_factory, sim_exe) -> dict:
    """name -> path of a capture of four revolutions and a bit."""
    folder = tmp_path_factory.mktemp("captures")
    out = {}
    for name, options in CAPTURES.items():
        path = folder / f"{name}.pcap"
        subprocess.run([str(sim_exe), "--pcap", str(path), "--revolutions", "5", "--quiet",
                        *options], check=True, timeout=60)
        out[name] = path
    return out
