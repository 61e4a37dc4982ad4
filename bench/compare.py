#!/usr/bin/env python3
"""Compares our kernels with what a user would do instead in FFmpeg.

On the same raw frames (FFmpeg's testsrc2 pattern, written once to a
temporary folder) it times, in one invocation:
  - our kernels at every level and variant this CPU has, each forced, and
    as Init chooses them (zvk_kernel_timing --input), natively and, with
    --win32, the 32-bit build under Wine; and the in-place streaming pass
    over the same frames;
  - FFmpeg single-threaded: lutrgb with gammaval on bgr24, and for YUY2 the
    chain format=bgr24,lutrgb,format=yuyv422; minus FFmpeg's own decode and
    I/O cost, measured as the same command with -vf null.
Timings here are noisy (shared machine): every figure is a median of
several runs, and the ratios are what to read.

  bench/compare.py [--build build/native] [--win32 build/win32] [--runs 5] [--frames 50] [--size 1920x1080]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys

from native32 import require_native_32bit
import tempfile

# Red 2.00, green 0.50, blue 3.16: the gammas the benchmarks use. FFmpeg's
# gammaval(g) raises to 1/g, as our tables do.
GAMMAS = (2.00, 0.50, 3.16)
LUTRGB = "lutrgb=r=gammaval({:.2f}):g=gammaval({:.2f}):b=gammaval({:.2f})".format(*GAMMAS)
KERNELS = [
    ("CorrectYuvFirstPixel", "yuy2", "yuyv422", "format=bgr24," + LUTRGB + ",format=yuyv422"),
    ("CorrectYuvAveraged", "yuy2", "yuyv422", "format=bgr24," + LUTRGB + ",format=yuyv422"),
    ("CorrectRgb24", "bgr24", "bgr24", LUTRGB),
]


def run(cmd):
    result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("failed: {}\n{}".format(" ".join(cmd), result.stderr[-2000:]))
    return result


def make_frames(ffmpeg, folder, size, frames, pix_fmt):
    path = os.path.join(folder, "frames.{}".format(pix_fmt))
    if not os.path.exists(path):
        run([ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
             "testsrc2=size={}:rate=25".format(size), "-frames:v", str(frames), "-pix_fmt", pix_fmt,
             "-f", "rawvideo", path])
    return path


def ffmpeg_seconds(ffmpeg, path, size, pix_fmt, chain):
    """Real time of one single-threaded FFmpeg run, as it reports it."""
    out = run([ffmpeg, "-hide_banner", "-nostdin", "-nostats", "-loglevel", "info", "-benchmark",
               "-filter_threads", "1", "-threads", "1",
               "-f", "rawvideo", "-pix_fmt", pix_fmt, "-s", size, "-i", path,
               "-threads", "1", "-vf", chain, "-f", "null", "-"])
    match = re.search(r"rtime=([0-9.]+)s", out.stdout + out.stderr)
    if not match:
        sys.exit("no timing in FFmpeg's output")
    return float(match.group(1))


def ours(timing, path, size, fmt, samples, prefix=()):
    """Median ms per kernel and level (and the streaming pass) on the frames,
    and the harness's notes on what Init chose."""
    out = run(list(prefix) + [timing, "--input", path, "--format", fmt, "--size", size, "--samples", str(samples)])
    rows, notes = {}, []
    for line in out.stdout.splitlines():
        if line.startswith("#"):
            notes.append(line[1:].strip())
            continue
        fields = line.split("\t")
        if fields[0] == "name":
            continue
        rows[(fields[0], fields[1])] = float(fields[3])
    return rows, notes


