#!/usr/bin/env python3
"""Times two shell commands in interleaved pairs and prints one line of figures.

Usage: pairs.py [--pairs N] [--warmup N] A_COMMAND [B_COMMAND]

Runs A, B, A, B ... (after the warm-up runs, which are not counted), each
through /bin/sh -c with its output thrown away, and measures every run as a
whole process: wall time, and the peak resident memory the kernel accounted
for it (os.wait4). Pairing A with the B run right after it makes the ratio
hold when the machine's speed drifts during the measurement.

Prints one tab-separated line:
  a_median a_min a_max b_median b_min b_max ratio_median ratio_min ratio_max a_peak_bytes
(seconds; B's and the ratios' fields are "-" without B_COMMAND; a_peak_bytes
is the largest peak of A's counted runs).
"""

import argparse
import os
import statistics
import subprocess
import sys
import time


def run_once(command):
    """Wall seconds and peak resident bytes of one run of a shell command."""
    devnull = os.open(os.devnull, os.O_RDWR)
    try:
        start = time.perf_counter()
        proc = subprocess.Popen(["/bin/sh", "-c", command], stdin=devnull, stdout=devnull, stderr=devnull)
        _, _, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
        proc.returncode = 0  # reaped above; keeps Popen from waiting again
    finally:
        os.close(devnull)
    return elapsed, usage.ru_maxrss * 1024


def spread(values):
    return statistics.median(values), min(values), max(values)


def main():
    ap = argparse.ArgumentParser(description="Times two commands in interleaved pairs.")
    ap.add_argument("--pairs", type=int, default=7)
    ap.add_argument("--warmup", type=int, default=1)
    ap.add_argument("a")
    ap.add_argument("b", nargs="?")
    args = ap.parse_args()

    for _ in range(args.warmup):
        run_once(args.a)
        if args.b:
            run_once(args.b)
    a_times, b_times, ratios, peaks = [], [], [], []
    for _ in range(args.pairs):
        t, peak = run_once(args.a)
        a_times.append(t)
        peaks.append(peak)
        if args.b:
            u, _ = run_once(args.b)
            b_times.append(u)
            ratios.append(t / u if u > 0 else float("inf"))

    fields = ["%.4f" % v for v in spread(a_times)]
    if args.b:
        fields += ["%.4f" % v for v in spread(b_times)]
        fields += ["%.3f" % v for v in spread(ratios)]
    else:
        fields += ["-"] * 6
    fields.append(str(max(peaks)))
    print("\t".join(fields))
    return 0


if __name__ == "__main__":
    sys.exit(main())
