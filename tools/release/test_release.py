"""Tests of the release checks: the reference correction against published
values, and every check of the DLL, the smoke run, the guides and the zip
shown to catch the fault it is there for.

The DLL cases need a release build: by default build/release (left by
tools/release.sh), or the stripped and unstripped DLLs named by
ZVK_RELEASE_DLL and ZVK_RELEASE_DEBUG_DLL.

    python3 -m unittest discover -s tools/release -v
"""

import os
import struct
import tempfile
import time
import unittest
import zipfile

import package
import pe
import reference
import release

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
XP_IMPORTS = os.path.join(TOP, "tests", "win32", "xp_imports.txt")
STRIPPED = os.environ.get("ZVK_RELEASE_DLL", os.path.join(TOP, "build", "release", "stage", "ZVK_Gamma.dll"))
UNSTRIPPED = os.environ.get("ZVK_RELEASE_DEBUG_DLL", os.path.join(TOP, "build", "release", "plugin", "ZVK_Gamma.dll"))
EPOCH = 1796795066


class ReferenceCorrectionTest(unittest.TestCase):
    def test_tables_give_the_published_entries(self):
        # gamma, channel, entry, lut, (dY, dU, dV)
        cases = [
            (200, 0, 128, 181, (15, -8, 26)),
            (200, 1, 128, 181, (31, -17, -22)),
            (200, 2, 128, 181, (6, 26, -4)),
            (200, 0, 64, 128, (19, -10, 32)),
            (50, 0, 128, 64, (-18, 10, -31)),
            (50, 1, 128, 64, (-37, 20, 26)),
            (10, 0, 1, 0, None), (10, 0, 16, 0, None), (10, 0, 64, 0, None), (10, 0, 128, 0, None),
            (10, 0, 192, 15, None), (10, 0, 255, 255, (0, 0, 0)),
            (1000, 0, 1, 147, None), (1000, 0, 16, 193, None), (1000, 0, 128, 238, None),
            (1000, 0, 0, 0, (0, 0, 0)),
        ]
        for gamma, channel, entry, lut, delta in cases:
            with self.subTest(gamma=gamma, channel=channel, entry=entry):
                luts, deltas = reference.build_tables([gamma] * 3)
                self.assertEqual(luts[channel][entry], lut)
                if delta:
                    self.assertEqual(deltas[channel][entry], delta)

    def test_identity_tables_leave_every_frame_unchanged(self):
        luts, deltas = reference.build_tables((100, 100, 100))
        frame = bytes(range(256)) * 12
        self.assertEqual(reference.correct_bgr24(frame, luts), frame)
        self.assertEqual(reference.correct_yuy2(frame, deltas, averaged=False), frame)
        self.assertEqual(reference.correct_yuy2(frame, deltas, averaged=True), frame)

    def test_kernels_give_the_published_words(self):
        # gammas, input, averaged, first pixel's chroma
        cases = [
            ((200, 200, 200), (81, 90, 145, 240), (115, 98, 189, 215), (115, 96, 189, 222)),
            ((200, 200, 200), (100, 128, 200, 128), (158, 129, 225, 128), (158, 129, 225, 129)),
            ((200, 100, 50), (81, 90, 145, 240), (82, 74, 139, 244), (82, 84, 139, 244)),
        ]
        for gammas, word, averaged, first in cases:
            with self.subTest(gammas=gammas, word=word):
                _, deltas = reference.build_tables(gammas)
                self.assertEqual(tuple(reference.correct_yuy2(bytes(word), deltas, averaged=True)), averaged)
                self.assertEqual(tuple(reference.correct_yuy2(bytes(word), deltas, averaged=False)), first)
        luts, _ = reference.build_tables((200, 200, 200))
        self.assertEqual(tuple(reference.correct_bgr24(bytes((192, 128, 64)), luts)), (221, 181, 128))

    def test_an_unpaired_last_yuv_pixel_stays(self):
        _, deltas = reference.build_tables((200, 200, 200))
        out = reference.correct_yuy2(bytes((81, 90, 145, 240, 81, 90)), deltas, averaged=False)
        self.assertEqual(out[4:], bytes((81, 90)))


