#!/usr/bin/env python3
"""Cost model of the 32-bit DLL's hot loops on CPUs we do not have.

Disassembles the built ZVK_Gamma.dll, finds each kernel's hot loop by its
function symbol (the steady loop: the largest body that runs straight from
the target of a backward branch to that branch), writes it as an llvm-mca
input file (AT&T syntax, as objdump prints it) and runs llvm-mca 14 on it
for each CPU below. One line per kernel, level and CPU:

  KERNEL LEVEL CPU CYCLES_PER_ITERATION PIXELS_PER_ITERATION CYCLES_PER_PIXEL MS_1080P FILE

MS_1080P is one 1920x1080 frame at the clock in the CPU table, on one core,
from cache. The header lines (#) give the clocks and the stand-ins.

  python3 bench/model.py build/win32 [--kernel NAME] [--level NAME] [--cpu NAME]

llvm-mca models the core, not the memory: for gathers its numbers mean
little, and a frame that comes from memory takes longer.
"""
import argparse
import os
import re
import subprocess
import sys

OBJDUMP = "i686-w64-mingw32-objdump"
MCA = "llvm-mca-14"
TRIPLE = "i686-pc-windows-gnu"
ITERATIONS = 300
PIXELS_1080P = 1920 * 1080

# name, llvm-mca model, GHz assumed, highest level it runs, extra bounds, note.
# Bounds a model lacks: "loads" is at most that many loads a cycle (the
# load ports), "width" at most that many instructions a cycle.
CPUS = [
    ("silvermont", "silvermont", 2.0, "sse2", {}, "Atom/Celeron/Pentium of the Bay Trail class"),
    ("btver2", "btver2", 1.5, "sse2", {}, "AMD Jaguar"),
    ("goldmont", "sandybridge", 2.0, "sse2", {"loads": 1, "width": 3},
     "no model of its own in llvm-mca 14 (-mcpu=goldmont is the Silvermont model): "
     "the sandybridge model bounded by one load and three instructions a cycle"),
    ("sandybridge", "sandybridge", 2.4, "sse2", {"loads": 1},
     "standing in for Core 2 and Nehalem: the sandybridge model bounded by their one load port"),
    ("skylake", "skylake", 3.5, "avx2", {}, ""),
    ("znver2", "znver2", 3.4, "avx2", {}, ""),
    ("znver3", "znver3", 3.4, "avx2", {}, ""),
]

LEVELS = ["portable", "sse2", "sse2-lanes", "avx2", "avx2-gather"]

# Where each kernel's loop lives: regular expressions on the mangled
# symbols of the functions that may hold it (inlining decides which), and
# the pixels one iteration of that loop corrects, from the source: the
# portable kernels take one word or one pixel a step, SSE2 YUV two chunks
# of four words (gamma/x86/sse2_loops.py), AVX2 YUV eight words, the BGR24 word
# loop four pixels, the BGR24 lanes loop and the AVX2 BGR24 gather loop 16
# and 32 pixels. The script checks each against the loop's pointer or
# counter step. sse2-lanes shares the YUV kernels of sse2.
LOOPS = {
    ("CorrectYuvFirstPixel", "portable"): ([r"^__ZN3zvk20CorrectYuvFirstPixelEPhj"], 2),
    ("CorrectYuvAveraged", "portable"): ([r"^__ZN3zvk18CorrectYuvAveragedEPhj"], 2),
    ("CorrectRgb24", "portable"): ([r"^__ZN3zvk12CorrectRgb24EPhjPKi"], 1),
    ("CorrectYuvFirstPixel", "sse2"): ([r"RunLoopILb0E", r"CorrectYuvSse2ILb0E", r"CorrectYuvFirstPixelSse2"], 16),
    ("CorrectYuvAveraged", "sse2"): ([r"RunLoopILb1E", r"CorrectYuvSse2ILb1E", r"CorrectYuvAveragedSse2"], 16),
    ("CorrectRgb24", "sse2"): ([r"CorrectRgb24Words"], 4),
    ("CorrectRgb24", "sse2-lanes"): ([r"CorrectRgb24Lanes"], 16),
    ("CorrectYuvFirstPixel", "avx2"): ([r"CorrectYuvAvx2ILb0E", r"CorrectYuvFirstPixelAvx2E"], 16),
    ("CorrectYuvAveraged", "avx2"): ([r"CorrectYuvAvx2ILb1E", r"CorrectYuvAveragedAvx2E"], 16),
    ("CorrectRgb24", "avx2"): ([r"CorrectRgb24Words"], 4),
    ("CorrectYuvFirstPixel", "avx2-gather"): ([r"CorrectYuvAvx2GatherILb0E", r"CorrectYuvFirstPixelAvx2Gather"], 16),
    ("CorrectYuvAveraged", "avx2-gather"): ([r"CorrectYuvAvx2GatherILb1E", r"CorrectYuvAveragedAvx2Gather"], 16),
    ("CorrectRgb24", "avx2-gather"): ([r"CorrectRgb24Avx2Gather"], 32),
}
KERNELS = ["CorrectYuvFirstPixel", "CorrectYuvAveraged", "CorrectRgb24"]