def levels_of(rows, kernel):
    """The levels timed for kernel, in the harness's order, then Init's."""
    seen = [level for (name, level) in rows if name == kernel and level not in ("identity", "init")]
    return seen + ["init"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/native", help="native build folder")
    parser.add_argument("--win32", help="win32 build folder: also time the 32-bit kernels under Wine")
    parser.add_argument("--ffmpeg", default="ffmpeg")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--frames", type=int, default=50)
    parser.add_argument("--samples", type=int, default=31, help="frames timed per run of ours")
    parser.add_argument("--size", default="1920x1080")
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split("x"))
    frames_ms = 1000.0 / args.frames

    timing = os.path.join(args.build, "bench", "zvk_kernel_timing")
    builds = [("native", timing, ())]
    if args.win32:
        require_native_32bit()
        builds.append(("win32", os.path.join(args.win32, "bench", "zvk_kernel_timing.exe"),
                       (os.path.join(args.win32, "wine-run"),)))

    with tempfile.TemporaryDirectory(prefix="zvk-compare-") as folder:
        results = {}
        notes = {}
        for fmt, pix_fmt in (("yuy2", "yuyv422"), ("bgr24", "bgr24")):
            path = make_frames(args.ffmpeg, folder, args.size, args.frames, pix_fmt)
            chains = {"null": "null"}
            for kernel, kfmt, _, chain in KERNELS:
                if kfmt == fmt:
                    chains[kernel] = chain
            # Runs interleaved, so that a burst of load from elsewhere hits
            # every command alike.
            times = {key: [] for key in chains}
            ourRuns = {b[0]: [] for b in builds}
            for _ in range(args.runs):
                for key, chain in chains.items():
                    times[key].append(ffmpeg_seconds(args.ffmpeg, path, args.size, pix_fmt, chain))
                for name, exe, prefix in builds:
                    rows, build_notes = ours(exe, path, args.size, fmt, args.samples, prefix)
                    ourRuns[name].append(rows)
                    notes[name] = build_notes
            null_ms = statistics.median(times["null"]) * frames_ms
            for key in chains:
                if key == "null":
                    continue
                results[key] = {"ffmpeg": statistics.median(times[key]) * frames_ms - null_ms, "null": null_ms}
                for name, _, _ in builds:
                    runs = ourRuns[name]
                    stream = "StreamInPlace/" + fmt
                    levels = [(level, statistics.median(r[(key, level)] for r in runs))
                              for level in levels_of(runs[0], key)]
                    results[key][name] = (levels, statistics.median(r[(stream, "-")] for r in runs))

    print("{} frames of {} (FFmpeg testsrc2), medians of {} runs, ms per frame, one thread".format(
        args.frames, args.size, args.runs))
    for name, _, _ in builds:
        for note in notes[name]:
            print("{}: {}".format(name, note))
    header = "{:<22} {:>7} {:>12} {:>9} {:>9} {:>11} {:>11} {:>8}".format(
        "kernel", "build", "level", "ours", "FFmpeg", "FFmpeg/ours", "ours/stream", "% 60fps")
    print(header)
    print("-" * len(header))
    for kernel, _, _, _ in KERNELS:
        r = results[kernel]
        for name, _, _ in builds:
            levels, stream = r[name]
            for level, ms in levels:
                print("{:<22} {:>7} {:>12} {:>9.3f} {:>9.3f} {:>10.1f}x {:>10.2f}x {:>7.1f}%".format(
                    kernel, name, level, ms, r["ffmpeg"], r["ffmpeg"] / ms, ms / stream, 100.0 * ms * 60 / 1000))
    print()
    for fmt in ("yuy2", "bgr24"):
        for name, _, _ in builds:
            kernel = "CorrectRgb24" if fmt == "bgr24" else "CorrectYuvAveraged"
            print("streaming pass {:<6} {:<7} {:.3f} ms".format(fmt, name, results[kernel][name][1]))
    print("FFmpeg -vf null overhead: {:.3f} ms (yuy2), {:.3f} ms (bgr24), subtracted above".format(
        results["CorrectYuvAveraged"]["null"], results["CorrectRgb24"]["null"]))


if __name__ == "__main__":
    main()
