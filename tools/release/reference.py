"""The correction as the plug-in defines it, written again in plain Python
from the published rules (tables from pow in double precision, the YUV
fixed-point steps), so that the release smoke check compares the shipped
DLL's frames with tables built apart from its code."""

import math

# Changes of Y, U and V per unit change of red, green and blue.
WEIGHTS = ((0.299, -0.169, 0.5), (0.587, -0.331, -0.419), (0.114, 0.5, -0.081))
K_UB, K_UG, K_VG, K_VR = 7258, -1410, -2925, 5743


def build_tables(gammas):
    """Tables of the three channels, red, green, blue: (luts, deltas), each a
    list of three 256-entry lists."""
    luts, deltas = [], []
    for channel, gamma in enumerate(gammas):
        exponent = 100.0 / gamma
        lut, delta = [], []
        for i in range(256):
            v = math.pow(i * 0.00392156862745098, exponent) * 255.0 + 0.5
            d = v - i
            lut.append(int(v))
            delta.append(tuple(int(w * d) for w in WEIGHTS[channel]))
        luts.append(lut)
        deltas.append(delta)
    return luts, deltas


def clamp(x):
    return 0 if x < 0 else 255 if x > 255 else x


def product(a, k):
    # (16a * k) >> 16 with an arithmetic shift: floor(a * k / 4096).
    return (16 * a * k) >> 16


def correct_yuy2(frame, deltas, averaged):
    """The corrected copy of a YUY2 frame (bytes Y0 U Y1 V); an odd last pixel stays."""
    out = bytearray(frame)
    red, green, blue = deltas
    for at in range(0, len(frame) // 4 * 4, 4):
        y0, u, y1, v = frame[at:at + 4]
        u -= 128
        v -= 128
        blue_offset = product(u, K_UB)
        green_offset = product(u, K_UG) + product(v, K_VG)
        red_offset = product(v, K_VR)
        changes = []
        for y in (y0, y1):
            r = red[clamp(y + red_offset)]
            g = green[clamp(y + green_offset)]
            b = blue[clamp(y + blue_offset)]
            changes.append((r[0] + g[0] + b[0], r[1] + g[1] + b[1], r[2] + g[2] + b[2]))
        first, second = changes
        out[at] = clamp(y0 + first[0])
        out[at + 2] = clamp(y1 + second[0])
        if averaged:
            out[at + 1] = clamp((2 * (u + 128) + first[1] + second[1]) >> 1)
            out[at + 3] = clamp((2 * (v + 128) + first[2] + second[2]) >> 1)
        else:
            out[at + 1] = clamp(u + 128 + first[1])
            out[at + 3] = clamp(v + 128 + first[2])
    return bytes(out)


def correct_bgr24(frame, luts):
    """The corrected copy of a BGR24 frame: each byte through its channel's table."""
    red, green, blue = (bytes(lut) for lut in luts)
    out = bytearray(frame)
    out[0::3] = frame[0::3].translate(blue)
    out[1::3] = frame[1::3].translate(green)
    out[2::3] = frame[2::3].translate(red)
    return bytes(out)