def bytes_per_pixel(kernel):
    return 3 if kernel == "CorrectRgb24" else 2


FUNCTION = re.compile(r"^([0-9a-f]+) <(.+)>:$")
INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\s+(.*)$")
BRANCH = re.compile(r"^(j[a-z]+|loop[a-z]*)\s+([0-9a-f]+)\b")


def disassemble(dll):
    out = subprocess.run([OBJDUMP, "-d", "--no-show-raw-insn", dll], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, check=True).stdout
    return parse_disassembly(out)


def parse_disassembly(out):
    """{symbol: [(address, text)]} for every function objdump names."""
    functions, current = {}, None
    for line in out.splitlines():
        m = FUNCTION.match(line)
        if m:
            current = functions.setdefault(m.group(2), [])
            continue
        m = INSTRUCTION.match(line)
        if m and current is not None:
            text = m.group(2).split("#")[0].strip()
            if text and not text.startswith("("):
                current.append((int(m.group(1), 16), text))
    return functions


def straight_loops(body):
    """(start, end) index pairs of loops that run straight from the target
    of a backward branch to that branch, with no other branch or call."""
    index = {address: i for i, (address, _) in enumerate(body)}
    loops = []
    for i, (address, text) in enumerate(body):
        m = BRANCH.match(text)
        if not m:
            continue
        target = int(m.group(2), 16)
        if target > address or target not in index:
            continue
        start = index[target]
        inner = body[start:i]
        if any(BRANCH.match(t) or t.startswith(("call", "ret", "jmp")) for _, t in inner):
            continue
        loops.append((start, i))
    return loops


def find_loop(functions, patterns):
    """The largest straight loop among the functions the patterns name."""
    best = None
    for name, body in functions.items():
        if not any(re.search(p, name) for p in patterns):
            continue
        for start, end in straight_loops(body):
            if best is None or end - start > best[2] - best[1]:
                best = (name, start, end, body)
    if best is None:
        return None
    name, start, end, body = best
    return name, body[start:end + 1]


STEP = re.compile(r"^(?:add|sub)l?\s+\$(-?0x[0-9a-f]+|-?\d+),%(e[a-z]+)$")
LEA_STEP = re.compile(r"^lea\s+(-?0x[0-9a-f]+)\(%(e[a-z]+)\),%(e[a-z]+)$")


def pointer_steps(loop):
    """Constants the loop adds to a register: one of them is the pixel
    pointer's step in bytes."""
    steps = set()
    for _, text in loop:
        m = STEP.match(text)
        if m:
            value = int(m.group(1), 0)
            value -= 1 << 32 if value >= 1 << 31 else 0   # objdump prints sub $-128 as $0xffffff80
            steps.add(-value if text.startswith("sub") else value)
        m = LEA_STEP.match(text)
        if m and m.group(2) == m.group(3):
            steps.add(int(m.group(1), 0))
    return steps


def mca_source(name, loop):
    """The loop as llvm-mca input: its closing branch aimed at a label."""
    lines = ["# {} at 0x{:x}, {} instructions".format(name, loop[0][0], len(loop)), "loop:"]
    for _, text in loop[:-1]:
        lines.append("\t" + re.sub(r"\s+<[^>]*>$", "", text))
    branch = BRANCH.match(loop[-1][1])
    lines.append("\t{} loop".format(branch.group(1)))
    return "\n".join(lines) + "\n"


