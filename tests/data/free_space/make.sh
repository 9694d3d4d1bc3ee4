#!/bin/sh
# Makes the file-system images the free-space tests read, with real tools, and records
# what each file system's own tools say about them in expected.txt:
#   zip, dosfstools (mkfs.fat, fsck.fat), mtools (mcopy, mdel, mshowfat), ntfs-3g (mkntfs,
#   ntfscp, ntfsinfo), exfatprogs (mkfs.exfat, dump.exfat).
# Run from this folder; the images are stored xz-compressed.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=expected.txt
: > "$out"

# Deterministic, compressible file contents (only their clusters matter here).
blob() { python3 -c "import sys; sys.stdout.write(''.join('file $2 line %06d\\n' % i for i in range($1 // 20 + 1))[:$1])" ; }
blob 30000 1 > "$work/a.bin"
blob 70000 2 > "$work/b.bin"
blob 12345 3 > "$work/c.bin"
blob 200000 4 > "$work/d.bin"

fat() {  # name, size in KiB, mkfs options
  name=$1; size=$2; shift 2
  img="$work/$name.img"
  mkfs.fat -C --invariant -i 12345678 "$@" "$img" "$size" >/dev/null
  mcopy -i "$img" "$work/a.bin" ::A.BIN
  mcopy -i "$img" "$work/b.bin" ::B.BIN
  mcopy -i "$img" "$work/c.bin" ::C.BIN
  mcopy -i "$img" "$work/d.bin" ::D.BIN
  mdel -i "$img" ::B.BIN
  used=$(fsck.fat -n -v "$img" | sed -n 's/.* files, \([0-9]*\)\/\([0-9]*\) clusters.*/\1 \2/p')
  echo "$name used_clusters $used" >> "$out"
  for f in A C D; do
    echo "$name file $f $(mshowfat -i "$img" ::$f.BIN | sed 's/^[^<]*//')" >> "$out"
  done
  xz -9e < "$img" > "$name.img.xz"
}
fat fat12 1440 -F 12 -M 0xF0 -s 2 -n FS12
fat fat16 20480 -F 16 -s 4 -n FS16
fat fat32 36000 -F 32 -s 1 -n FS32
fat fat16_4k 20480 -F 16 -S 4096 -s 1 -n FS16K

# A FAT16 volume with a live ZIP and a deleted one, for the rescue of free space only.
(cd "$work" && zip -q -X -j live.zip a.bin b.bin && zip -q -X -j gone.zip c.bin d.bin)
cp "$work/live.zip" "$work/gone.zip" .
img="$work/fat16_zip.img"
mkfs.fat -C --invariant -i 12345678 -F 16 -s 1 -n FSZIP "$img" 4096 >/dev/null
mcopy -i "$img" "$work/gone.zip" ::GONE.ZIP
mcopy -i "$img" "$work/live.zip" ::LIVE.ZIP
mdel -i "$img" ::GONE.ZIP
xz -9e < "$img" > fat16_zip.img.xz

ntfs() {  # name, mkntfs options
  name=$1; shift
  img="$work/$name.img"
  truncate -s 4M "$img"
  mkntfs -F -Q -q "$@" "$img" >/dev/null 2>&1
  ntfscp -f "$img" "$work/d.bin" d.bin >/dev/null 2>&1
  ntfscp -f "$img" "$work/a.bin" a.bin >/dev/null 2>&1
  info=$(ntfsinfo -m "$img" 2>/dev/null)
  total=$(echo "$info" | sed -n 's/.*Volume Size in Clusters: \([0-9]*\).*/\1/p')
  free=$(echo "$info" | sed -n 's/.*Free Clusters: \([0-9]*\).*/\1/p')
  echo "$name clusters $total free $free" >> "$out"
  xz -9e < "$img" > "$name.img.xz"
}
ntfs ntfs
ntfs ntfs_4k -s 4096 -c 4096

img="$work/exfat.img"
truncate -s 8M "$img"
mkfs.exfat "$img" >/dev/null
dump=$(dump.exfat "$img" 2>/dev/null)
total=$(echo "$dump" | sed -n 's/^Total Clusters:[[:space:]]*\([0-9]*\).*/\1/p')
free=$(echo "$dump" | sed -n 's/^Free Clusters:[[:space:]]*\([0-9]*\).*/\1/p')
heap=$(echo "$dump" | sed -n 's/^Cluster Heap Offset (sector offset):[[:space:]]*\([0-9]*\).*/\1/p')
echo "exfat clusters $total free $free heap $heap" >> "$out"
xz -9e < "$img" > exfat.img.xz
