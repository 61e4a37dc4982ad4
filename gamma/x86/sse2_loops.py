#!/usr/bin/env python3
"""Writes sse2_loops.inc: the steady loops of the SSE2 YUV kernels and of
the BGR24 lanes kernel as GCC inline assembly, scheduled for cores that
issue vector instructions in order (Silvermont and its kin) and checked by
the cost model (bench/model.py) on the others.

  python3 gamma/x86/sse2_loops.py          # rewrites gamma/x86/sse2_loops.inc
  python3 gamma/x86/sse2_loops.py --check  # fails if the .inc is not what it writes

Why generated: the loop runs three stages on different chunks at once (the
index vectors of the next chunk, the scalar table sums of this one, the
apply of a chunk eight behind) and is only fast when their instructions are
interleaved by latency, which neither the compiler nor a hand edit keeps
right for long. The stages are written here one after another; schedule()
interleaves them without changing what any instruction reads or writes.

One iteration corrects two chunks of four words (16 pixels):
  index   chunk j + 1: R, G and B of its eight pixels, clamped, as two
          vectors: R | G << 8 in each 16-bit lane, and B.
  sums    chunk j: from the previous iteration's index vectors (pextrw),
          three packed table entries per pixel, summed and stored in the
          ring slot of chunk j.
  apply   chunk j - 8: its sums, read back from the ring as vectors, added
          to the samples.
The index vectors of a half live in two registers until the next half's
sums read them: half 0 reads xmm6/xmm7 and writes xmm0/xmm3, half 1 the
other way round, so the loop needs no register moves.

Packed sums (PackYuvDeltasSummedBias in kernel_prep.h): bits 0..9 dY,
10..20 dU, 21..31 dV of a pixel, each field biased by 512 in total; samples
are widened with 0xFE in the high byte, which subtracts that bias again.
The packed entries lie at tbl (red, green, blue, 1 KB each) and the ring of
eight 32-byte slots at tbl + 3072 + off, off stepping by 64 a step, masked.
"""
import os
import re
import sys

LAG = 8                 # chunks between a chunk's sums and its apply
RING = 3072             # byte offset of the ring behind the 768 packed entries
RING_MASK = 32 * LAG - 1

# Registers the stages are written with, and the operands they become.
GPR = {"esi": "p", "edi": "tbl", "ebx": "off", "edx": "end", "eax": "a", "ecx": "c"}


def index_stage(disp, a, l, g, t):
    """R | G << 8 into a, B into t, for the chunk at disp(p)."""
    return [
        f"movdqu {disp}(%esi), {a}",
        f"movdqa {a}, {l}",
        f"pand %[lumaMask], {l}",            # Y0 Y1 of each word
        f"psrlw $8, {a}",                    # U V
        f"psubw %[chromaBias], {a}",
        f"psllw $4, {a}",                    # 16 * (c - 128)
        f"movdqa {a}, {g}",
        f"pmulhw %[blueRed], {a}",           # blue and red offsets
        f"pmulhw %[green], {g}",             # the two green parts
        f"pshuflw $0xb1, {g}, {t}",
        f"pshufhw $0xb1, {t}, {t}",
        f"paddw {t}, {g}",                   # green offset in both lanes
        f"pshuflw $0xa0, {a}, {t}",
        f"pshufhw $0xa0, {t}, {t}",          # blue offset in both lanes
        f"pshuflw $0xf5, {a}, {a}",
        f"pshufhw $0xf5, {a}, {a}",          # red offset in both lanes
        f"paddw {l}, {a}",
        f"paddw {l}, {g}",
        f"paddw {l}, {t}",
        f"packuswb {g}, {a}",                # eight R, eight G, clamped
        f"pshufd $0xee, {a}, {g}",
        f"punpcklbw {g}, {a}",               # R | G << 8
        f"pmaxsw %[zero], {t}",
        f"pminsw %[max255], {t}",            # B, clamped
    ]


