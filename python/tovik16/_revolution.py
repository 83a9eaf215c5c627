"""One revolution of the lidar as NumPy arrays."""

from __future__ import annotations

from typing import TYPE_CHECKING, Optional

import numpy as np

from . import _tovik16

if TYPE_CHECKING:  # pragma: no cover
    import pandas

FIELDS = ("x", "y", "z", "intensity", "channel", "azimuth", "distance", "time")

#: The dtype of :meth:`Revolution.to_structured`: one record per point.
POINT_DTYPE = np.dtype(
    [
        ("x", np.float32),
        ("y", np.float32),
        ("z", np.float32),
        ("intensity", np.uint8),
        ("channel", np.uint8),
        ("azimuth", np.float32),
        ("distance", np.float32),
        ("time", np.uint64),
    ]
)


class Revolution:
    """One revolution (frame): every point of one turn of the lidar, as arrays of one length.

    Points are ordered channel by channel (0 to 15) and, within a channel, by firing time: the
    row order of ``tovik16-convert``'s CSV. A point whose distance is 0 carries no return; it is
    kept, as the CSV keeps it (its x, y, z are the optical centre's offset).

    x, y and z are placed when one of them is first read (in C++, on a few threads), so code
    that needs only ranges, angles or times does not pay for the trigonometry.

    Attributes:
        index: number of the revolution in its capture (0 for the first closed one) or in its
            live stream.
        x, y, z: position in metres (float32). x points to azimuth 0, y to azimuth 270, z up.
        intensity: return intensity 0 to 255 (uint8).
        channel: laser channel 0 to 15 (uint8).
        azimuth: horizontal angle in degrees, [0, 360) (float32).
        distance: range in metres (float32).
        time: firing time in microseconds on the device clock (uint64).
    """

    __slots__ = ("index", "intensity", "channel", "azimuth", "distance", "time", "_xyz",
                 "_geometry")

    index: int
    intensity: np.ndarray
    channel: np.ndarray
    azimuth: np.ndarray
    distance: np.ndarray
    time: np.ndarray

    def __init__(self, index: int, intensity, channel, azimuth, distance, time, distance_cm,
                 cos_v, sin_v) -> None:
        self.index = index
        self.intensity, self.channel = intensity, channel
        self.azimuth, self.distance, self.time = azimuth, distance, time
        self._xyz = None
        self._geometry = (distance_cm, cos_v, sin_v)

    def _positions(self):
        if self._xyz is None:
            distance_cm, cos_v, sin_v = self._geometry
            self._xyz = _tovik16.positions(distance_cm, self.azimuth, self.channel, cos_v, sin_v)
            self._geometry = None
        return self._xyz

    @property
    def x(self) -> np.ndarray:
        """Metres (float32), towards azimuth 0."""
        return self._positions()[0]

    @property
    def y(self) -> np.ndarray:
        """Metres (float32), towards azimuth 270."""
        return self._positions()[1]

    @property
    def z(self) -> np.ndarray:
        """Metres (float32), up."""
        return self._positions()[2]

    def __len__(self) -> int:
        """The number of points."""
        return len(self.distance)

    def __repr__(self) -> str:
        return f"<Revolution {self.index}: {len(self)} points>"

    def to_structured(self) -> np.ndarray:
        """All points as one structured array of dtype :data:`POINT_DTYPE` (a copy)."""
        out = np.empty(len(self), dtype=POINT_DTYPE)
        for name in FIELDS:
            out[name] = getattr(self, name)
        return out

    def to_pandas(self) -> "pandas.DataFrame":
        """All points as a pandas DataFrame, one column per field (needs pandas installed)."""
        try:
            import pandas
        except ImportError as e:  # pandas is optional
            raise ImportError(
                "Revolution.to_pandas() needs pandas (Debian: apt install python3-pandas)"
            ) from e
        return pandas.DataFrame({name: getattr(self, name) for name in FIELDS})


def _checked(value: Optional[int], name: str, allowed: tuple) -> int:
    """A mode code as the core takes it: -1 for None (follow the device), else one of allowed."""
    if value is None:
        return -1
    if isinstance(value, bool) or value not in allowed:
        raise ValueError(f"{name} must be one of {', '.join(map(str, allowed))} or None, not {value!r}")
    return int(value)
