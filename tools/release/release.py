"""The steps of tools/release.sh that read or write files: the checks of the
DLL to be shipped, the smoke run's frames and verdict, the guides and the
zip. Every check prints one line, "ok: ..." or "FAIL: ...", and a step
that finds a fault exits with 1."""

import argparse
import bisect
import hashlib
import os
import random
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import package  # noqa: E402
import pe  # noqa: E402
import reference  # noqa: E402

EXPORTS = {"Zentavio_Plugin_PR": 1, "Zentavio_Plugin_Version": 2}
GAMMA_DIALOG = 5000
SUBSYSTEM_GUI = 2
# The value texts read "Static" only until the window fills them in.
PLACEHOLDER_TEXTS = {"", "Static", "Slider1"}


class Report:
    def __init__(self):
        self.failed = 0

    def check(self, what, problems):
        if problems:
            self.failed += 1
            print("FAIL: %s" % what)
            for p in problems:
                print("      %s" % p)
        else:
            print("ok: %s" % what)

    def exit(self):
        sys.exit(1 if self.failed else 0)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def allowed_imports(path):
    allowed = set()
    for line in read(path).decode("ascii").splitlines():
        words = line.split()
        if len(words) == 2 and not line.startswith("#"):
            allowed.add((words[0].lower(), words[1]))
    return allowed


def product_version(image):
    return pe.version_strings(image.resource(pe.RT_VERSION, 1)).get("ProductVersion", "")


def window_texts(image):
    """The caption and every control text the settings window shows."""
    caption, controls = pe.dialog_texts(image.resource(pe.RT_DIALOG, GAMMA_DIALOG))
    return [caption] + [text for _, cls, text in controls
                        if isinstance(text, str) and text not in PLACEHOLDER_TEXTS and cls != "msctls_trackbar32"]


# --- the DLL to be shipped

def dll_problems(data, xp_imports, version, forbidden_paths):
    """{check: [problems]} for a DLL about to be shipped."""
    image = pe.PeImage(data)
    found = {}
    found["a 32-bit x86 DLL"] = [] if image.machine == 0x14C and image.characteristics & 0x2000 else [
        "machine 0x%x, characteristics 0x%x" % (image.machine, image.characteristics)]
    found["Windows GUI subsystem"] = [] if image.subsystem == SUBSYSTEM_GUI else [
        "subsystem %d" % image.subsystem]
    debug = [s.name for s in image.sections if s.name.startswith(".debug")]
    found["stripped: no symbol table, no debug sections"] = (
        (["%d symbols" % image.symbol_count] if image.symbol_count else []) +
        (["sections %s" % debug] if debug else []))

    imports, import_stamps = image.imports()
    exports, export_stamp = image.exports()
    _, resource_stamps = image.resources()
    stamps = []
    if image.timestamp:
        stamps.append("PE header 0x%x" % image.timestamp)
    if export_stamp:
        stamps.append("export directory 0x%x" % export_stamp)
    if any(import_stamps):
        stamps.append("import descriptors %s" % sorted(set(import_stamps)))
    if any(resource_stamps):
        stamps.append("resource directories %s" % sorted(set(resource_stamps)))
    if image.directory(pe.DIR_DEBUG)[0]:
        stamps.append("a debug directory (it carries a time stamp)")
    found["no time stamps (PE header, exports, imports, resources)"] = stamps
    found["PE checksum right"] = [] if image.checksum == image.computed_checksum() else [
        "header 0x%x, computed 0x%x" % (image.checksum, image.computed_checksum())]

    allowed = allowed_imports(xp_imports)
    found["imports only functions Windows XP has"] = [
        "%s %s" % pair for pair in sorted(set(imports) - allowed)]
    found["exports the two entry functions by their ordinals"] = [] if exports == EXPORTS else [
        "exports %s" % exports]
    shipped = product_version(image)
    found["version resource says %s" % version] = [] if shipped == version else [
        "ProductVersion %r" % shipped]

    found["no build paths"] = paths_in(data, forbidden_paths)
    return found


def paths_in(data, paths):
    """Those of the paths that the image holds, as bytes or as UTF-16 text."""
    return [p for p in paths if p.encode() in data or p.encode("utf-16-le") in data]


# Vector code (MMX, SSE, AVX registers, or SSE's fences, prefetches and
# streaming stores) may sit only in the kernel files that the dispatcher
# picks by what the CPU reports; everything else must run on any i686.
VECTOR_OBJECTS = re.compile(r"\(kernels_(sse2|avx2|avx512)\.cpp\.obj\)$")
VECTOR_INSTRUCTION = re.compile(r"%[xyz]?mm\d|\t(mfence|lfence|sfence|prefetch\w*|movnt\w*|clflush\w*|maskmov\w*|emms)\b")