def sums_stage(rg, b, slot):
    """Eight packed sums from the index vectors into the ring slot."""
    out = []
    for i in range(8):
        out += [
            f"pextrw ${i}, {rg}, %eax",
            "movzbl %al, %ecx",
            "shrl $8, %eax",
            "movl (%edi,%ecx,4), %ecx",
            "addl 1024(%edi,%eax,4), %ecx",
            f"pextrw ${i}, {b}, %eax",
            "addl 2048(%edi,%eax,4), %ecx",
            f"movl %ecx, {RING + slot + 4 * i}(%edi,%ebx)",
        ]
    return out


def apply_first_pixel(disp, slot, x, y, t1, t2):
    """Per two words: lanes Y0, U, Y1, V take dY of each pixel and the
    first pixel's dU and dV, moved into place by shifts and masks. Returns
    the ring reads, which must come before the sums overwrite the slot, and
    the rest."""
    reads = [f"movdqa {RING + slot}(%edi,%ebx), {x}", f"movdqa {RING + slot + 16}(%edi,%ebx), {y}"]
    rest = []
    for half, s in ((0, x), (1, y)):
        rest += [
            f"movdqa {s}, {t1}",
            f"pslld $6, {t1}",
            f"pand %[firstU], {t1}",
            f"movdqa {s}, {t2}",
            f"psllq $27, {t2}",
            f"pand %[secondV], {t2}",
            f"pand %[lumaField], {s}",
            f"por {t1}, {s}",
            f"por {t2}, {s}",
            f"movq {disp + 8 * half}(%esi), {t1}",
            f"punpcklbw %[sampleBias], {t1}",
            f"paddw {t1}, {s}",
        ]
    return reads, rest + [f"packuswb {y}, {x}", f"movdqu {x}, {disp}(%esi)"]


def apply_averaged(disp, slot, x, y, t1, t2):
    """First and second pixels of four words gathered by shufps; the pair's
    chroma fields summed, halved and put beside each pixel's dY."""
    return [
        f"movaps {RING + slot}(%edi,%ebx), {x}",
        f"movaps {x}, {y}",
        f"shufps $0x88, {RING + slot + 16}(%edi,%ebx), {x}",   # first pixels
        f"shufps $0xdd, {RING + slot + 16}(%edi,%ebx), {y}",   # second pixels
    ], [
        f"movdqa {x}, {t2}",
        f"pand %[lumaField], {t2}",
        f"psrld $10, {x}",
        f"movdqa {y}, {t1}",
        f"pand %[lumaField], {t1}",
        f"psrld $10, {y}",
        f"paddd {y}, {x}",                   # U pair in 0..10, V pair in 11..21
        f"movdqa {x}, {y}",
        f"pslld $15, {y}",
        f"pand %[chromaField], {y}",
        f"por {y}, {t2}",                    # per word: Y0 field, U average
        f"pslld $4, {x}",
        f"pand %[chromaField], {x}",
        f"por {x}, {t1}",                    # per word: Y1 field, V average
        f"movdqa {t2}, {x}",
        f"punpckldq {t1}, {t2}",             # words 0 and 1
        f"punpckhdq {t1}, {x}",              # words 2 and 3
        f"movdqu {disp}(%esi), {y}",
        f"movdqa {y}, {t1}",
        f"punpcklbw %[sampleBias], {y}",
        f"punpckhbw %[sampleBias], {t1}",
        f"paddw {t2}, {y}",
        f"paddw {x}, {t1}",
        f"packuswb {t1}, {y}",
        f"movdqu {y}, {disp}(%esi)",
    ]


def interleave(a, b):
    """b spread evenly through a: the order schedule() starts from."""
    out, ia, ib = [], 0, 0
    while ia < len(a) or ib < len(b):
        if ib >= len(b) or (ia < len(a) and ia * len(b) <= ib * len(a)):
            out.append(a[ia])
            ia += 1
        else:
            out.append(b[ib])
            ib += 1
    return out


