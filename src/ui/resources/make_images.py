#!/usr/bin/env python3
"""Draws the tab images (16 x 36, 8 bits per pixel BMP) and the program's icon
(16 x 16 and 32 x 32, 8 bits per pixel ICO) beside this script. The files are kept
in the repository; run this again after changing a picture."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Palette index by picture character.
COLOURS = {
    '.': (0xC0, 0xC0, 0xC0),  # the tab's grey
    '#': (0x00, 0x00, 0x00),
    'w': (0xFF, 0xFF, 0xFF),
    'b': (0x00, 0x00, 0x80),
    'B': (0x00, 0x00, 0xFF),
    'g': (0x00, 0x80, 0x00),
    'G': (0x00, 0xFF, 0x00),
    'r': (0xC0, 0x00, 0x00),
    'y': (0xFF, 0xFF, 0x00),
    'd': (0x80, 0x80, 0x80),
    ' ': (0xC0, 0xC0, 0xC0),  # transparent in the icon
}
KEYS = list(COLOURS)


def palette():
    entries = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in (COLOURS[k] for k in KEYS))
    return entries + b'\0' * (4 * (256 - len(KEYS)))


def rows(picture, width):
    lines = [line for line in picture.strip('\n').split('\n')]
    for line in lines:
        assert len(line) == width, (len(line), line)
    return lines


def pixels(lines):
    """Bottom-up rows of palette indexes, each padded to 4 bytes."""
    out = b''
    for line in reversed(lines):
        row = bytes(KEYS.index(c) for c in line)
        out += row + b'\0' * (-len(row) % 4)
    return out


def info_header(width, height, image_bytes):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, image_bytes, 2835, 2835, 256, 0)


def write_bmp(name, picture, width=16, height=36):
    lines = rows(picture, width)
    assert len(lines) == height, (name, len(lines))
    data = pixels(lines)
    offset = 14 + 40 + 1024
    header = struct.pack('<2sIHHI', b'BM', offset + len(data), 0, 0, offset)
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(header + info_header(width, height, len(data)) + palette() + data)


def icon_image(picture, size):
    lines = rows(picture, size)
    assert len(lines) == size
    xor = pixels(lines)
    # The AND mask: 1 bits are transparent, rows padded to 4 bytes.
    mask = b''
    for line in reversed(lines):
        bits = 0
        row = b''
        for i, c in enumerate(line):
            bits = (bits << 1) | (1 if c == ' ' else 0)
            if i % 8 == 7:
                row += bytes([bits])
                bits = 0
        mask += row + b'\0' * (-len(row) % 4)
    return info_header(size, 2 * size, len(xor) + len(mask)) + palette() + xor + mask


def write_ico(name, pictures):
    images = [(size, icon_image(picture, size)) for size, picture in pictures]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, data in images)
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(out)


BLANK = '.' * 16

# Main: a house.
MAIN = '\n'.join([BLANK] * 10 + [
    '.......##.......',
    '......#rr#......',
    '.....#rrrr#.....',
    '....#rrrrrr#....',
    '...#rrrrrrrr#...',
    '..#rrrrrrrrrr#..',
    '.##############.',
    '..#wwwwwwwwww#..',
    '..#w##wwww##w#..',
    '..#w##wwww##w#..',
    '..#wwwwwwwwww#..',
    '..#wwww##wwww#..',
    '..#wwww##wwww#..',
    '..#wwww##wwww#..',
    '..############..',
] + [BLANK] * 11)

# Option: a check box with a tick.
OPTION = '\n'.join([BLANK] * 10 + [
    '................',
    '.###########....',
    '.#wwwwwwwww#..g.',
    '.#wwwwwwwww#.gg.',
    '.#wwwwwwwww#gg..',
    '.#wwwwwwwwwgg...',
    '.#wgwwwwwwgg#...',
    '.#wggwwwwgg##...',
    '.#wwggwwggw#....',
    '.#wwwggggww#....',
    '.#wwwwggwww#....',
    '.#wwwwwwwww#....',
    '.###########....',
    '................',
    '................',
] + [BLANK] * 11)

# Console: a terminal with a prompt and lines of text.
CONSOLE = '\n'.join([BLANK] * 10 + [
    BLANK,
    '.##############.',
    '.#############d.',
    '.##G##########d.',
    '.###G#########d.',
    '.####G#GGG####d.',
    '.###G#########d.',
    '.##G##########d.',
    '.#############d.',
    '.##GGGG#GGG###d.',
    '.#############d.',
    '.##GG#GGGGG###d.',
    '.#############d.',
    '.##############.',
    '.....######.....',
] + [BLANK] * 11)

ICON16 = '\n'.join([
    '  ############  ',
    '  #dddddddddd#  ',
    '  #d########d#  ',
    '  #d#BBBBBB#d#  ',
    '  #d#BwBBBB#d#  ',
    '  #d#BBwBBB#d#  ',
    '  #d#BwBBBB#d#  ',
    '  #d#BBBBBB#d#  ',
    '  #d########d#  ',
    '  #dddddddddd#  ',
    '  #dd#dddd#dd#  ',
    '  #d###dd###d#  ',
    '  #dd#dddd#dd#  ',
    '  #dddddddddd#  ',
    '  ############  ',
    '                ',
])


def double(picture):
    lines = picture.split('\n')
    return '\n'.join(''.join(c * 2 for c in line) for line in lines for _ in range(2))


if __name__ == '__main__':
    write_bmp('tab_main.bmp', MAIN)
    write_bmp('tab_option.bmp', OPTION)
    write_bmp('tab_console.bmp', CONSOLE)
    write_ico('quorvel.ico', [(16, ICON16), (32, double(ICON16))])
