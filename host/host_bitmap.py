#!/usr/bin/env python3
"""Writes host_bitmap.bmp: the stand-in host's own bitmap 5004, 16 x 16 (the
plug-in's is 32 x 32), plain magenta, so that a picture loaded from the wrong
module is told apart at once."""
import struct
import sys

W = H = 16
row = bytes([0xFF, 0x00, 0xFF]) * W  # B G R; 48 bytes, already a multiple of 4
pixels = row * H
header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(pixels), 0, 0, 14 + 40)
info = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
out = sys.argv[1] if len(sys.argv) > 1 else 'host_bitmap.bmp'
with open(out, 'wb') as f:
    f.write(header + info + pixels)
