"""tovik16: captures and live streams of the Tovik16 lidar as NumPy arrays.

    >>> import tovik16
    >>> with tovik16.open("drive.pcap") as capture:
    ...     for rev in capture:
    ...         print(rev.index, len(rev), rev.x.mean())

Every number comes from the same C++ decoding core as the viewer and ``tovik16-convert``.
Units: metres (x, y, z, distance), degrees (azimuth), microseconds (time).
"""

from __future__ import annotations

from typing import Union

from . import _tovik16
from ._capture import Capture, RevolutionRange, open
from ._live import LiveStream, listen
from ._revolution import FIELDS, POINT_DTYPE, Revolution

__version__: str = _tovik16.__version__

__all__ = [
    "Capture",
    "FIELDS",
    "LiveStream",
    "POINT_DTYPE",
    "Revolution",
    "RevolutionRange",
    "decode_device_packet",
    "listen",
    "open",
]


def decode_device_packet(data: Union[bytes, bytearray, memoryview]) -> dict:
    """Decodes one device information packet (the 1206-byte datagram of the telemetry port).

    Returns a dict whose text entries are exactly what the viewer's windows show: "lidar_ip",
    "dest_ip", "ntp_ip", "data_port", "device_port", "mac_address", "motor_speed" (rpm),
    "motor_state", "packet_interval", "lidar_status", "gps_time", "pps_set_angle" (degrees),
    "pps_deviation" (degrees), "pps_lock", "latitude", "longitude", "plate2_temperature" and
    "stop_temperature" (degrees Celsius), "plate3_voltage", "gps_state", "pps_state",
    "high_temp_pause", "lvds", "cleanliness", and "versions" (a dict of the About window's
    texts: "fpga2", "fpga3", "lidar_id", "hardware2", "hardware3", "emission", "receive",
    "structure"). Numbers: "vertical_angles" (16 floats, degrees), "mac" (the 21 raw values
    the windows read), and the modes the viewer derives: "sensor" ("Tovik161" or "Tovik162"),
    "degree" and "resolution" (0 or 1).

    Raises:
        ValueError: data is not 1206 bytes or does not start with the device packet header.
    """
    return _tovik16.decode_device_packet(bytes(data))