def patch(data, offset, fmt, value):
    data = bytearray(data)
    struct.pack_into(fmt, data, offset, value)
    return bytes(data)


@unittest.skipUnless(os.path.exists(STRIPPED) and os.path.exists(UNSTRIPPED),
                     "no release build: run tools/release.sh first")
class DllChecksTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stripped = release.read(STRIPPED)
        cls.unstripped = release.read(UNSTRIPPED)
        image = pe.PeImage(cls.stripped)
        cls.version = release.product_version(image)
        cls.pe_header = image.checksum_offset - 64 - 24

    def failing(self, data, xp_imports=XP_IMPORTS, paths=()):
        found = release.dll_problems(data, xp_imports, self.version, list(paths))
        return {what for what, problems in found.items() if problems}

    def test_each_fault_fails_its_own_check(self):
        gui, stamps, checksum = ("Windows GUI subsystem", "no time stamps (PE header, exports, imports, resources)",
                                 "PE checksum right")
        image = pe.PeImage(self.stripped)
        stamp_at = self.pe_header + 8
        with tempfile.TemporaryDirectory() as tmp:
            short_list = os.path.join(tmp, "xp.txt")
            with open(XP_IMPORTS) as f, open(short_list, "w") as g:
                g.writelines(line for line in f if "GetModuleFileNameA" not in line)
            cases = [
                ("the shipped DLL", self.stripped, {}, set()),
                ("console subsystem", patch(self.stripped, image.checksum_offset + 4, "<H", 3), {}, {gui, checksum}),
                ("a link time", patch(self.stripped, stamp_at, "<I", 0x6B1946FF), {}, {stamps, checksum}),
                ("a wrong checksum", patch(self.stripped, image.checksum_offset, "<I", 1), {}, {checksum}),
                ("unstripped", self.unstripped, {}, {"stripped: no symbol table, no debug sections"}),
                ("an import Windows XP lacks", self.stripped, {"xp_imports": short_list},
                 {"imports only functions Windows XP has"}),
                ("a build path", self.stripped + "/home/x/zvk/build".encode("utf-16-le"),
                 {"paths": ["/home/x/zvk"]}, {"no build paths", checksum}),
            ]
            for label, data, options, expected in cases:
                with self.subTest(label):
                    self.assertEqual(self.failing(data, **options), expected)

    def test_the_window_texts_come_from_the_dll_template(self):
        texts = release.window_texts(pe.PeImage(self.stripped))
        for text in ("ZVK_Gamma плагин", "ОК", "Отмена", "О плагине", "Gamma (R)  =", "Gamma (G)  =",
                     "Gamma (B)  =", "Связать каналы", "По умолчанию", "Вкл."):
            self.assertIn(text, texts)
        self.assertNotIn("Static", texts)


