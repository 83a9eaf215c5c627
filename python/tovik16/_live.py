"""Live revolutions from the lidar's UDP stream."""

from __future__ import annotations

import ipaddress
from typing import Iterator, Optional

from . import _tovik16
from ._capture import _layout
from ._revolution import Revolution, _checked


class LiveStream:
    """An iterator over the revolutions arriving on the data port.

    Decodes as the viewer's live receivers do, including their carry-over of the points of a
    new turn into the next revolution. Geometry uses the device's own vertical angles once a
    device information packet has arrived on the telemetry port (unless one strays more than
    1.5 degrees from the nominal table), the nominal table before.

    Iteration blocks until the next revolution and ends when :meth:`close` is called (from
    another thread, say) or the ``with`` block is left. Ctrl+C raises KeyboardInterrupt within
    0.1 s and closes the stream.
    """

    def __init__(self, impl: "_tovik16.LiveStream") -> None:
        self._impl = impl
        self._count = 0

    def __iter__(self) -> Iterator[Revolution]:
        return self

    def __next__(self) -> Revolution:
        rev = self.read()
        if rev is None:
            raise StopIteration
        return rev

    def read(self, timeout: Optional[float] = None) -> Optional[Revolution]:
        """The next revolution, waiting at most timeout seconds (None: until one arrives or the
        stream is closed). Returns None on time-out or when the stream is closed."""
        try:
            arrays = self._impl.next(-1.0 if timeout is None else max(0.0, float(timeout)))
        except BaseException:
            self.close()
            raise
        if arrays is None:
            return None
        rev = Revolution(self._count, *arrays)
        self._count += 1
        return rev

    def close(self) -> None:
        """Stops receiving and closes the sockets. A read blocked in another thread returns
        None within 0.1 s."""
        self._impl.close()

    @property
    def closed(self) -> bool:
        return self._impl.closed

    def __enter__(self) -> "LiveStream":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    @property
    def sensor(self) -> Optional[str]:
        """"Tovik161" (single return) or "Tovik162" (dual return); None until the first point
        data packet has told."""
        return self._impl.sensor or None

    @property
    def degree(self) -> int:
        """Vertical angle table in use: 0 for 2 degree spacing, 1 for 1.33 degree spacing."""
        return self._impl.degree

    @property
    def resolution(self) -> int:
        """Distance per raw count in use: 0 for 0.25 cm, 1 for 0.4 cm."""
        return self._impl.resolution

    @property
    def last_device_packet(self) -> Optional[dict]:
        """The last device information packet, decoded as by :func:`decode_device_packet`."""
        return self._impl.last_device_packet

    @property
    def counters(self) -> dict:
        """Point data packets decoded, revolutions closed, device packets, datagrams ignored."""
        return self._impl.counters


def listen(
    port: int = 2368,
    sensor: str = "auto",
    group: Optional[str] = None,
    *,
    echo: int = 0,
    degree: Optional[int] = None,
    resolution: Optional[int] = None,
    device_port: Optional[int] = 2369,
) -> LiveStream:
    """Listens for the lidar's point data packets on UDP port ``port`` (every local address).

    Args:
        port: data port.
        sensor: "Tovik161" (single return), "Tovik162" (dual return) or "auto": judged from the
            first point data packet whose block azimuths tell. The offline names "Tovik16-1" and
            "Tovik16-2" are accepted too.
        group: a multicast group to join (the device's default is "224.1.1.1"); unicast arrives
            either way.
        echo: dual-return echo code: 0 both echoes merged, 1 strongest, 2 second.
        degree, resolution: as in :func:`tovik16.open`; None follows the device information
            packets (0 until the first).
        device_port: telemetry port for device information packets, or None not to listen there.

    Raises:
        OSError: the data port cannot be bound.
        ValueError: an argument is out of range.
    """
    layout = _layout(sensor)
    if not isinstance(port, int) or not 0 < port < 65536:
        raise ValueError(f"port must be 1 to 65535, not {port!r}")
    if device_port is not None and (not isinstance(device_port, int) or not 0 < device_port < 65536):
        raise ValueError(f"device_port must be 1 to 65535 or None, not {device_port!r}")
    if group is not None:
        try:
            multicast = ipaddress.IPv4Address(group).is_multicast
        except ValueError:
            multicast = False
        if not multicast:
            raise ValueError(f"group must be an IPv4 multicast address, not {group!r}")
    echo_code = _checked(echo, "echo", (0, 1, 2))
    if echo_code < 0:
        raise ValueError("echo must be 0, 1 or 2, not None")
    impl = _tovik16.LiveStream(
        port,
        layout,
        group or "",
        echo_code,
        _checked(degree, "degree", (0, 1)),
        _checked(resolution, "resolution", (0, 1)),
        -1 if device_port is None else device_port,
    )
    return LiveStream(impl)
