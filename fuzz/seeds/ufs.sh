#!/bin/sh
# Seeds for the UFS reader's fuzzer: UFS1 images made by makefs of a small tree with
# a kernel past the direct blocks, deep directories and every kind of symbolic link
# the harness opens, in several block and fragment sizes.
set -e
out=${1:?usage: ufs.sh OUTDIR}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
mkdir -p "$tree/boot" "$tree/a/b/c" "$tree/links" "$tree/many"
# 13 blocks of 4 KB: the last one through the single indirect block.
i=0
while [ $i -lt 1700 ]; do echo "kernel line $i of the seed image"; i=$((i + 1)); done > "$tree/boot/kernel"
echo "the file at the bottom" > "$tree/a/b/c/file"
ln -s /boot/kernel "$tree/links/abs"
ln -s ../a/b/c/file "$tree/links/rel"
ln -s /a/./././././././././././././././././././././././././././b/c/file "$tree/links/long"
ln -s ../a/b "$tree/links/dir"
ln -s loop "$tree/links/loop"
i=0
while [ $i -lt 40 ]; do echo $i > "$tree/many/entry-$i"; i=$((i + 1)); done
for sizes in 4096,512 8192,1024 4096,4096; do
  bsize=${sizes%,*}
  fsize=${sizes#*,}
  makefs -t ffs -B le -b 30% -o "version=1,bsize=$bsize,fsize=$fsize" "$out/ufs-$bsize-$fsize.img" "$tree" >/dev/null
done