def program(averaged):
    """One iteration in dependency-correct order, before scheduling."""
    apply = apply_averaged if averaged else apply_first_pixel
    halves = [
        # (index vectors read, index registers a, l, g, t), apply registers
        (("%xmm6", "%xmm7"), ("%xmm0", "%xmm1", "%xmm2", "%xmm3"), ("%xmm4", "%xmm5", "%xmm1", "%xmm2")),
        (("%xmm0", "%xmm3"), ("%xmm6", "%xmm4", "%xmm5", "%xmm7"), ("%xmm1", "%xmm2", "%xmm4", "%xmm5")),
    ]
    out = []
    for h, (old, idx, app) in enumerate(halves):
        sums = sums_stage(old[0], old[1], 32 * h)
        # The apply reads the slot before the sums overwrite it, into
        # registers the index of this half leaves alone.
        reads, rest = apply(16 * h - 16 * LAG, 32 * h, *app)
        out += reads
        out += interleave(index_stage(16 * (h + 1), *idx), sums[:32])
        out += interleave(rest, sums[32:])
    return out


# --- scheduling -------------------------------------------------------------

WRITE_ONLY = ("mov", "pshuf", "pextrw")


def operands(text):
    """(mnemonic, registers read, registers written, memory class, loads)."""
    mnemonic, _, rest = text.partition(" ")
    parts, depth, cur = [], 0, ""
    for ch in rest:
        depth += ch == "("
        depth -= ch == ")"
        if ch == "," and depth == 0:
            parts.append(cur.strip())
            cur = ""
        else:
            cur += ch
    parts.append(cur.strip())
    reads, writes, memory, loads = set(), set(), None, False
    for i, part in enumerate(parts):
        regs = {{"al": "eax"}.get(r, r) for r in re.findall(r"%([a-z0-9]+)", part)}
        if "(" in part:
            reads |= regs
            memory = "ring" if "%ebx" in part else "pixels" if "%esi" in part else None
            loads |= i < len(parts) - 1
        elif part.startswith("%["):
            loads = True
        elif i == len(parts) - 1:
            writes |= regs
            if not mnemonic.startswith(WRITE_ONLY):
                reads |= regs
        else:
            reads |= regs
    stores = "(" in parts[-1]
    return mnemonic, reads, writes, memory, loads, stores


def latency(mnemonic, loads):
    """Silvermont: loads 3 cycles, multiplies 5, the rest 1."""
    base = 5 if mnemonic.startswith("pmul") else 1
    if loads and mnemonic.startswith("mov"):
        return 3
    return base + (3 if loads else 0)


def schedule(body, width=2):
    """List scheduling: a vector instruction goes out only when its inputs
    are ready (the vector side issues in order), scalar work fills the gaps;
    among candidates the longest remaining chain goes first."""
    info = [operands(x) for x in body]
    n = len(body)
    deps = [set() for _ in range(n)]
    last_write, readers, memory_ops = {}, {}, {}
    for i, (_, reads, writes, memory, _, stores) in enumerate(info):
        for r in reads:
            if r in last_write:
                deps[i].add(last_write[r])
        for r in writes:
            if r in last_write:
                deps[i].add(last_write[r])
            deps[i] |= set(readers.get(r, []))
        for r in reads:
            readers.setdefault(r, []).append(i)
        for r in writes:
            last_write[r] = i
            readers[r] = []
        if memory:
            for j in memory_ops.get(memory, []):
                if stores or info[j][5]:
                    deps[i].add(j)
            memory_ops.setdefault(memory, []).append(i)
        deps[i].discard(i)
    height = [0] * n
    for i in reversed(range(n)):
        later = [height[j] for j in range(i + 1, n) if i in deps[j]]
        height[i] = latency(info[i][0], info[i][4]) + max(later, default=0)
    ready, placed, out, cycle = {}, set(), [], 0.0
    while len(out) < n:
        best = None
        for i in range(n):
            if i in placed or not deps[i] <= placed:
                continue
            mnemonic, reads, _, _, loads, _ = info[i]
            vector = any(r.startswith("xmm") for r in reads | info[i][2])
            early = 3 if loads and not mnemonic.startswith("mov") else 0
            wait = max(0.0, max((ready.get(r, 0) for r in reads), default=0) - early - cycle)
            key = ((0 if wait == 0 else 2) if vector else 1, wait, -height[i], i)
            if best is None or key < best[0]:
                best = (key, i)
        i = best[1]
        mnemonic, reads, writes, _, loads, _ = info[i]
        vector = any(r.startswith("xmm") for r in reads | writes)
        early = 3 if loads and not mnemonic.startswith("mov") else 0
        inputs = max((ready.get(r, 0) for r in reads), default=0)
        start = max(cycle, inputs - early)
        if vector:
            cycle = start
        for r in writes:
            ready[r] = max(start + latency(mnemonic, loads), inputs + latency(mnemonic, False))
        placed.add(i)
        out.append(body[i])
        cycle += 1.0 / width
    return out