class VectorCodeTest(unittest.TestCase):
    MAP = """Discarded input sections

 .text          0x00000000        0x8 gamma/libzvk_gamma.a(kernels_avx2.cpp.obj)

Linker script and memory map

 .text          0x00001000      0x100 gamma/libzvk_gamma.a(kernels.cpp.obj)
 .text          0x00001100      0x100 gamma/libzvk_gamma.a(kernels_avx2.cpp.obj)
 .text.unlikely
                0x00001200       0x40 settings/libzvk_settings.a(settings_store.cpp.obj)
"""

    def test_vector_instructions_are_found_outside_the_kernel_files_only(self):
        cases = [
            ("AVX2 in the AVX2 kernels", "00001110 <_k>:\n    1110:\tvpaddw %ymm1,%ymm2,%ymm3", []),
            ("SSE in the portable kernels", "00001010 <_p>:\n    1010:\tmovdqa %xmm0,%xmm1",
             ["_p (gamma/libzvk_gamma.a(kernels.cpp.obj)): movdqa %xmm0,%xmm1"]),
            ("MMX in the portable kernels", "00001010 <_p>:\n    1010:\tpaddb %mm0,%mm1", ["paddb %mm0,%mm1"]),
            ("an SSE2 fence in a split-off section", "00001210 <_s>:\n    1210:\tmfence",
             ["_s (settings/libzvk_settings.a(settings_store.cpp.obj)): mfence"]),
            ("a prefetch", "00001010 <_p>:\n    1010:\tprefetcht0 (%ecx)", ["prefetcht0 (%ecx)"]),
            ("i686 code: cmov, x87", "00001010 <_p>:\n    1010:\tcmovge %eax,%edx\n    1013:\tfmul %st(1),%st",
             []),
            ("code that no object claims", "00002000 <_x>:\n    2000:\tmovaps %xmm0,%xmm1",
             ["_x ((no object)): movaps %xmm0,%xmm1"]),
        ]
        for label, disassembly, expected in cases:
            with self.subTest(label):
                found = release.vector_code_outside_kernels(disassembly, self.MAP)
                self.assertEqual(len(found), len(expected), found)
                for got, wanted in zip(found, expected):
                    self.assertIn(wanted, got)


class SmokeVerdictTest(unittest.TestCase):
    DESCRIPTOR = release.read(os.path.join(TOP, "tests", "win32", "host", "descriptor.expected")).decode("latin-1")

    def log(self, *, closed=True, extra=""):
        head = "\n".join(self.DESCRIPTOR.split("\n")[:4])
        window = "show: opened the window\ndialogs=1\ndialog.visible=1\n" + ("dialogs=0\n" if closed else "dialogs=1\n")
        return head + "\ninit\n" + window + extra + "close\n"

    def failing(self, log, outputs):
        return {what for what, problems in release.smoke_problems(log, self.DESCRIPTOR, outputs).items() if problems}

    def test_each_fault_fails_its_own_check(self):
        frame = bytes(range(200))
        good = [("BGR24", frame, frame)]
        frame_check = "frame BGR24 bit-exact to tables built apart"
        window = "the window opens and closes with its OK button"
        cases = [
            ("all well", self.log(), good, set()),
            ("a byte differs", self.log(), [("BGR24", frame, frame[:7] + b"\0" + frame[8:])], {frame_check}),
            ("a short frame", self.log(), [("BGR24", frame, frame[:100])], {frame_check}),
            ("no frame written", self.log(), [("BGR24", frame, None)], {frame_check}),
            ("the window stays open", self.log(closed=False), good, {window}),
            ("no window", self.log().replace("dialogs=1\n", ""), good, {window}),
            ("a script error", self.log(extra="error: line 9: bad\n"), good, {"the host reported no error"}),
            ("another descriptor", self.log().replace("slots init=1", "slots init=0"), good,
             {"loaded by the stand-in host: interface version, descriptor"}),
        ]
        for label, log, outputs, expected in cases:
            with self.subTest(label):
                self.assertEqual(self.failing(log, outputs), expected)

    def test_a_difference_is_reported_where_it_is(self):
        frame = bytes(100)
        problems = release.smoke_problems(self.log(), self.DESCRIPTOR, [("X", frame, frame[:42] + b"\1" + frame[43:])])
        self.assertIn("first difference at byte 42", problems["frame X bit-exact to tables built apart"][0])


