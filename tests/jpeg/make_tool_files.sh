#!/bin/bash
# Writes the files that the JPEG tests take from real tools into OUT, natively, so that
# test programs built for Windows and run under Wine can read them too:
#   tools.txt           the tools found (cjpeg, jpegtran, exiftool), one a line
#   q/color-Q.jpg       cjpeg -quality Q for Q = 1..100; q/gray-Q.jpg with -grayscale,
#                       q/baseline-Q.jpg with -baseline (entries clamped to 255)
#   process/*.jpg       one file per coding process and option (see below)
#   process.tsv         exiftool -n: file, EncodingProcess, ColorComponents
#   corpus.tsv          the same for every JPEG of the corpus (path relative to the corpus)
#   decode/*.jpg        more streams for the decoder: a larger picture, baseline and
#                       progressive, restart intervals of rows and of blocks, 4:4:4, grey,
#                       16-bit tables, transcoded by jpegtran; arithmetic-coded copies
#                       (jpegtran -arithmetic: sequential, progressive, restart intervals,
#                       grey, 4:2:0)
#   scans/*.jpg         restart intervals of one block in files of several scans: one scan
#                       per component (a -scans script), and progressive
#   damage/, damage.tsv, corpus_decode.tsv
#                       damaged copies and what djpeg and jpeginfo -c say (make_damage.py)
# Usage: make_tool_files.sh OUT [CORPUS]
set -euo pipefail
out=$1
corpus=${ORVANE_CORPUS:-${2:-}}
rm -rf "$out"
mkdir -p "$out/q" "$out/process" "$out/decode" "$out/scans"
: > "$out/tools.txt"
for tool in cjpeg jpegtran exiftool djpeg jpeginfo python3; do
  if command -v "$tool" > /dev/null; then echo "$tool" >> "$out/tools.txt"; fi
done
has() { grep -qx "$1" "$out/tools.txt"; }

# A 96x64 picture with some structure: stripes of a repeating byte pattern.
image=$out/source.ppm
{ printf 'P6\n96 64\n255\n'; head -c $((96 * 64 * 3)) < <(yes 'Orvane JPEG test picture 0123456789'); } > "$image"

if has cjpeg; then
  for q in $(seq 1 100); do
    cjpeg -quality "$q" "$image" > "$out/q/color-$q.jpg" 2> /dev/null
    cjpeg -quality "$q" -grayscale "$image" > "$out/q/gray-$q.jpg" 2> /dev/null
    cjpeg -quality "$q" -baseline "$image" > "$out/q/baseline-$q.jpg" 2> /dev/null
  done
  cjpeg "$image" > "$out/process/baseline.jpg"
  cjpeg -grayscale "$image" > "$out/process/gray.jpg"
  cjpeg -optimize "$image" > "$out/process/optimized.jpg"
  cjpeg -progressive "$image" > "$out/process/progressive.jpg"
  cjpeg -restart 2B "$image" > "$out/process/restart.jpg"
  cjpeg -rgb "$image" > "$out/process/rgb.jpg"
  cjpeg -sample 1x1 "$image" > "$out/process/sample444.jpg"
  if has jpegtran; then
    jpegtran -arithmetic "$out/process/baseline.jpg" > "$out/process/arithmetic.jpg"
    jpegtran -arithmetic -progressive "$out/process/baseline.jpg" > "$out/process/arithmetic-progressive.jpg"
  fi
fi

if has cjpeg; then
  # A picture with detail everywhere; the stripes when ImageMagick is missing.
  picture=$image
  if command -v convert > /dev/null && convert -seed 7 -size 320x240 plasma:fractal "$out/picture.ppm" 2> /dev/null; then
    picture=$out/picture.ppm
  fi
  d=$out/decode
  cjpeg -quality 90 "$picture" > "$d/picture.jpg"
  cjpeg -quality 90 -progressive "$picture" > "$d/picture-progressive.jpg"
  cjpeg -quality 90 -restart 1 "$picture" > "$d/picture-restart-rows.jpg"
  cjpeg -quality 90 -progressive -restart 5B "$picture" > "$d/picture-progressive-restart.jpg"
  cjpeg -quality 95 -sample 1x1 -progressive -optimize "$picture" > "$d/picture-444-progressive.jpg"
  cjpeg -sample 2x1 -restart 3B "$picture" > "$d/picture-422-restart.jpg"
  cjpeg -grayscale -progressive "$picture" > "$d/picture-gray-progressive.jpg"
  cjpeg -quality 3 "$picture" > "$d/picture-16bit-tables.jpg" 2> /dev/null
  if has jpegtran; then
    jpegtran -progressive "$d/picture.jpg" > "$d/picture-transcoded-progressive.jpg"
    jpegtran -progressive -restart 2 "$d/picture.jpg" > "$d/picture-transcoded-restart.jpg"
    jpegtran -arithmetic "$d/picture.jpg" > "$d/picture-arithmetic.jpg"
    jpegtran -arithmetic -progressive "$d/picture.jpg" > "$d/picture-arithmetic-progressive.jpg"
    jpegtran -arithmetic -restart 2B "$d/picture.jpg" > "$d/picture-arithmetic-restart.jpg"
    jpegtran -arithmetic -progressive -restart 3B "$d/picture-progressive.jpg" > "$d/picture-arithmetic-progressive-restart.jpg"
    jpegtran -arithmetic "$d/picture-gray-progressive.jpg" > "$d/picture-arithmetic-gray.jpg"
    cjpeg -quality 90 -sample 2x2 "$picture" | jpegtran -arithmetic -progressive > "$d/picture-arithmetic-420-progressive.jpg"
  fi
  printf '0;\n1;\n2;\n' > "$out/scans/one-per-component.txt"
  cjpeg -scans "$out/scans/one-per-component.txt" -restart 1B "$image" > "$out/scans/component-scans-restart.jpg"
  cjpeg -progressive -restart 1B "$image" > "$out/scans/progressive-restart.jpg"
fi

if has python3; then
  originals=("$out"/process/baseline.jpg "$out"/process/progressive.jpg "$out"/process/restart.jpg "$out"/decode/*.jpg)
  [ -e "${originals[0]}" ] || originals=()
  python3 "$(dirname "$0")/make_damage.py" "$out" "${originals[@]}" ${corpus:+--corpus "$corpus"}
fi

if has exiftool; then
  (cd "$out/process" && exiftool -q -n -T -FileName -EncodingProcess -ColorComponents -- *.jpg) > "$out/process.tsv" || true
  if [ -n "$corpus" ] && [ -d "$corpus/jpeg" ]; then
    (cd "$corpus" && exiftool -q -r -n -T -Directory -FileName -EncodingProcess -ColorComponents -ext jpg -ext jpeg -ext jps -ext mpo -- jpeg) \
      > "$out/corpus.tsv" 2> /dev/null || true
  fi
fi
echo "tool files in $out: $(find "$out" -type f | wc -l) files; tools: $(tr '\n' ' ' < "$out/tools.txt")"
