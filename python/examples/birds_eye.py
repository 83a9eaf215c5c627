"""Bird's-eye view of one revolution, coloured by height, as a PNG (Matplotlib).

    python3 birds_eye.py CAPTURE OUT.png [--revolution N] [--range METRES]
"""

import argparse

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402

import tovik16  # noqa: E402


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("capture")
    ap.add_argument("output")
    ap.add_argument("--revolution", type=int, default=1, help="revolution number (default 1)")
    ap.add_argument("--range", type=float, help="half width of the view in metres (default: all)")
    args = ap.parse_args(argv)

    with tovik16.open(args.capture) as capture:
        rev = capture[args.revolution]
        sensor = capture.sensor
    hit = rev.distance > 0  # distance 0: no return
    half = args.range or 1.05 * max(abs(rev.x[hit]).max(), abs(rev.y[hit]).max())
    fig, ax = plt.subplots(figsize=(7, 6.2), dpi=110)
    dots = ax.scatter(rev.x[hit], rev.y[hit], c=rev.z[hit], s=1.0, cmap="viridis", linewidths=0)
    ax.plot(0, 0, marker="^", color="red", markersize=7)
    ax.set_aspect("equal")
    ax.set_xlim(-half, half)
    ax.set_ylim(-half, half)
    ax.set_xlabel("x (m)")
    ax.set_ylabel("y (m)")
    ax.set_title(f"{sensor}, revolution {rev.index}: {hit.sum()} returns")
    fig.colorbar(dots, ax=ax, label="z (m)")
    fig.savefig(args.output, bbox_inches="tight")
    print(f"{args.output}: revolution {rev.index}, {hit.sum()} points")


if __name__ == "__main__":
    main()
