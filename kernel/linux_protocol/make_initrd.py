#!/usr/bin/env python3
"""The Linux-protocol test kernel's initrd: SIZE bytes, byte i being
(i * 131 + (i >> 9) + 7) mod 256, which the kernel checks where the tag puts it."""
import sys

out, size = sys.argv[1], int(sys.argv[2])
with open(out, "wb") as f:
    f.write(bytes((i * 131 + (i >> 9) + 7) & 0xFF for i in range(size)))
