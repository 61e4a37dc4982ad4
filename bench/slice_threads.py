#!/usr/bin/env python3
"""One thread against a frame split across N threads (the slice pool), for
the cases that matter most: 1080p YUY2 at SSE2 (the weak CPUs' level), 4K
YUY2 and BGR24 at AVX2. Runs zvk_kernel_timing --threads N several times
(natively and, with --win32, the 32-bit code under Wine) and prints the
median over the runs of each one's median, the split's share of the
one-thread time, and the range of that share over the runs. The portable YUV kernel's line (compute-bound) shows how
much of a second core there was to have. The load average before and after says how busy the
machine was: on a machine shared with other work the second core is not
always free.

    python3 bench/slice_threads.py --runs 5 --win32 build/win32
"""
import argparse
import os
import statistics
import subprocess
import sys

from native32 import require_native_32bit

# The portable YUV kernel is compute-bound: its split shows whether a second
# core was free at all while the others were timed.
CASES = [
    ("1920x1080", "portable", ("CorrectYuvFirstPixel",)),
    ("1920x1080", "sse2", ("CorrectYuvFirstPixel", "CorrectYuvAveraged")),
    ("3840x2160", "avx2", ("CorrectYuvFirstPixel", "CorrectYuvAveraged", "CorrectRgb24")),
]


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def timings(command):
    """{(kernel, level): median ms} from one run, split rows under level/N-threads."""
    out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    rows = {}
    for line in out.splitlines():
        fields = line.split("\t")
        if line.startswith("#") or fields[0] == "name" or len(fields) < 4:
            continue
        rows[(fields[0], fields[1])] = float(fields[3])
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/native", help="native build folder")
    parser.add_argument("--win32", help="win32 build folder: also time the 32-bit code under Wine")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--samples", type=int, default=31, help="frames timed per run")
    args = parser.parse_args()

    builds = [("x86-64", [os.path.join(args.build, "bench", "zvk_kernel_timing")])]
    if args.win32:
        require_native_32bit()
        builds.append(("32-bit", [os.path.join(args.win32, "wine-run"),
                                  os.path.join(args.win32, "bench", "zvk_kernel_timing.exe")]))
    print(f"# load average before: {load()}; {os.cpu_count()} processors; "
          f"{args.runs} runs, medians of {args.samples} frames each")
    print("build\tkernel\tlevel\tsize\t1_thread_ms\t%d_threads_ms\tshare\tshare_range" % args.threads)
    for build, prefix in builds:
        for size, level, kernels in CASES:
            split = f"{level}/{args.threads}-threads"
            runs = [timings(prefix + ["--threads", str(args.threads), "--size", size, "--level", level,
                                      "--samples", str(args.samples)]) for _ in range(args.runs)]
            for kernel in kernels:
                if (kernel, level) not in runs[0]:
                    print(f"{build}\t{kernel}\t{level}\t{size}\tnot available on this CPU")
                    continue
                one = statistics.median(r[(kernel, level)] for r in runs)
                many = statistics.median(r[(kernel, split)] for r in runs)
                shares = [r[(kernel, split)] / r[(kernel, level)] for r in runs]
                print(f"{build}\t{kernel}\t{level}\t{size}\t{one:.3f}\t{many:.3f}\t{many / one:.2f}x\t"
                      f"{min(shares):.2f}-{max(shares):.2f}x")
                sys.stdout.flush()
    print(f"# load average after: {load()}")


if __name__ == "__main__":
    main()