def run_mca(path, model):
    result = subprocess.run([MCA, "-mtriple=" + TRIPLE, "-mcpu=" + model, "-iterations={}".format(ITERATIONS),
                             "-instruction-info", "-resource-pressure=false", path],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("{} failed on {} ({}):\n{}".format(MCA, path, model, result.stderr[-2000:]))
    out = result.stdout
    iterations = int(re.search(r"^Iterations:\s+(\d+)", out, re.M).group(1))
    cycles = int(re.search(r"^Total Cycles:\s+(\d+)", out, re.M).group(1))
    instructions = int(re.search(r"^Instructions:\s+(\d+)", out, re.M).group(1)) // iterations
    # Instruction info: a fixed-width table whose MayLoad column holds '*'
    # under the middle of its "[4]" heading.
    info = out.split("Instruction Info:")[1].splitlines()
    heading = next(line for line in info if line.startswith("[1]") and "[4]" in line)
    column = heading.index("[4]") + 1
    rows = info[info.index(heading) + 1:]
    loads = 0
    for line in rows[:instructions]:
        loads += len(line) > column and line[column] == "*"
    return cycles / iterations, instructions, loads


def level_rank(level):
    return {"portable": 0, "sse2": 1, "sse2-lanes": 1, "avx2": 2, "avx2-gather": 2}[level]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="the win32 build folder (holds plugin/ZVK_Gamma.dll)")
    parser.add_argument("--kernel", action="append", help="only this kernel (repeatable)")
    parser.add_argument("--level", action="append", help="only this level (repeatable)")
    parser.add_argument("--cpu", action="append", help="only this CPU (repeatable)")
    args = parser.parse_args()

    dll = os.path.join(args.build, "plugin", "ZVK_Gamma.dll")
    if not os.path.exists(dll):
        sys.exit("no {}: build the win32 preset first".format(dll))
    folder = os.path.join(args.build, "model")
    os.makedirs(folder, exist_ok=True)
    functions = disassemble(dll)

    cpus = [c for c in CPUS if not args.cpu or c[0] in args.cpu]
    print("# clocks assumed (GHz): " + ", ".join("{} {}".format(c[0], c[2]) for c in cpus))
    for cpu in cpus:
        if cpu[5]:
            print("# {}: {}".format(cpu[0], cpu[5]))
    print("# llvm-mca 14, -mtriple={}, {} iterations; MS_1080P: {} pixels, one core, from cache"
          .format(TRIPLE, ITERATIONS, PIXELS_1080P))
    print("KERNEL LEVEL CPU CYCLES_PER_ITERATION PIXELS_PER_ITERATION CYCLES_PER_PIXEL MS_1080P FILE")
    failed = False
    for kernel in KERNELS:
        if args.kernel and kernel not in args.kernel:
            continue
        for level in LEVELS:
            if args.level and level not in args.level:
                continue
            if (kernel, level) not in LOOPS:
                continue
            patterns, pixels = LOOPS[(kernel, level)]
            found = find_loop(functions, patterns)
            if found is None:
                print("# {} {}: no loop found in {}".format(kernel, level, dll), file=sys.stderr)
                failed = True
                continue
            name, loop = found
            # A loop steps a pointer by its bytes or a counter by its pixels
            # (or, for YUV, words).
            steps = {pixels * bytes_per_pixel(kernel), pixels}
            if kernel != "CorrectRgb24":
                steps.add(pixels // 2)
            if not steps & pointer_steps(loop):
                print("# {} {}: the loop in {} steps by none of {} (bytes, pixels or words of {} pixels); "
                      "the table is stale".format(kernel, level, name, sorted(steps), pixels), file=sys.stderr)
                failed = True
            path = os.path.join(folder, "{}-{}.s".format(kernel, level))
            with open(path, "w") as f:
                f.write(mca_source(name, loop))
            for cpu, model, ghz, top, bounds, _ in cpus:
                if level_rank(level) > level_rank(top):
                    continue
                cycles, instructions, loads = run_mca(path, model)
                if "loads" in bounds:
                    cycles = max(cycles, loads / bounds["loads"])
                if "width" in bounds:
                    cycles = max(cycles, instructions / bounds["width"])
                per_pixel = cycles / pixels
                ms = per_pixel * PIXELS_1080P / (ghz * 1e6)
                print("{} {} {} {:.1f} {} {:.2f} {:.2f} {}".format(kernel, level, cpu, cycles, pixels, per_pixel,
                                                                   ms, path))
                sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
