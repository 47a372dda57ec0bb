#!/bin/sh
# Seeds for the resource readers' fuzzer: the program's resource script and the
# template tests' script compiled by windres, and bitmaps netpbm writes at each
# palette depth and in true colour, without their file header (as a resource holds
# them). QUORVEL_SOURCE_DIR: the source tree; found from here if unset.
set -e
out=${1:?usage: resources.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
cd "${QUORVEL_SOURCE_DIR:-$here/../..}"
for rc in src/ui/resources/quorvel.rc tests/sim/resources/dialog_templates.rc; do
  name=$(basename "$rc" .rc)
  (cd "$(dirname "$rc")" && x86_64-w64-mingw32-windres --preprocessor=cpp -J rc -O res -i "$(basename "$rc")" -o "$out/$name.res")
done
for bits in 4 8 24; do
  ppmtobmp -bpp=$bits tests/sim/resources/fixtures/picture.ppm 2>/dev/null | tail -c +15 > "$out/picture-$bits.dib"
done
pbmtext -builtin fixed quorvel | ppmtobmp -bpp=1 2>/dev/null | tail -c +15 > "$out/text-1.dib"
