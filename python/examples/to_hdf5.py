"""A capture to HDF5 (h5py): one group per revolution, one dataset per field.

    python3 to_hdf5.py CAPTURE OUT.h5

Groups are named revolution_00000, revolution_00001, ...; each dataset carries its unit in the
attribute "unit". The file's attributes record the sensor and modes the capture was decoded with.
"""

import argparse

import h5py

import tovik16

UNITS = {"x": "m", "y": "m", "z": "m", "intensity": "", "channel": "", "azimuth": "deg",
         "distance": "m", "time": "us"}


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("capture")
    ap.add_argument("output")
    args = ap.parse_args(argv)

    with tovik16.open(args.capture) as capture, h5py.File(args.output, "w") as out:
        out.attrs.update(sensor=capture.sensor, echo=capture.echo, degree=capture.degree,
                         resolution=capture.resolution, source=capture.path)
        for rev in capture:  # one revolution in memory at a time
            group = out.create_group(f"revolution_{rev.index:05d}")
            for name in tovik16.FIELDS:
                group.create_dataset(name, data=getattr(rev, name)).attrs["unit"] = UNITS[name]
        print(f"{args.output}: {len(capture)} revolutions")


if __name__ == "__main__":
    main()