# --- output -------------------------------------------------------------------

def to_operands(text):
    text = text.replace("%al", "%b[a]")
    for reg, name in GPR.items():
        text = re.sub(r"\(%" + reg + r"([,)])", "(%[" + name + r"]\1", text)
        text = re.sub(r",%" + reg + r"([,)])", ",%[" + name + r"]\1", text)
        text = re.sub(r"%" + reg + r"\b", "%k[" + name + "]" if name in ("a", "c") else "%[" + name + "]", text)
    return text.replace("%xmm", "%%xmm")


def yuv_loop(averaged):
    preamble = index_stage(0, "%xmm6", "%xmm4", "%xmm5", "%xmm7")
    body = schedule(program(averaged))
    tail = ["addl $32, %esi", "addl $64, %ebx", f"andl ${RING_MASK}, %ebx", "cmpl %esi, %edx", "jne 1b"]
    return preamble + ["1:"] + body + tail


def rgb24_lanes_loop():
    """48 bytes a step: each byte widened to a 16-bit lane, taken out with
    pextrw and looked up in the word tables (table j for byte j of 12, at
    1024 * j from tbl), four entries or-ed into each output word. Each
    step's first vector is loaded by the step before, and the other two at
    its start: the vector side issues in order and must not wait on them."""
    body = ["movdqu 16(%esi), %xmm2", "movdqu 32(%esi), %xmm3"]
    for block, src in enumerate(("%xmm4", "%xmm2", "%xmm3")):
        body += [f"movdqa {src}, %xmm1", f"punpcklbw %xmm7, {src}", "punpckhbw %xmm7, %xmm1"]
        for m in range(4):
            word = 4 * block + m
            lanes = src if m < 2 else "%xmm1"
            for b in range(4):
                table = 4 * (word % 3) + b
                body += [f"pextrw ${4 * (m % 2) + b}, {lanes}, %eax",
                         f"{'movl' if b == 0 else 'orl'} {1024 * table}(%edi,%eax,4), %ecx"]
            body.append(f"movl %ecx, {4 * word}(%esi)")
            if block == 2 and m == 0:
                body.append("movdqu 48(%esi), %xmm4")
    return ["pxor %xmm7, %xmm7", "movdqu (%esi), %xmm4", "1:"] + body + ["addl $48, %esi", "cmpl %esi, %edx", "jne 1b"]


def asm_text(lines):
    out = [to_operands(x) for x in lines]
    # Operand sizes follow the registers, so the same text serves x86-64.
    return [re.sub(r"^(add|and|or|cmp)l ", r"\1 ", x) for x in out]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = ["// Generated by gamma/x86/sse2_loops.py: edit that, then run it.",
           "// The steady loops of the SSE2 kernels; kernels_sse2.cpp supplies the",
           "// operands. Every line is one instruction.", ""]
    loops = (("ZVK_SSE2_YUV_FIRST_PIXEL_LOOP", yuv_loop(False)), ("ZVK_SSE2_YUV_AVERAGED_LOOP", yuv_loop(True)),
             ("ZVK_SSE2_RGB24_LANES_LOOP", rgb24_lanes_loop()))
    for name, lines in loops:
        text = ['    "{}\\n\\t"'.format(x) for x in asm_text(lines)]
        out.append("#define " + name + " \\\n" + " \\\n".join(text))
        out.append("")
    text = "\n".join(out)
    path = os.path.join(here, "sse2_loops.inc")
    if "--check" in sys.argv[1:]:
        with open(path) as f:
            if f.read() != text:
                print(path + " is stale: run python3 gamma/x86/sse2_loops.py", file=sys.stderr)
                return 1
        return 0
    with open(path, "w") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
