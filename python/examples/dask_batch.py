"""Converts every capture of a folder to HDF5 with Dask distributed: one task per file.

    python3 dask_batch.py FOLDER OUTDIR [--scheduler ADDRESS] [--workers N]

Without --scheduler it starts a local cluster of N worker processes on this machine. With the
address of a running scheduler (tcp://host:8786) the same code runs on a cluster of many
machines: each worker needs the tovik16 package and must see FOLDER and OUTDIR at the same paths.
"""

import argparse
import pathlib

from dask.distributed import Client, LocalCluster


def convert(capture_path: str, outdir: str) -> dict:
    """One task: a capture to OUTDIR/<name>.h5, one group per revolution."""
    import h5py

    import tovik16

    out_path = pathlib.Path(outdir) / (pathlib.Path(capture_path).stem + ".h5")
    points = 0
    with tovik16.open(capture_path) as capture, h5py.File(out_path, "w") as out:
        out.attrs.update(sensor=capture.sensor, source=capture_path)
        for rev in capture:
            group = out.create_group(f"revolution_{rev.index:05d}")
            for name in tovik16.FIELDS:
                group.create_dataset(name, data=getattr(rev, name))
            points += len(rev)
        return {"capture": capture_path, "output": str(out_path), "revolutions": len(capture),
                "points": points}


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("folder")
    ap.add_argument("outdir")
    ap.add_argument("--scheduler", help="address of a running Dask scheduler")
    ap.add_argument("--workers", type=int, default=2, help="local worker processes")
    args = ap.parse_args(argv)

    files = sorted(str(p) for p in pathlib.Path(args.folder).glob("*.pcap*"))
    pathlib.Path(args.outdir).mkdir(parents=True, exist_ok=True)
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, host="127.0.0.1",
                               dashboard_address=None)
        client = Client(cluster)
    with client:
        futures = client.map(convert, files, outdir=str(pathlib.Path(args.outdir).resolve()))
        for result in client.gather(futures):
            print(f"{result['capture']} -> {result['output']}: {result['revolutions']} "
                  f"revolutions, {result['points']} points")
        if not args.scheduler:
            cluster.close()


if __name__ == "__main__":
    main()
