#!/usr/bin/env python3
"""Writes Hushvane.ico: one 16 x 16 image in 16 colours (4 bits per pixel), the program's
notification-area icon. The picture is the ASCII art below; run this script again after
changing it and check in the result.

    python3 make_icon.py Hushvane.ico
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# A weather vane over a disc: '.' is transparent, other characters name palette entries.
COLOURS = {'K': 0, 'N': 4, 'B': 12, 'C': 14, 'W': 15, 'G': 8, 'Y': 11}
PICTURE = [
    "................",
    "..........Y.....",
    ".........YY.....",
    "KKKKKKKKKKKKKKK.",
    ".........YY.....",
    "..........Y.....",
    ".......K........",
    ".....NNKNN......",
    "....NBBKBBN.....",
    "...NBCBKBBBN....",
    "...NBCWKBBBN....",
    "...NBBBKBBBN....",
    "...NBBBKBBBN....",
    "....NBBBBBN.....",
    ".....NNNNN......",
    "................",
]

SIZE = 16


def build_icon(picture):
    assert len(picture) == SIZE and all(len(row) == SIZE for row in picture)
    xor_rows = []
    and_rows = []
    # Bitmaps are stored bottom row first.
    for row in reversed(picture):
        indices = [COLOURS.get(ch, 0) for ch in row]
        xor_rows.append(bytes((indices[i] << 4) | indices[i + 1] for i in range(0, SIZE, 2)))
        mask = 0
        for ch in row:
            mask = (mask << 1) | (1 if ch == '.' else 0)
        and_rows.append(struct.pack('>H', mask) + b'\0\0')  # rows padded to 4 bytes
    xor_bits = b''.join(xor_rows)
    and_bits = b''.join(and_rows)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    # The header's height counts the colour and the mask bitmaps together.
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, len(xor_bits) + len(and_bits), 0, 0, 16, 0)
    image = header + palette + xor_bits + and_bits
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'Hushvane.ico'
    with open(out, 'wb') as f:
        f.write(build_icon(PICTURE))


if __name__ == '__main__':
    main()
