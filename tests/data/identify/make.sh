#!/bin/sh
# Makes the identification fixtures: the first 512 bytes of files written by real tools.
# Needs zip, 7zip (7zz), gcab, imagemagick, ffmpeg, dosfstools, mtools, ntfs-3g.
# Run from anywhere; writes *.bin beside this script.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The first 512 bytes of $1 (zero-padded when the file is shorter).
head512() { dd if="$1" of="$here/$2.bin" bs=512 count=1 conv=sync status=none; }
# The 512-byte sector at byte offset $2 of file $1.
sector_at() { dd if="$1" of="$here/$3.bin" bs=512 skip=$(($2 / 512)) count=1 status=none; }
# Byte offset of the first 512-aligned sector of $1 that begins with the text $2.
find_sector() { grep -obaP "$2" "$1" | awk -F: '$1 % 512 == 0 { print $1; exit }'; }
# Byte offset of the 512-byte sector of $1 that holds the first match of the text $2.
sector_holding() { grep -obaP "$2" "$1" | awk -F: '{ print $1 - $1 % 512; exit }'; }

seq 1 5000 > payload.txt
export SOURCE_DATE_EPOCH=1700000000
TZ=UTC touch -d '2023-11-14 12:00:00' payload.txt

zip -q -X archive.zip payload.txt && head512 archive.zip zip
7zz a -bd -bso0 archive.7z payload.txt && head512 archive.7z 7z
gcab -c archive.cab payload.txt && head512 archive.cab cab
# An Office Open XML document and a ZIP drawing begin with their telling first entry.
cp -p payload.txt '[Content_Types].xml' && zip -q -X -nw document.docx '[Content_Types].xml' payload.txt
head512 document.docx office_zip
mkdir content && cp -p payload.txt content/riffData.cdr && zip -q -X drawing.cdr content/riffData.cdr
head512 drawing.cdr cdr_zip

convert -size 64x48 gradient:red-blue photo.jpg && head512 photo.jpg jpeg
convert -size 64x48 gradient:red-blue photo.png && head512 photo.png png
convert -size 64x48 gradient:red-blue BMP3:photo.bmp && head512 photo.bmp bmp
convert -size 64x48 gradient:red-blue photo.gif && head512 photo.gif gif
convert -size 64x48 gradient:red-blue -define tiff:endian=lsb photo_le.tif && head512 photo_le.tif tiff_le
convert -size 64x48 gradient:red-blue -define tiff:endian=msb photo_be.tif && head512 photo_be.tif tiff_be

ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v mpeg4 clip.avi && head512 clip.avi avi
ff -f lavfi -i sine=duration=0.2 clip.wav && head512 clip.wav wav
ff -f lavfi -i sine=duration=0.2 -c:a mp3 clip.mp3 && head512 clip.mp3 mp3_id3
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v mpeg4 -f mp4 -brand mp42 clip.mp4 && head512 clip.mp4 mp4
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v mpeg4 -f 3gp clip.3gp && head512 clip.3gp 3gp
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v mpeg4 -f mov clip.mov && head512 clip.mov mov
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v wmv2 -f asf clip.wmv && head512 clip.wmv asf
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v mpeg1video -f mpeg clip.mpg && head512 clip.mpg mpeg1_ps
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v mpeg2video -f vob clip.vob && head512 clip.vob mpeg2_ps
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v mpeg2video -f mpegts clip.ts && head512 clip.ts ts188
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v mpeg2video -f mpegts -mpegts_m2ts_mode 1 -muxrate 2000000 clip.m2ts && head512 clip.m2ts ts192

# A FAT root directory with a few short-name entries.
mkfs.fat -C -n QUORVEX fat.img 1024 > /dev/null
mcopy -i fat.img -m payload.txt ::PAYLOAD.TXT
mcopy -i fat.img -m payload.txt ::NOTES.TXT
sector_at fat.img "$(sector_holding fat.img 'PAYLOAD TXT')" fat_dir

# The first MFT record and an index record of a fresh NTFS volume.
truncate -s 8M ntfs.img
mkntfs -q -F -f -s 512 -c 4096 ntfs.img > /dev/null 2>&1
sector_at ntfs.img "$(find_sector ntfs.img 'FILE0')" ntfs_file
sector_at ntfs.img "$(find_sector ntfs.img 'INDX')" ntfs_indx
