#!/usr/bin/env python3
"""How bench/model.py finds a kernel's loop in objdump's listing and what it
hands llvm-mca, on listings made up to the shapes the compiler produces."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import model  # noqa: E402

# A kernel with a set-up loop that branches inside, the steady loop, and a
# tail loop; and another function that must not be searched.
LISTING = """
70e05b00 <__ZN3zvk12_GLOBAL__N_114CorrectYuvSse2ILb0EEvPhjPKNS_13YuvDeltaEntryE>:
70e05b00:\tpush   %ebp
70e05b01:\tmovzbl (%esi),%eax
70e05b04:\ttest   %eax,%eax
70e05b06:\tje     70e05b0a <__ZN3zvk12_GLOBAL__N_114CorrectYuvSse2ILb0EEvPhjPKNS_13YuvDeltaEntryE+0xa>
70e05b08:\tadd    $0x1,%eax
70e05b0a:\tadd    $0x2,%esi
70e05b0c:\tmov    %eax,(%edi)
70e05b0e:\tcmp    %esi,%edx
70e05b10:\tjne    70e05b01 <__ZN3zvk12_GLOBAL__N_114CorrectYuvSse2ILb0EEvPhjPKNS_13YuvDeltaEntryE+0x1>
70e05b12:\tmovdqu (%esi),%xmm0
70e05b16:\tpaddw  %xmm1,%xmm0
70e05b1a:\tmovdqu %xmm0,(%esi)
70e05b1e:\tsub    $0xffffffe0,%esi
70e05b21:\tcmp    %esi,%edx
70e05b23:\tjne    70e05b12 <__ZN3zvk12_GLOBAL__N_114CorrectYuvSse2ILb0EEvPhjPKNS_13YuvDeltaEntryE+0x12>
70e05b25:\tmovzbl (%esi),%eax
70e05b28:\tmov    %al,(%esi)
70e05b2a:\tlea    0x1(%esi),%esi
70e05b2d:\tcmp    %esi,%edx
70e05b2f:\tjne    70e05b25 <__ZN3zvk12_GLOBAL__N_114CorrectYuvSse2ILb0EEvPhjPKNS_13YuvDeltaEntryE+0x25>
70e05b31:\tret
70e05b40 <__ZN3zvk12CorrectRgb24EPhjPKi>:
70e05b40:\tmov    (%esi),%eax
70e05b42:\tmov    %eax,(%edi)
70e05b44:\tmov    (%esi),%eax
70e05b46:\tmov    %eax,(%edi)
70e05b48:\tmov    (%esi),%eax
70e05b4a:\tmov    %eax,(%edi)
70e05b4c:\tadd    $0x3,%esi
70e05b4f:\tcmp    %esi,%edx
70e05b51:\tjne    70e05b40 <__ZN3zvk12CorrectRgb24EPhjPKi>
70e05b53:\tret
"""


class FindLoop(unittest.TestCase):
    def test_takes_the_largest_straight_loop_of_the_named_functions(self):
        functions = model.parse_disassembly(LISTING)
        cases = [
            # patterns, expected first address, instructions, step found
            ([r"CorrectYuvSse2ILb0E"], 0x70e05b12, 6, 32),
            ([r"^__ZN3zvk12CorrectRgb24EPhjPKi"], 0x70e05b40, 9, 3),
            ([r"CorrectYuvSse2ILb0E", r"CorrectRgb24EPhj"], 0x70e05b40, 9, 3),
        ]
        for patterns, start, length, step in cases:
            name, loop = model.find_loop(functions, patterns)
            self.assertEqual(loop[0][0], start, patterns)
            self.assertEqual(len(loop), length, patterns)
            self.assertIn(step, model.pointer_steps(loop), patterns)

    def test_finds_nothing_where_every_loop_branches_inside(self):
        functions = model.parse_disassembly(LISTING.split("70e05b12:")[0])
        self.assertIsNone(model.find_loop(functions, [r"CorrectYuvSse2ILb0E"]))

    def test_the_input_closes_the_loop_on_a_label(self):
        functions = model.parse_disassembly(LISTING)
        name, loop = model.find_loop(functions, [r"CorrectYuvSse2ILb0E"])
        lines = model.mca_source(name, loop).splitlines()
        self.assertEqual(lines[1], "loop:")
        self.assertEqual(lines[-1].split(), ["jne", "loop"])
        self.assertEqual(len(lines), 2 + len(loop))
        self.assertFalse(any("<" in x for x in lines[1:]))


if __name__ == "__main__":
    unittest.main()