def text_objects(map_text):
    """[(start, end, object)] of the code sections in a link map, by address."""
    spans = []
    pending = None
    memory_map = map_text[map_text.find("Linker script and memory map"):]
    for line in memory_map.split("\n"):
        m = re.match(r"^ (\.text\S*)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m and (m.group(1) or pending):
            start, size = int(m.group(2), 16), int(m.group(3), 16)
            if size:
                spans.append((start, start + size, m.group(4).strip()))
        pending = re.match(r"^ \.text\S*$", line)
    return sorted(spans)


def vector_code_outside_kernels(disassembly, map_text):
    """The functions outside the kernel files that use vector instructions,
    as "function (object): first such instruction"."""
    spans = text_objects(map_text)
    starts = [s for s, _, _ in spans]
    found, function = {}, "?"
    for line in disassembly.split("\n"):
        label = re.match(r"^([0-9a-f]+) <(.*)>:$", line)
        if label:
            function = label.group(2)
            continue
        insn = re.match(r"^\s*([0-9a-f]+):\t(.*)$", line)
        if not insn or not VECTOR_INSTRUCTION.search("\t" + insn.group(2)):
            continue
        address = int(insn.group(1), 16)
        i = bisect.bisect_right(starts, address) - 1
        owner = spans[i][2] if i >= 0 and address < spans[i][1] else "(no object)"
        if not VECTOR_OBJECTS.search(owner):
            found.setdefault("%s (%s)" % (function, owner), insn.group(2).strip())
    return ["%s: %s" % item for item in found.items()]


def cmd_version(args):
    print(product_version(pe.PeImage(read(args.dll))))


def cmd_check_dll(args):
    report = Report()
    data = read(args.dll)
    for what, problems in dll_problems(data, args.xp_imports, args.version, args.forbid).items():
        report.check("%s: %s" % (os.path.basename(args.dll), what), problems)
    if args.unstripped:
        report.check("%s (unstripped): no build paths" % os.path.basename(args.unstripped),
                     paths_in(read(args.unstripped), args.forbid))
    if args.disassembly and args.map:
        report.check("%s: vector instructions only in the SSE2, AVX2 and AVX-512 kernels" %
                     os.path.basename(args.dll),
                     vector_code_outside_kernels(read(args.disassembly).decode("latin-1"),
                                                 read(args.map).decode("latin-1")))
    report.exit()


# --- the smoke run: frames in each format and the window, through the stand-in host

SMOKE_SECTION = 7
SMOKE_GAMMAS = (180, 55, 310)
# An HD frame, so that the way big frames take (shared among threads on a
# multi-core PC) is run too. Every word (pixel) is corrected on its own, so
# a frame that repeats a random block is corrected block by block: Python
# needs to work out one block only. The blocks hold a prime number of words
# (pixels), so a slice corrected into the wrong place shows.
SMOKE_SIZE = (1920, 1080)
SMOKE_FORMATS = {"yuy2.bin": 4 * 16381, "bgr24.bin": 3 * 21841}  # file: block length in bytes
SMOKE_FRAMES = (  # input, output, colour format, variant, kernel
    ("yuy2.bin", "yuy2-first.out", 0, 0, "YUY2, chroma of the first pixel"),
    ("yuy2.bin", "yuy2-averaged.out", 0, 2, "YUY2, averaged chroma"),
    ("bgr24.bin", "bgr24.out", 1, 0, "BGR24"),
)


def repeated(block, length):
    return (block * (length // len(block) + 1))[:length]


def cmd_smoke_prepare(args):
    """Writes the settings file, the input frames and the host script."""
    width, height = SMOKE_SIZE
    rng = random.Random(15)
    os.makedirs(os.path.join(args.dir, "host", "Plugins"), exist_ok=True)
    for name, block in SMOKE_FORMATS.items():
        with open(os.path.join(args.dir, name), "wb") as f:
            f.write(repeated(rng.randbytes(block), width * height * (2 if name.startswith("yuy2") else 3)))
    r, g, b = SMOKE_GAMMAS
    ini = ["[DIALOG]", "DlgWndPosX=-100", "DlgWndPosY=-100", "[%d]" % SMOKE_SECTION,
           "RGamma=%d" % r, "GGamma=%d" % g, "BGamma=%d" % b, "Binding=0", "Enable=1"]
    with open(os.path.join(args.dir, "host", "Plugins", "ZVK_Gamma.ini"), "wb") as f:
        f.write("".join(line + "\r\n" for line in ini).encode("ascii"))
    script = ["descriptor", "init"]
    for source, target, colour, variant, _ in SMOKE_FRAMES:
        script += ["format %d %d %d %d" % (width, height, colour, variant),
                   "frame %d ../%s ../%s" % (SMOKE_SECTION, source, target)]
    script += ["window 100 100 800 600", "show", "wait 300", "state dialogs dialog.visible",
               "click 5002", "wait 300", "state dialogs", "close"]
    with open(os.path.join(args.dir, "smoke.zvk"), "w") as f:
        f.write("\n".join(script) + "\n")


def smoke_problems(log, descriptor_expected, outputs):
    """{check: [problems]} from the host's output and the frames it wrote.
    outputs: [(what, expected bytes, actual bytes or None)]."""
    lines = log.replace("\r", "").split("\n")
    found = {}
    wanted = [line for line in descriptor_expected.split("\n")[:4] if line]
    found["loaded by the stand-in host: interface version, descriptor"] = [
        "expected %r" % w for w in wanted if w not in lines]
    for what, expected, actual in outputs:
        problems = []
        if actual is None:
            problems.append("no output frame")
        elif actual != expected:
            first = next((i for i in range(min(len(actual), len(expected))) if actual[i] != expected[i]),
                         min(len(actual), len(expected)))
            problems.append("%d of %d bytes, first difference at byte %d" % (len(actual), len(expected), first))
        found["frame %s bit-exact to tables built apart" % what] = problems
    opened = "dialogs=1" in lines and "dialog.visible=1" in lines
    closed = opened and "dialogs=0" in lines[lines.index("dialogs=1"):]
    found["the window opens and closes with its OK button"] = [] if opened and closed else [
        "host said: %s" % [line for line in lines if line.startswith(("dialog", "show"))]]
    errors = [line for line in lines if line.startswith("error")]
    found["the host reported no error"] = errors
    return found


def cmd_smoke_check(args):
    report = Report()
    luts, deltas = reference.build_tables(SMOKE_GAMMAS)
    outputs = []
    for source, target, colour, variant, what in SMOKE_FRAMES:
        frame = read(os.path.join(args.dir, source))
        block = frame[:SMOKE_FORMATS[source]]
        if frame != repeated(block, len(frame)):
            sys.exit("smoke-check: %s is not the frame smoke-prepare wrote" % source)
        if colour == 1:
            expected = repeated(reference.correct_bgr24(block, luts), len(frame))
        else:
            expected = repeated(reference.correct_yuy2(block, deltas, averaged=(variant == 2)), len(frame))
        out = os.path.join(args.dir, target)
        outputs.append((what, expected, read(out) if os.path.exists(out) else None))
    log = read(args.log).decode("latin-1")
    descriptor = read(args.descriptor_expected).decode("latin-1")
    for what, problems in smoke_problems(log, descriptor, outputs).items():
        report.check(what, problems)
    if args.rc != 0:
        report.check("the host exited with 0", ["exit status %d" % args.rc])
    report.exit()


# --- guides and zip

def cmd_package(args):
    """Writes the guides and SHA256SUMS beside the stripped DLL, checks them,
    then writes and checks the zip."""
    report = Report()
    image = pe.PeImage(read(os.path.join(args.stage, package.DLL)))
    texts = window_texts(image)
    files = [(package.DLL, read(os.path.join(args.stage, package.DLL)))]
    for name in package.GUIDES:
        with open(os.path.join(args.guides, name), encoding="utf-8") as f:
            data = package.guide_bytes(f.read(), args.version)
        report.check("%s: UTF-8 with BOM, CR LF, every text of the window" % name,
                     package.guide_problems(name, data, texts, args.version))
        files.append((name, data))
    files.append((package.SUMS, package.sums_text(files)))
    for name, data in files:
        with open(os.path.join(args.stage, name), "wb") as f:
            f.write(data)
    if report.failed:
        report.exit()
    package.write_zip(args.zip, files, args.epoch)
    report.check("%s: exactly %s, dated from the commit, sums right" % (
        os.path.basename(args.zip), ", ".join(package.ENTRIES)), package.zip_problems(args.zip, args.epoch))
    print("sha256: %s  %s" % (hashlib.sha256(read(args.zip)).hexdigest(), os.path.basename(args.zip)))
    report.exit()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("version", help="the DLL's product version")
    p.add_argument("dll")
    p.set_defaults(run=cmd_version)
    p = sub.add_parser("check-dll", help="checks of the DLL to be shipped")
    p.add_argument("dll")
    p.add_argument("--xp-imports", required=True)
    p.add_argument("--version", required=True)
    p.add_argument("--unstripped")
    p.add_argument("--disassembly", help="objdump -d of the unstripped DLL")
    p.add_argument("--map", help="the link map")
    p.add_argument("--forbid", action="append", default=[], help="a path that must not appear")
    p.set_defaults(run=cmd_check_dll)
    p = sub.add_parser("smoke-prepare", help="frames, settings file and script of the smoke run")
    p.add_argument("dir")
    p.set_defaults(run=cmd_smoke_prepare)
    p = sub.add_parser("smoke-check", help="the smoke run's verdict")
    p.add_argument("dir")
    p.add_argument("--log", required=True)
    p.add_argument("--rc", type=int, required=True)
    p.add_argument("--descriptor-expected", required=True)
    p.set_defaults(run=cmd_smoke_check)
    p = sub.add_parser("package", help="guides, SHA256SUMS and the zip")
    p.add_argument("--stage", required=True)
    p.add_argument("--guides", required=True)
    p.add_argument("--version", required=True)
    p.add_argument("--epoch", type=int, required=True)
    p.add_argument("--zip", required=True)
    p.set_defaults(run=cmd_package)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
