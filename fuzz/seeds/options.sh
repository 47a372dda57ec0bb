#!/bin/sh
# Seeds for options_fuzz: quorvel.cnf files saved by the program itself, one per
# set of options, and a few of them cut short as a pulled card leaves them.
# Usage: options.sh OUTDIR (QUORVEL_PROGRAM: the quorvel executable)
set -e
out=$1
program=${QUORVEL_PROGRAM:?QUORVEL_PROGRAM names the quorvel executable}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A checked build of the program may report leaks at exit; the file is what counts.
export ASAN_OPTIONS=detect_leaks=0

n=0
save() {
    n=$((n + 1))
    device=$work/device$n
    mkdir -p "$device/Storage Card"
    # The boot fails for want of a kernel once the options are saved.
    "$program" boot --device "$device" --save --no-pause --no-safety --yes "$@" </dev/null >/dev/null 2>&1 || true
    if [ ! -s "$device/Storage Card/quorvel.cnf" ]; then
        echo "options.sh: quorvel saved no options for: $*" >&2
        exit 1
    fi
    cp "$device/Storage Card/quorvel.cnf" "$out/saved-$n.cnf"
}

save
save --platform 0 --dir '\Storage Card\' --kernel tamsel.gz
save --platform 5 --dir 'http://192.168.0.1:8080/pub/' --kernel tamsel-2.gz --root md --image root.fs.gz \
     --speed 115200 --extra '-x console=fb'
save --platform 10 --dir '2:/' --kernel boot/kernel --root sd --speed 9600 --extra "$(printf 'a\tb c')"
save --dir '\Storage Card\カーネル\' --kernel 'ｶｰﾈﾙ.gz' --root ld

head -c 12 "$out/saved-3.cnf" >"$out/cut-12.cnf"
head -c 1064 "$out/saved-3.cnf" >"$out/cut-1064.cnf"
head -c 1601 "$out/saved-3.cnf" >"$out/cut-1601.cnf"
