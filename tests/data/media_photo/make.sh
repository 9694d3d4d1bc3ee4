#!/bin/sh
# Makes the picture fixtures of the photo and camera-raw walk tests with ImageMagick
# (Debian package imagemagick). Plasma pictures are seeded, so a rerun gives the same pixels.
set -eu
cd "$(dirname "$0")"
IM=/usr/bin/convert
# JPEG: baseline (JFIF, APP0 first), progressive, and two sizes around a 160 x 120 thumbnail.
$IM -seed 11 -size 320x240 plasma: -quality 85 baseline.jpg
$IM -seed 12 -size 320x240 plasma: -quality 85 -interlace JPEG progressive.jpg
$IM -seed 13 -size 160x120 plasma: -quality 80 thumb_160x120.jpg
$IM -seed 13 -size 161x120 plasma: -quality 80 thumb_161x120.jpg
# Without APP0: the same baseline picture with the JFIF segment removed (a first marker that
# is neither APP0 nor APP1 makes the candidate a type-2 JPEG).
$IM -seed 11 -size 320x240 plasma: -quality 85 -strip noapp0_src.jpg
python3 - <<'PY'
data = open("noapp0_src.jpg", "rb").read()
assert data[2:4] == b"\xff\xe0"
length = (data[4] << 8) | data[5]
open("noapp0.jpg", "wb").write(data[:2] + data[4 + length:])
PY
rm noapp0_src.jpg
# BMP (version 3 header), 100 x 80, 24-bit.
$IM -seed 21 -size 100x80 plasma: BMP3:picture.bmp
# PNG of IHDR, IDAT and IEND only; and one with the usual extra chunks (tEXt, tIME ...).
$IM -seed 31 -size 200x150 plasma: -strip -define png:exclude-chunks=all plain.png
$IM -seed 31 -size 64x48 plasma: with_text.png
# TIFF: three pages (three chained IFDs) in several strips, little- and big-endian.
$IM -seed 41 -size 96x64 plasma: -seed 42 -size 64x64 plasma: -seed 43 -size 32x40 plasma: \
  -compress none -define tiff:rows-per-strip=8 -endian LSB pages_le.tif
$IM -seed 41 -size 96x64 plasma: -seed 42 -size 64x64 plasma: \
  -compress none -define tiff:rows-per-strip=8 -endian MSB pages_be.tif
# End to end: a FAT12 image (1 KiB clusters) where a ZIP's clusters lie on both sides of a
# JPEG's: ZIP | JPEG | ZIP. A placeholder holds the gap while the JPEG is written; deleting it
# leaves the hole the ZIP is then written into. Both files are deleted afterwards.
# Needs: zip, dosfstools (mkfs.fat), mtools.
T=$(mktemp -d)
head -c 30000 /dev/urandom > "$T/data.bin"
seq 1 3000 | sed 's/^/row /' > "$T/rows.txt"
rm -f around.zip
(cd "$T" && zip -q -X around.zip data.bin rows.txt) && mv "$T/around.zip" around.zip
head -c 8192 /dev/zero > "$T/hole"
rm -f fat_e2e.img
mkfs.fat -C -s 2 -i 51C0FFEE -n PHOTOE2E fat_e2e.img 512 > /dev/null
mcopy -i fat_e2e.img "$T/hole" ::HOLE
mcopy -i fat_e2e.img baseline.jpg ::PHOTO.JPG
mdel -i fat_e2e.img ::HOLE
mcopy -i fat_e2e.img around.zip ::AROUND.ZIP
mshowfat -i fat_e2e.img ::PHOTO.JPG ::AROUND.ZIP
mdel -i fat_e2e.img ::PHOTO.JPG ::AROUND.ZIP
rm -rf "$T"
