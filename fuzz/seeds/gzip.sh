#!/bin/sh
# Seeds for gzip_fuzz: files made by the gzip tool (text and random data, several
# levels, a stored name, two members, trailing bytes, an empty file, 1.5 MB of a
# repeated line, which is inflated whole at once) and a plain file,
# each behind a few scripts of calls in the order the boot makes them.
# Usage: gzip.sh OUTDIR
set -e
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seq 1 2000 >"$work/text"
head -c 6000 /dev/urandom >"$work/random"
: >"$work/empty"
printf 'x' >"$work/one"
yes 'the same line of a large kernel' | head -c 1572864 >"$work/large"

gzip -c -n "$work/text" >"$work/text.gz"
gzip -c -1 -n "$work/random" >"$work/random.gz"
gzip -c -9 -N "$work/text" >"$work/named.gz"
gzip -c -n "$work/empty" >"$work/empty.gz"
gzip -c -n "$work/one" >"$work/one.gz"
gzip -c -9 -n "$work/large" >"$work/large.gz"
cat "$work/text.gz" "$work/one.gz" >"$work/members.gz"
{ cat "$work/one.gz"; head -c 100 /dev/zero; } >"$work/padded.gz"
head -c 3000 "$work/text" >"$work/plain"

# Behaviour byte, call count, then calls of five bytes: kind (0 read on, 1 read at,
# 2 seek, 3 size) and a little-endian argument (length; for "read at" the offset is
# the argument shifted right by eight).
scripts() {
    # size() first, then the whole file in loader-sized pieces (4080 = 0xff0)
    printf '\000\005\003\000\000\000\000\001\360\017\000\000\000\360\017\000\000\000\360\017\000\000\000\360\017\000\000'
}
boot() {  # the boot's order: size, seek back, read on, read at the end
    printf '\000\004\003\000\000\000\000\002\000\000\000\000\000\000\000\001\000\001\100\000\000\000'
}
seeking() {  # header, far, back, forwards, size
    printf '\000\006\001\064\000\000\000\001\220\001\100\000\001\140\000\000\000\002\200\000\000\000\000\000\020\000\000\003\000\000\000\000'
}
shortreads() {  # pieces of one byte from the backend
    printf '\001\003\003\000\000\000\000\001\000\040\000\000\000\000\040\000\000'
}
failing() {  # the fifth backend read fails
    printf '\050\004\003\000\000\000\000\001\000\020\000\000\002\000\000\000\000\000\000\020\000\000'
}

for f in text random named empty one members padded large; do
    for s in scripts boot seeking shortreads failing; do
        { $s; cat "$work/$f.gz"; } >"$out/$f-$s"
    done
done
for s in scripts seeking failing; do
    { $s; cat "$work/plain"; } >"$out/plain-$s"
done
