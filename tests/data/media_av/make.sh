#!/bin/sh
# Makes the media and document fixtures of the media_av tests with real tools.
# Needs: ffmpeg, msitools (msibuild), ghostscript (gs), qpdf. Run from any folder;
# writes into the folder of this script. Inputs are tiny (lavfi test sources), so the
# committed files stay small.
set -eu
cd "$(dirname "$0")"
F="ffmpeg -hide_banner -loglevel error -y -fflags +bitexact"
V="-f lavfi -i testsrc=size=96x64:rate=10 -t 2"
A="-f lavfi -i sine=frequency=440:sample_rate=8000 -t 1"

$F $V -c:v mpeg4 -flags +bitexact -brand mp42 plain.mp4          # ftyp free mdat moov
$F $V -c:v mpeg4 -flags +bitexact -movflags faststart fast.mp4   # ftyp moov free mdat
$F $V -c:v mpeg4 -flags +bitexact -f 3gp clip.3gp
$F $V -c:v mpeg4 -flags +bitexact clip.mov                        # ftyp wide mdat moov
$F $V -c:v mpeg4 -flags +bitexact clip.avi
$F $A -c:a pcm_s16le -flags +bitexact plain.wav                  # fmt LIST data
$F $A -c:a adpcm_ima_wav -flags +bitexact fact.wav                # fmt fact data
$F $V -c:v wmv2 -flags +bitexact clip.wmv
$F -f lavfi -i testsrc=size=64x48:rate=25 -t 2 -c:v mpeg1video -flags +bitexact -f mpeg clip.mpg
$F -f lavfi -i testsrc=size=64x48:rate=25 -t 0.4 -c:v mpeg2video -b:v 100k -flags +bitexact \
   -muxrate 500000 -muxdelay 0 -muxpreload 0 -f mpegts -mpegts_m2ts_mode 1 clip.m2ts

# A compound file with a stream large enough to live in regular sectors.
rm -f doc.msi
head -c 7000 /dev/zero | tr '\0' 'Q' > blob.tmp
msibuild doc.msi -s "Fixture" "Quorvex" ";1033" "{0C9A3F4E-1B2D-4C5E-8F70-123456789ABC}"
msibuild doc.msi -a Blob blob.tmp
rm -f blob.tmp

# PDFs: one written by ghostscript, and the same document rewritten by qpdf (linearized).
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -dCompressPages=false -sOutputFile=doc.pdf -c \
  "/Helvetica findfont 14 scalefont setfont 1 1 40 { 72 exch 14 mul 72 add moveto (Quorvex fixture line) show } for showpage 72 720 moveto (page two) show showpage"
qpdf --linearize doc.pdf linear.pdf

# End to end: a FAT12 image (1 KiB clusters) where a deleted ZIP archive was laid out by
# the file system around a video and a PDF that begin after it:
#   ARCHIVE.ZIP  | VIDEO.MP4 | ARCHIVE.ZIP | DOC.PDF | ARCHIVE.ZIP
# Two placeholder files hold the gaps while the video and the PDF are written; deleting
# them leaves the holes the archive is then written into.
export MTOOLS_SKIP_CHECK=1
T=$(mktemp -d)
head -c 12000 /dev/urandom > "$T/r1.bin"
head -c 10000 /dev/urandom > "$T/r2.bin"
rm -f e2e_archive.zip fat_e2e.img
(cd "$T" && zip -q -X archive.zip r1.bin r2.bin)
cp "$T/archive.zip" e2e_archive.zip
head -c 6000 /dev/zero | tr '\0' 'a' > "$T/hole1"
head -c 5000 /dev/zero | tr '\0' 'b' > "$T/hole2"
mkfs.fat -C -s 2 -i 5155ED00 -n MEDIAE2E fat_e2e.img 256 > /dev/null
mcopy -i fat_e2e.img "$T/hole1" ::HOLE1
mcopy -i fat_e2e.img plain.mp4 ::VIDEO.MP4
mcopy -i fat_e2e.img "$T/hole2" ::HOLE2
mcopy -i fat_e2e.img doc.pdf ::DOC.PDF
mdel -i fat_e2e.img ::HOLE1 ::HOLE2
mcopy -i fat_e2e.img e2e_archive.zip ::ARCHIVE.ZIP
mshowfat -i fat_e2e.img ::ARCHIVE.ZIP ::VIDEO.MP4 ::DOC.PDF
mdel -i fat_e2e.img ::ARCHIVE.ZIP
rm -rf "$T"
