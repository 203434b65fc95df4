#!/bin/bash
# Writes the files that the JPEG tests take from real tools into OUT, natively, so that
# test programs built for Windows and run under Wine can read them too:
#   tools.txt           the tools found (cjpeg, jpegtran, exiftool), one a line
#   q/color-Q.jpg       cjpeg -quality Q for Q = 1..100; q/gray-Q.jpg with -grayscale,
#                       q/baseline-Q.jpg with -baseline (entries clamped to 255)
#   process/*.jpg       one file per coding process and option (see below)
#   process.tsv         exiftool -n: file, EncodingProcess, ColorComponents
#   corpus.tsv          the same for every JPEG of the corpus (path relative to the corpus)
# Usage: make_tool_files.sh OUT [CORPUS]
set -euo pipefail
out=$1
corpus=${ORVANE_CORPUS:-${2:-}}
rm -rf "$out"
mkdir -p "$out/q" "$out/process"
: > "$out/tools.txt"
for tool in cjpeg jpegtran exiftool; do
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

if has exiftool; then
  (cd "$out/process" && exiftool -q -n -T -FileName -EncodingProcess -ColorComponents -- *.jpg) > "$out/process.tsv" || true
  if [ -n "$corpus" ] && [ -d "$corpus/jpeg" ]; then
    (cd "$corpus" && exiftool -q -r -n -T -Directory -FileName -EncodingProcess -ColorComponents -ext jpg -ext jpeg -ext jps -ext mpo -- jpeg) \
      > "$out/corpus.tsv" 2> /dev/null || true
  fi
fi
echo "tool files in $out: $(find "$out" -type f | wc -l) files; tools: $(tr '\n' ' ' < "$out/tools.txt")"
