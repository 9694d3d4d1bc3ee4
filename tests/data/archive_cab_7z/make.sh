#!/bin/sh
# Makes the cabinet and 7z fixtures of the archive_cab_7z tests with real tools.
# Needs: gcab (CAB 1.3), 7zip (7zz), dosfstools (mkfs.fat), mtools. Run from any folder;
# writes into the folder of this script. The inputs are random bytes and text, kept small.
#
# 7zz writes signature headers of format 0.4. The *_v03.7z files are the same archives with
# the minor version byte (offset 7) set to 3, the format the classic identifier knows; the
# start-header CRC covers bytes 12..31 only, so the archives stay valid (7zz t accepts them).
set -eu
cd "$(dirname "$0")"
export MTOOLS_SKIP_CHECK=1
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

# Inputs: a tiny text, random data of a few sizes, and compressible text.
printf 'quorvex cabinet and 7z fixture\n' > "$T/tiny.txt"
head -c 1436 /dev/urandom > "$T/r1436.bin"      # with the headers: 3 sectors and some bytes
head -c 9000 /dev/urandom > "$T/r9000.bin"
head -c 20000 /dev/urandom > "$T/r20000.bin"
seq 1 4000 | sed 's/^/line /' > "$T/lines.txt"  # about 40 KB of text that compresses well

rm -f ./*.cab ./*.7z ./*.img
(cd "$T" && gcab -c tiny.cab tiny.txt)
(cd "$T" && gcab -c plain.cab r1436.bin)
(cd "$T" && gcab -c multi.cab tiny.txt r9000.bin r20000.bin)
(cd "$T" && gcab -c -z mszip.cab lines.txt r9000.bin)
cp "$T/tiny.cab" "$T/plain.cab" "$T/multi.cab" "$T/mszip.cab" .

Z="7zz a -bd -bso0 -bsp0"
(cd "$T" && $Z -mx0 store_tiny.7z tiny.txt)
(cd "$T" && $Z -mx0 store_mid.7z r9000.bin)
(cd "$T" && $Z lzma.7z lines.txt r20000.bin)
(cd "$T" && $Z -ms=on solid.7z tiny.txt lines.txt r1436.bin r9000.bin)
cp "$T/store_tiny.7z" "$T/store_mid.7z" "$T/lzma.7z" "$T/solid.7z" .

to_v03() {  # copy of $1 with signature minor version 3
  cp "$1" "$2"
  printf '\003' | dd of="$2" bs=1 seek=7 conv=notrunc status=none
}
to_v03 store_mid.7z store_mid_v03.7z
to_v03 solid.7z solid_v03.7z
for a in ./*.7z; do 7zz t -bso0 -bsp0 "$a"; done
for c in ./*.cab; do gcab -t "$c" > /dev/null; done

# End to end: a FAT12 image (1 KiB clusters) with deleted archives. The file system lays
# MULTI.CAB around a 7z that begins after it:
#   MULTI.CAB | V03.7Z | MULTI.CAB | ... | V04.7Z | MSZIP.CAB | SOLID.7Z
# A placeholder holds the gap while V03.7Z is written; deleting it leaves the hole
# MULTI.CAB is then written into. V04.7Z is of format 0.4 (rescued unless classic).
head -c 4000 /dev/zero | tr '\0' 'h' > "$T/hole"
mkfs.fat -C -s 2 -i 7C4BCAB0 -n CAB7ZE2E fat_e2e.img 512 > /dev/null
mcopy -i fat_e2e.img "$T/hole" ::HOLE
mcopy -i fat_e2e.img store_mid_v03.7z ::V03.7Z
mdel -i fat_e2e.img ::HOLE
mcopy -i fat_e2e.img multi.cab ::MULTI.CAB
mcopy -i fat_e2e.img lzma.7z ::V04.7Z
mcopy -i fat_e2e.img mszip.cab ::MSZIP.CAB
mcopy -i fat_e2e.img solid_v03.7z ::SOLID.7Z
mshowfat -i fat_e2e.img ::MULTI.CAB ::V03.7Z ::V04.7Z ::MSZIP.CAB ::SOLID.7Z
mdel -i fat_e2e.img ::MULTI.CAB ::V03.7Z ::V04.7Z ::MSZIP.CAB ::SOLID.7Z
