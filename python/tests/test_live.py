"""Live revolutions from the simulated lidar over loopback, and how a stream stops."""

import os
import signal
import socket
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import tovik16


def free_udp_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture
def simulator(sim_exe):
    """Starts the simulator on free ports with the given options; yields (data, device) ports."""
    started = []

    def start(*options):
        data, device = free_udp_port(), free_udp_port()
        started.append(subprocess.Popen(
            [str(sim_exe), "--quiet", "--data-port", str(data), "--device-port", str(device),
             "--data-src-port", "0", "--device-src-port", "0", *options]))
        return data, device

    yield start
    for p in started:
        p.terminate()
        p.wait(timeout=10)


def test_live_revolutions_from_the_simulator(simulator):
    data, device = simulator("--dual", "--angle-mode", "1")
    revs = []
    with tovik16.listen(data, device_port=device) as stream:
        deadline = time.monotonic() + 20
        while (len(revs) < 3 or stream.last_device_packet is None) and time.monotonic() < deadline:
            rev = stream.read(timeout=1)
            if rev is not None:
                revs.append(rev)
        assert len(revs) >= 3 and stream.last_device_packet is not None
        assert stream.sensor == "Tovik162"
        assert stream.degree == 1  # from the device packets
        assert stream.counters["revolutions"] >= len(revs)
    assert stream.closed
    assert [r.index for r in revs] == list(range(len(revs)))
    for rev in revs[1:]:  # the first may be a partial turn
        assert {len(getattr(rev, f)) for f in tovik16.FIELDS} == {len(rev)}
        # 1000 firing positions a turn, two echoes, 32 points each: 64,000 give or take the
        # points carried over between turns.
        assert 63000 < len(rev) < 65000
        assert set(np.unique(rev.channel)) == set(range(16))
        assert rev.azimuth.min() >= 0 and rev.azimuth.max() < 360
        hit = rev.distance > 1
        assert hit.mean() > 0.5
        r = np.sqrt(rev.x[hit] ** 2 + rev.y[hit] ** 2 + rev.z[hit] ** 2)
        assert np.abs(r - rev.distance[hit]).max() < 0.05  # the optical centre is 4.4 cm off


def test_close_and_timeout_end_a_quiet_stream():
    stream = tovik16.listen(free_udp_port(), device_port=None)
    t = time.monotonic()
    assert stream.read(timeout=0.3) is None
    assert 0.25 < time.monotonic() - t < 3
    threading.Timer(0.3, stream.close).start()
    t = time.monotonic()
    assert list(stream) == []
    assert time.monotonic() - t < 3
    assert stream.read() is None
    with tovik16.listen(free_udp_port(), device_port=None) as quiet:
        pass
    assert quiet.closed


def test_ctrl_c_interrupts_a_blocked_iteration():
    code = (
        "import sys, tovik16\n"
        f"s = tovik16.listen({free_udp_port()}, device_port=None)\n"
        "print('ready', flush=True)\n"
        "try:\n"
        "    for rev in s: pass\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', s.closed, flush=True)\n"
    )
    p = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True,
                         env=os.environ)
    assert p.stdout.readline().strip() == "ready"
    time.sleep(0.3)
    p.send_signal(signal.SIGINT)
    out, _ = p.communicate(timeout=10)
    assert out.strip() == "interrupted True" and p.returncode == 0


def test_bad_listen_arguments():
    for kwargs in ({"port": 0}, {"group": "10.0.0.1"}, {"group": "nonsense"}, {"sensor": "x"},
                   {"echo": None}, {"device_port": 70000}):
        with pytest.raises(ValueError):
            tovik16.listen(**kwargs)
