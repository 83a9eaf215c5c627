"""One revolution as an Open3D point cloud, down-sampled on a voxel grid and written as PLY.

    python3 open3d_voxel.py CAPTURE OUT.ply [--revolution N] [--voxel METRES]
"""

import argparse

import numpy as np
import open3d as o3d

import tovik16


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("capture")
    ap.add_argument("output")
    ap.add_argument("--revolution", type=int, default=1)
    ap.add_argument("--voxel", type=float, default=0.25, help="voxel edge in metres")
    args = ap.parse_args(argv)

    with tovik16.open(args.capture) as capture:
        rev = capture[args.revolution]
    hit = rev.distance > 0
    cloud = o3d.geometry.PointCloud()
    cloud.points = o3d.utility.Vector3dVector(
        np.column_stack([rev.x[hit], rev.y[hit], rev.z[hit]]).astype(np.float64))
    grey = (rev.intensity[hit] / 255.0).astype(np.float64)
    cloud.colors = o3d.utility.Vector3dVector(np.repeat(grey[:, None], 3, axis=1))
    down = cloud.voxel_down_sample(voxel_size=args.voxel)
    if not o3d.io.write_point_cloud(args.output, down):
        raise SystemExit(f"cannot write {args.output}")
    print(f"{args.output}: {len(cloud.points)} points, {len(down.points)} after a "
          f"{args.voxel} m voxel grid")


if __name__ == "__main__":
    main()
