#!/usr/bin/env bash
# Makes demo.img: an 8 MiB FAT16 volume (1 KiB clusters) on which real archives were stored among other
# files and then deleted, the day-to-day loss a rescue starts from.
# Tools: zip, 7zz (Debian 7zip), mkfs.fat (dosfstools), mtools. Output is deterministic
# for the same tool versions (fixed times, volume id and contents).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/demo.img}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C MTOOLS_SKIP_CHECK=1
stamp=202601150930.00

cd "$work"
mkdir -p docs photos
# Plain content: text the archives pack, and other files that share the disk.
for i in $(seq 1 40); do printf 'Quarterly report line %04d: everything is fine.\n' "$i"; done > docs/report.txt
seq 1 20000 | sed 's/^/measurement /' > docs/measurements.csv
head -c 300000 /dev/zero | tr '\0' 'Q' > photos/holiday.raw
awk 'BEGIN { srand(7); for (i = 0; i < 120000; i++) printf "%c", int(rand() * 256) }' > photos/noise.bin
find . -exec touch -t "$stamp" {} +

zip -X -q -r projects.zip docs
7zz a -bd -bso0 -mtc=off -mta=off backup.7z docs/measurements.csv photos/noise.bin
touch -t "$stamp" projects.zip backup.7z
cp "$here/../tests/data/rar/test_read_format_rar_compress_normal.rar" letters.rar
touch -t "$stamp" letters.rar

rm -f "$out"
mkfs.fat -C -F 16 -s 2 -i 20260115 -n DEMO "$out" 8192 >/dev/null
# Files that stay, then the archives, then more files after them; then the archives go.
mcopy -m -i "$out" docs/report.txt ::REPORT.TXT
mcopy -m -i "$out" projects.zip ::PROJECTS.ZIP
mcopy -m -i "$out" photos/holiday.raw ::HOLIDAY.RAW
mcopy -m -i "$out" backup.7z ::BACKUP.7Z
mcopy -m -i "$out" letters.rar ::LETTERS.RAR
mcopy -m -i "$out" photos/noise.bin ::NOISE.BIN
mdel -i "$out" ::PROJECTS.ZIP ::BACKUP.7Z ::LETTERS.RAR

# The originals, to compare rescued files against.
mkdir -p "$here/originals"
cp projects.zip backup.7z letters.rar "$here/originals/"
sha256sum projects.zip backup.7z letters.rar > "$here/originals/SHA256SUMS"
echo "wrote $out"
