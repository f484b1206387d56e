#!/usr/bin/env python3
"""Draws the installer's application icon: a white Z on a blue box with a dark rim,
16 x 16 pixels in 16 colours. The stub has a hard size budget; the icon costs 318 bytes
this way, against 766 at 32 x 32 (Windows scales it for large views)."""
import struct
import sys

SIZE = 16
# Palette (B, G, R, 0): 0 transparent black, 1 dark blue rim, 2 blue fill, 3 white, 4 light blue.
PALETTE = [(0, 0, 0), (96, 32, 16), (200, 96, 40), (255, 255, 255), (240, 190, 120)]


def pixel(x, y):
    if x < 1 or y < 1 or x > 14 or y > 14:
        return None  # transparent margin
    if x in (1, 14) or y in (1, 14):
        return 1
    inner_x, inner_y = x - 4, y - 4  # the Z sits in the 8 x 8 square from (4, 4)
    if 0 <= inner_x < 8 and 0 <= inner_y < 8:
        if inner_y < 2 or inner_y > 5:
            return 3
        if 0 <= (7 - inner_y) - inner_x <= 1:
            return 3
    return 4 if y < 4 else 2


def main(path):
    rows_xor, rows_and = [], []
    row_mask_bytes = 4  # mask rows are padded to 32 bits
    for y in reversed(range(SIZE)):  # bottom-up rows
        nibbles, mask_bits = [], []
        for x in range(SIZE):
            value = pixel(x, y)
            nibbles.append(0 if value is None else value)
            mask_bits.append(1 if value is None else 0)
        rows_xor.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        mask = bytes(int("".join(map(str, mask_bits[i:i + 8])), 2) for i in range(0, SIZE, 8))
        rows_and.append(mask + bytes(row_mask_bytes - len(mask)))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for b, g, r in PALETTE)
    palette += b"\0" * (64 - len(palette))
    image = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    image += palette + b"".join(rows_xor) + b"".join(rows_and)
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(header + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/zarpex.ico")
