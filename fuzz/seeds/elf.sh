#!/bin/sh
# Seeds for elf_fuzz: ARM kernels built by arm-none-eabi-gcc from the loader tests'
# kernel source (several layouts, with and without symbols), plain and gzip-compressed.
# Usage: elf.sh OUTDIR (QUORVEL_SOURCE_DIR: the source tree; found from here if unset)
set -e
out=$1
here=$(cd "$(dirname "$0")" && pwd)
source_dir=${QUORVEL_SOURCE_DIR:-$here/../..}
kernels=$source_dir/tests/fixtures/kernels
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

flags="-march=armv4 -marm -nostdlib -ffreestanding"
for script in kernel reversed segments16; do
    for level in -O1 -Os; do
        name=$script$level
        arm-none-eabi-gcc $flags $level -T "$kernels/$script.ld" "$kernels/kernel.c" -o "$work/$name"
        cp "$work/$name" "$out/$name.elf"
        gzip -9 -n -c "$work/$name" >"$out/$name.elf.gz"
    done
done
arm-none-eabi-strip --strip-all -o "$out/stripped.elf" "$work/kernel-O1"
gzip -1 -n -c "$out/stripped.elf" >"$out/stripped.elf.gz"