class GuideChecksTest(unittest.TestCase):
    TEXTS = ["ОК", "Gamma (R)  =", "Связать каналы"]

    def test_each_fault_is_found(self):
        good = package.guide_bytes("ZVK_Gamma @VERSION@\n\"ОК\", \"Gamma (R)  =\"  \n\"Связать каналы\"\n", "1.03")
        cases = [
            ("a guide as shipped", good, []),
            ("no byte order mark", good[3:], ["no UTF-8 byte order mark"]),
            ("a line ending in LF", good.replace(b"\r\n", b"\n", 1), ["a line does not end in CR LF"]),
            ("a bare CR", good.replace(b"\r\n", b"\r", 1), ["a line does not end in CR LF"]),
            ("no line end at the end", good[:-2], ["the last line does not end in CR LF"]),
            ("a control's text missing", good.replace("Связать".encode(), b"Link"),
             ["the window's text \"Связать каналы\" is missing"]),
            ("two spaces turned into one", good.replace(b"(R)  =", b"(R) ="), ["the window's text \"Gamma (R)  =\" is missing"]),
            ("the version missing", good.replace(b"1.03", b"1.0"), ["version 1.03 is not named"]),
            ("code page 1251 instead of UTF-8", package.BOM + "ОК\r\n".encode("cp1251"), ["not UTF-8"]),
        ]
        for label, data, expected in cases:
            with self.subTest(label):
                problems = package.guide_problems("g.txt", data, self.TEXTS, "1.03")
                self.assertEqual(len(problems), len(expected), problems)
                for problem, wanted in zip(problems, expected):
                    self.assertIn(wanted, problem)

    def test_shipped_guides_start_with_a_mark_and_end_lines_in_cr_lf(self):
        data = package.guide_bytes("a \nb\n", "1")
        self.assertEqual(data, package.BOM + b"a\r\nb\r\n")
        self.assertEqual(package.guide_bytes("a\nb", "1"), data)


class ZipTest(unittest.TestCase):
    FILES = [(package.DLL, b"MZ" + bytes(300)), ("README-ru.txt", b"ru"), ("README-en.txt", b"en")]

    def write(self, directory, files=None, epoch=EPOCH, sums=None):
        files = list(files if files is not None else self.FILES)
        files.append((package.SUMS, sums if sums is not None else package.sums_text(files)))
        path = os.path.join(directory, "z.zip")
        package.write_zip(path, files, epoch)
        return path

    def test_the_bytes_depend_on_files_and_commit_time_only(self):
        with tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
            first = release.read(self.write(a))
            old_umask = os.umask(0o077)
            try:
                time.sleep(2.1)  # another zip time of day, were the clock used
                second = release.read(self.write(b))
            finally:
                os.umask(old_umask)
            self.assertEqual(first, second)
            self.assertNotEqual(release.read(self.write(b, epoch=EPOCH + 86400)), first)

    def test_each_fault_is_found(self):
        dll, ru, en = self.FILES
        cases = [
            ("as released", {}, []),
            ("an extra file", {"files": self.FILES + [("notes.txt", b"x")]}, ["zip holds"]),
            ("a guide missing", {"files": [dll, ru]}, ["zip holds"]),
            ("another order", {"files": [ru, dll, en]}, ["zip holds"]),
            ("another date", {"epoch": EPOCH - 86400}, ["is dated"] * 4),
            ("a wrong hash", {"sums": package.sums_text([dll, ru, (en[0], b"old")])}, ["wrong hash of README-en.txt"]),
            ("a file not summed", {"sums": package.sums_text([dll, ru])}, ["SHA256SUMS lists"]),
        ]
        for label, options, expected in cases:
            with self.subTest(label), tempfile.TemporaryDirectory() as tmp:
                problems = package.zip_problems(self.write(tmp, **options), EPOCH)
                self.assertEqual(len(problems), len(expected), problems)
                for problem, wanted in zip(problems, expected):
                    self.assertIn(wanted, problem)

    def test_entries_carry_the_commit_time(self):
        with tempfile.TemporaryDirectory() as tmp, zipfile.ZipFile(self.write(tmp)) as archive:
            # 1796795066 is 2026-12-09 05:44:26 UTC.
            self.assertEqual({i.date_time for i in archive.infolist()}, {(2026, 12, 9, 5, 44, 26)})


if __name__ == "__main__":
    unittest.main()
