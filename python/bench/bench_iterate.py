"""Iterating every revolution of a capture with tovik16 against `tovik16-convert --stats`.

    PYTHONPATH=build/python python3 python/bench/bench_iterate.py CAPTURE \
        [--convert build/tools/convert/tovik16-convert] [--rounds 2]

Each round runs, in this one process: the converter with --stats (decodes every revolution and
counts its rows), a Python loop over every revolution reading its arrays, and the same loop also
reading x, y, z (which places every point). The best round of each is reported, by processor
time (user + system; the converter's from its child-process usage) and by wall time, with the
speed of each Python loop relative to the converter. Memory is sampled from /proc/self/status
during the loops: flat means the resident set at the end is no larger than after the first
revolutions.
"""

import argparse
import pathlib
import resource
import subprocess
import time

import tovik16


def rss_kib():
    """VmRSS, RssAnon and RssFile of this process in KiB."""
    fields = {}
    for line in pathlib.Path("/proc/self/status").read_text().splitlines():
        key, _, value = line.partition(":")
        if key in ("VmRSS", "RssAnon", "RssFile"):
            fields[key] = int(value.split()[0])
    return fields["VmRSS"], fields["RssAnon"], fields["RssFile"]


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run_converter(convert, capture):
    cpu, wall = child_cpu(), time.perf_counter()
    out = subprocess.run([convert, "--stats", capture], check=True, capture_output=True,
                         text=True).stdout
    cpu, wall = child_cpu() - cpu, time.perf_counter() - wall
    stats = dict(line.split(": ", 1) for line in out.splitlines())
    return {"cpu": cpu, "wall": wall, "revolutions": int(stats["revolutions"]),
            "points": int(stats["points"])}


def run_python(capture, xyz):
    samples = []
    cpu, wall = time.process_time(), time.perf_counter()
    points = 0
    checksum = 0.0
    with tovik16.open(capture) as c:
        samples.append(rss_kib())
        for rev in c:
            points += len(rev)
            checksum += float(rev.distance[-1])  # reads the arrays
            if xyz:
                checksum += float(rev.x[-1] + rev.y[-1] + rev.z[-1])
            if rev.index % 200 == 10:
                samples.append(rss_kib())
        revolutions = len(c)
    samples.append(rss_kib())
    return {"cpu": time.process_time() - cpu, "wall": time.perf_counter() - wall,
            "revolutions": revolutions, "points": points, "rss": samples}


def main():
    here = pathlib.Path(__file__).resolve()
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("capture")
    ap.add_argument("--convert",
                    default=str(here.parents[2] / "build/tools/convert/tovik16-convert"))
    ap.add_argument("--rounds", type=int, default=2)
    args = ap.parse_args()

    size = pathlib.Path(args.capture).stat().st_size / 1e6
    subprocess.run(["cat", args.capture], stdout=subprocess.DEVNULL, check=True)  # page cache
    runs = {"tovik16-convert --stats": [], "tovik16 iteration": [], "tovik16 iteration + xyz": []}
    for _ in range(args.rounds):
        runs["tovik16-convert --stats"].append(run_converter(args.convert, args.capture))
        runs["tovik16 iteration"].append(run_python(args.capture, xyz=False))
        runs["tovik16 iteration + xyz"].append(run_python(args.capture, xyz=True))
    best = {name: min(r, key=lambda x: x["cpu"]) for name, r in runs.items()}
    ref = best["tovik16-convert --stats"]
    for name, b in best.items():
        assert (b["revolutions"], b["points"]) == (ref["revolutions"], ref["points"]), name
    print(f"capture: {args.capture}, {size:.0f} MB, {ref['revolutions']} revolutions, "
          f"{ref['points']} points; best of {args.rounds} rounds")
    for name, b in best.items():
        print(f"{name:26s} cpu {b['cpu']:6.2f} s ({size / b['cpu']:4.0f} MB/s, "
              f"{ref['cpu'] / b['cpu'] * 100:3.0f} % of the converter), wall {b['wall']:6.2f} s")
    for name in ("tovik16 iteration", "tovik16 iteration + xyz"):
        s = best[name]["rss"]
        print(f"{name}: resident set after open {s[0][0] / 1024:.0f} MiB, after the first "
              f"revolutions {s[1][0] / 1024:.0f} MiB, peak {max(x[0] for x in s) / 1024:.0f} MiB, "
              f"at the end {s[-1][0] / 1024:.0f} MiB (anonymous {s[-1][1] / 1024:.0f}, "
              f"file pages {s[-1][2] / 1024:.0f})")


if __name__ == "__main__":
    main()
