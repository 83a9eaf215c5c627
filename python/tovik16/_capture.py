"""Capture files: revolutions by number, by slice and in order."""

from __future__ import annotations

import os
import warnings
from collections.abc import Sequence
from typing import Iterator, List, Optional, Union, overload

from . import _tovik16
from ._revolution import Revolution, _checked

#: Sensor names: the offline ones ("Tovik16-1" single return, "Tovik16-2" dual return), the live
#: ones ("Tovik161", "Tovik162") and "auto".
_LAYOUTS = {"auto": -1, "Tovik16-1": 0, "Tovik161": 0, "Tovik16-2": 1, "Tovik162": 1}


def _layout(sensor: str) -> int:
    try:
        return _LAYOUTS[sensor]
    except (KeyError, TypeError):
        raise ValueError(
            f"sensor must be one of {', '.join(repr(s) for s in _LAYOUTS)}, not {sensor!r}"
        ) from None


class _InOrder:
    """Every revolution of a capture in file order, decoded in one continuous run."""

    def __init__(self, impl: "_tovik16.RevolutionIterator") -> None:
        self._impl = impl
        self._number = 0

    def __iter__(self) -> "_InOrder":
        return self

    def __next__(self) -> Revolution:
        arrays = self._impl.next()
        if arrays is None:
            raise StopIteration
        rev = Revolution(self._number, *arrays)
        self._number += 1
        return rev


class RevolutionRange(Sequence):
    """A lazy slice of a capture: revolutions are decoded when they are read, each from its own
    first packet."""

    def __init__(self, capture: "Capture", indices: range) -> None:
        self._capture = capture
        self._indices = indices

    def __len__(self) -> int:
        return len(self._indices)

    @overload
    def __getitem__(self, i: int) -> Revolution: ...
    @overload
    def __getitem__(self, i: slice) -> "RevolutionRange": ...
    def __getitem__(self, i):
        if isinstance(i, slice):
            return RevolutionRange(self._capture, self._indices[i])
        return self._capture[self._indices[i]]

    def __iter__(self) -> Iterator[Revolution]:
        for i in self._indices:
            yield self._capture[i]

    def __repr__(self) -> str:
        return f"<RevolutionRange {self._indices} of {self._capture!r}>"


class Capture(Sequence):
    """A pcap or pcapng capture of the lidar, indexed by revolution.

    ``len(capture)`` is the number of closed revolutions; ``capture[i]`` (negative i counts from
    the end) decodes revolution i from the packet where it starts, and ``capture[a:b:c]`` is a
    lazy :class:`RevolutionRange`. Iterating decodes every revolution in file order in one
    continuous run, as ``tovik16-convert`` does; the revolution still open at the end of the file
    is not included. The file is memory-mapped; pages already decoded are handed back, so
    iterating a large capture keeps memory flat. Use as a context manager, or call
    :meth:`close`.
    """

    def __init__(self, reader: "_tovik16.CaptureReader", path: str) -> None:
        self._reader = reader
        self._path = path
        self._device_packets: Optional[List[dict]] = None

    # Sequence
    def __len__(self) -> int:
        return len(self._reader)

    @overload
    def __getitem__(self, i: int) -> Revolution: ...
    @overload
    def __getitem__(self, i: slice) -> RevolutionRange: ...
    def __getitem__(self, i: Union[int, slice]) -> Union[Revolution, RevolutionRange]:
        if isinstance(i, slice):
            return RevolutionRange(self, range(len(self))[i])
        n = len(self)
        i = int(i.__index__())
        if i < 0:
            i += n
        if not 0 <= i < n:
            raise IndexError(f"revolution {i} out of range (the capture holds {n})")
        return Revolution(i, *self._reader.revolution(i))

    def __iter__(self) -> Iterator[Revolution]:
        return _InOrder(self._reader.iterate())

    # Context manager
    def __enter__(self) -> "Capture":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def close(self) -> None:
        """Releases the file. Iterators already started keep it until they finish."""
        self._reader.close()

    @property
    def closed(self) -> bool:
        return self._reader.closed

    def __repr__(self) -> str:
        if self.closed:
            return "<tovik16.Capture (closed)>"
        return f"<tovik16.Capture {self.path!r}: {len(self)} revolutions, {self.sensor}>"

    # Properties
    @property
    def path(self) -> str:
        """The file name as given to :func:`open`."""
        return self._path

    @property
    def sensor(self) -> str:
        """The decoding in use: "Tovik16-1" (single return) or "Tovik16-2" (dual return)."""
        return self._reader.sensor

    @property
    def echo(self) -> int:
        """Echo code of dual-return decoding: 0 both echoes, 1 strongest, 2 second."""
        return self._reader.echo

    @property
    def degree(self) -> int:
        """Vertical angle table: 0 for 2 degree spacing, 1 for 1.33 degree spacing."""
        return self._reader.degree

    @property
    def resolution(self) -> int:
        """Distance per raw count: 0 for 0.25 cm, 1 for 0.4 cm."""
        return self._reader.resolution

    @property
    def duration(self) -> float:
        """Seconds from the first to the last point data packet, by the capture's record times."""
        return self._reader.duration

    @property
    def packet_count(self) -> int:
        """Point data packets in the file."""
        return self._reader.packet_count

    @property
    def summary(self) -> str:
        """One line: format, packet counts, and whether the file was cut short."""
        return self._reader.summary

    @property
    def device_packets(self) -> List[dict]:
        """The device information packets of the capture, in file order, each decoded as by
        :func:`tovik16.decode_device_packet`."""
        if self._device_packets is None:
            self._device_packets = self._reader.device_packets()
        return self._device_packets


def open(
    path: Union[str, "os.PathLike[str]"],
    sensor: str = "auto",
    echo: int = 0,
    degree: Optional[int] = None,
    resolution: Optional[int] = None,
) -> Capture:
    """Opens a pcap or pcapng capture of the lidar.

    Args:
        path: the capture file.
        sensor: "Tovik16-1" (single return), "Tovik16-2" (dual return) or "auto": judged from
            the point data packets (the two blocks of a dual-return pair share one azimuth), else
            from the capture's first device information packet, else single return.
        echo: dual-return echo code: 0 both echoes merged, 1 strongest, 2 second.
        degree: vertical angle table, 0 (2 degree) or 1 (1.33 degree); None takes it from the
            first device information packet, else 0. The vertical angles are that packet's own
            unless one lies more than 1.5 degrees from the nominal table (then, and without
            device packets, the nominal table), as the converter takes them.
        resolution: distance per raw count, 0 (0.25 cm) or 1 (0.4 cm); None as for degree.

    Raises:
        FileNotFoundError, PermissionError, IsADirectoryError: the file cannot be read.
        ValueError: the file is not a capture, or it holds no point data packet, or an argument
            is out of range.

    A capture that ends inside a record opens with a warning; its complete records are decoded.
    """
    layout = _layout(sensor)
    echo_code = _checked(echo, "echo", (0, 1, 2))
    if echo_code < 0:
        raise ValueError("echo must be 0, 1 or 2, not None")
    reader = _tovik16.CaptureReader(
        os.fsencode(path),
        layout,
        echo_code,
        _checked(degree, "degree", (0, 1)),
        _checked(resolution, "resolution", (0, 1)),
    )
    if reader.incomplete:
        warnings.warn(
            f"'{os.fsdecode(path)}' is incomplete; decoding what it holds ({reader.summary})",
            RuntimeWarning,
            stacklevel=2,
        )
    return Capture(reader, os.fsdecode(path))
