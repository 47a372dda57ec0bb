#!/bin/sh
# Seeds for the disk label fuzzer: the first sectors of disks whose MBRs sfdisk wrote
# and whose BSD labels fdisk wrote, one per way the block driver finds a partition.
set -e
out=${1:?usage: disklabel.sh OUTDIR}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# fdisk labels the first BSD partition of a disk; a label for another one is made
# on a disk of its own with that partition alone and copied over.
# disk NAME "SFDISK LINES" LABELLED-PARTITION-START|none KEEP-SECTORS
disk() {
  image=$work/$1.img
  rm -f "$image"
  truncate -s 4M "$image"
  printf 'label: dos\nunit: sectors\n%b' "$2" | sfdisk --no-reread --no-tell-kernel -q "$image"
  if [ "$3" != none ]; then
    helper=$work/helper.img
    rm -f "$helper"
    truncate -s 4M "$helper"
    printf 'label: dos\nunit: sectors\nstart=%s, size=2000, type=a5\n' "$3" |
      sfdisk --no-reread --no-tell-kernel -q "$helper"
    # fdisk's nested BSD mode: agree to a new label, write it.
    printf 'b\ny\nw\n' | fdisk "$helper" >/dev/null 2>&1
    dd if="$helper" of="$image" bs=512 skip=$(($3 + 1)) seek=$(($3 + 1)) count=1 conv=notrunc 2>/dev/null
  fi
  head -c $(($4 * 512)) "$image" > "$out/$1"
}

disk preferred-labelled 'start=2, size=2000, type=a9\n' 2 4
disk fallback-labelled 'start=2, size=2000, type=a5\n' 2 4
disk preferred-after-fallback 'start=2, size=100, type=a5\nstart=110, size=2000, type=a9\n' 110 112
disk later-fallback 'start=2, size=100, type=a5\nstart=110, size=2000, type=a5\n' 110 112
disk preferred-unlabelled 'start=2, size=2000, type=a9\n' none 4
disk no-bsd-partition 'start=2, size=2000, type=83\n' none 4
