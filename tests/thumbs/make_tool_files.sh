#!/bin/bash
# Writes the files that the preview tests take from real tools into OUT, natively, so that
# test programs built for Windows and run under Wine can read them too:
#   tools.txt            the tools found (cjpeg, exiftool), one a line
#   main.jpg, thumb.jpg  a 320x240 picture and a 160x120 one (cjpeg)
#   exif-*.jpg           main.jpg with thumb.jpg (or a variant) written as the Exif IFD1
#                        thumbnail by exiftool '-ThumbnailImage<=...'
#   expected.tsv         file, then the size exiftool reads back for its ThumbnailImage
# Usage: make_tool_files.sh OUT
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out"
: > "$out/tools.txt"
for tool in cjpeg exiftool; do
  if command -v "$tool" > /dev/null; then echo "$tool" >> "$out/tools.txt"; fi
done
has() { grep -qx "$1" "$out/tools.txt"; }
has cjpeg || exit 0

# Pictures with some structure: stripes of a repeating byte pattern.
picture() {
  { printf 'P6\n%d %d\n255\n' "$1" "$2"; head -c $(($1 * $2 * 3)) < <(yes "Orvane preview $1x$2 0123456789"); } > "$3"
}
picture 320 240 "$out/main.ppm"
picture 160 120 "$out/thumb.ppm"
cjpeg -quality 85 "$out/main.ppm" > "$out/main.jpg"
cjpeg -quality 75 "$out/thumb.ppm" > "$out/thumb.jpg"
cjpeg -quality 75 -progressive "$out/thumb.ppm" > "$out/thumb-progressive.jpg"
cjpeg -quality 75 -grayscale "$out/thumb.ppm" > "$out/thumb-gray.jpg"
rm -f "$out"/*.ppm
has exiftool || exit 0

: > "$out/expected.tsv"
make() {  # name, thumbnail, exiftool options...
  local name=$1 thumb=$2
  shift 2
  exiftool -q -q "$@" "-ThumbnailImage<=$out/$thumb" -o "$out/$name" "$out/main.jpg"
  local size
  size=$(exiftool -b -ThumbnailImage "$out/$name" | exiftool -s3 -ImageSize -)
  printf '%s\t%s\n' "$name" "$size" >> "$out/expected.tsv"
}
make exif-ii.jpg thumb.jpg -ExifByteOrder=II
make exif-mm.jpg thumb.jpg -ExifByteOrder=MM
make exif-progressive.jpg thumb-progressive.jpg
make exif-gray.jpg thumb-gray.jpg
