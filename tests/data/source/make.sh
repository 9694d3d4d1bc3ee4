#!/bin/sh
# Makes the boot-record fixtures: real file systems made by mkfs.fat (dosfstools),
# mkntfs (ntfs-3g) and mkfs.exfat (exfatprogs); only the first 4 KiB of each image is
# kept. expected.tsv records, per fixture, what the boot record says, read back
# from the images with od:
#   name  kind  bytes_per_sector  sectors_per_cluster  cluster_offset
# cluster_offset = first data sector mod sectors per cluster.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out="$here/expected.tsv"
: > "$out"

u16() { od -An -tu2 -j"$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
u8()  { od -An -tu1 -j"$2" -N1 "$1" | tr -d ' '; }

fat() {  # fat NAME KIND KIB mkfs.fat-options...
  name=$1 kind=$2 kib=$3; shift 3
  img="$work/$name.img"
  rm -f "$img"
  mkfs.fat "$@" -C "$img" "$kib" > /dev/null 2>&1
  head -c 4096 "$img" > "$here/$name.boot"
  ss=$(u16 "$img" 11)
  spc=$(u8 "$img" 13)
  res=$(u16 "$img" 14)
  fats=$(u8 "$img" 16)
  root=$(u16 "$img" 17)
  fatlen=$(u16 "$img" 22)
  if [ "$fatlen" = 0 ]; then fatlen=$(u32 "$img" 36); fi
  first=$((res + fats * fatlen + root * 32 / ss))
  printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$kind" "$ss" "$spc" $((first % spc)) >> "$out"
}

fat fat12_s1     FAT12 1440  -F 12 -s 1
fat fat12_s4     FAT12 4096  -F 12 -s 4
fat fat16_s4     FAT16 16384 -F 16 -s 4
fat fat16_s4_r1  FAT16 16384 -F 16 -s 4 -R 1 -a
fat fat16_s128   FAT16 262144 -F 16 -s 128
fat fat32_s1     FAT32 65536 -F 32 -s 1
fat fat32_s8     FAT32 65536 -F 32 -s 8
fat fat32_s8_r7  FAT32 65536 -F 32 -s 8 -R 7 -a
fat fat32_s64    FAT32 524288 -F 32 -s 64
fat fat32_4k_s1  FAT32 262144 -F 32 -S 4096 -s 1

ntfs() {  # ntfs NAME SECTOR CLUSTER
  img="$work/$1.img"
  truncate -s 64M "$img"
  mkntfs -q -F -Q -s "$2" -c "$3" "$img" > /dev/null 2>&1
  head -c 4096 "$img" > "$here/$1.boot"
  printf '%s\tNTFS\t%s\t%s\t0\n' "$1" "$2" $(($3 / $2)) >> "$out"
}
ntfs ntfs_4k      512  4096
ntfs ntfs_64k     512  65536
ntfs ntfs_s4096   4096 4096

exfat() {  # exfat NAME CLUSTER
  img="$work/$1.img"
  truncate -s 64M "$img"
  mkfs.exfat -c "$2" "$img" > /dev/null 2>&1
  head -c 4096 "$img" > "$here/$1.boot"
  heap=$(u32 "$img" 88)
  sshift=$(u8 "$img" 108)
  cshift=$(u8 "$img" 109)
  spc=$((1 << cshift))
  printf '%s\texFAT\t%s\t%s\t%s\n' "$1" $((1 << sshift)) "$spc" $((heap % spc)) >> "$out"
}
exfat exfat_4k   4K
exfat exfat_32k  32K
exfat exfat_128k 128K

cat "$out"
