#!/usr/bin/env bash
# Builds disk images the way a user's disks come to be, with the real tools:
# archives made by zip, bsdtar, zip -fz, 7zz and gcab (plus the RAR 4 and RAR 5
# fixtures), photos from ImageMagick, a short video from ffmpeg and random filler,
# put on FAT12/16/32, NTFS and exFAT, then deleted, formatted over or fragmented.
#
#   make_images.sh OUTDIR
#
# Writes OUTDIR/src/ (the archives), OUTDIR/<image>.img and OUTDIR/manifest.txt:
#   image NAME           an image the rescue runs on
#   archive NAME FILE    FILE (under src/) was put on image NAME
#   mixed NAME           image NAME holds live and deleted archives (the deleted
#                        ones are listed as "deleted NAME FILE")
#   around_live NAME FILE  FILE is fragmented around live files on image NAME
# Exit 77 when a needed tool is missing (the tests skip then).
# Debian packages: zip, libarchive-tools, 7zip, gcab, imagemagick, ffmpeg,
# dosfstools, mtools, exfatprogs, ntfs-3g; optional: exfat-fuse (real exFAT
# deletion through a FUSE mount; needs /dev/fuse and root).
set -euo pipefail

out=${1:?usage: make_images.sh OUTDIR}
here=$(cd "$(dirname "$0")" && pwd)
data=$here/../data

for tool in zip bsdtar 7zz gcab ffmpeg mkfs.fat mcopy mdel mshowfat mkfs.exfat mkntfs ntfscp openssl; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 77; }
done
# ImageMagick's own convert (a stand-in may come first on PATH).
convert=/usr/bin/convert
[ -x "$convert" ] || convert=$(command -v convert) || { echo "missing convert" >&2; exit 77; }

mkdir -p "$out/src" "$out/work"
src=$out/src
work=$out/work
manifest=$out/manifest.txt
: >"$manifest"
export MTOOLS_SKIP_CHECK=1

# Deterministic pseudo-random bytes: AES-CTR over zeros with a key from the seed.
rand() {  # rand SEED BYTES
  local key
  key=$(printf '%s' "$1" | sha256sum | cut -c1-32)
  head -c "$2" /dev/zero | openssl enc -aes-128-ctr -K "$key" -iv 00000000000000000000000000000000 -nosalt
}

# --- content -------------------------------------------------------------------
content=$work/content
mkdir -p "$content/docs" "$content/bin" "$content/emptydir"
: >"$content/docs/empty.txt"
for i in 1 2 3; do
  seq 1 $((4000 * i)) | sed "s/^/line of report $i: /" >"$content/docs/report$i.txt"
done
rand bin1 70000 >"$content/bin/blob1.bin"
rand bin2 150000 >"$content/bin/blob2.bin"
rand big 1400000 >"$work/big.bin"

# ZIP with sizes in the local headers (deflate and store).
(cd "$content" && zip -q -r -X "$src/zip_plain.zip" docs bin)
(cd "$content" && zip -q -X -0 "$src/zip_stored.zip" bin/blob1.bin docs/report1.txt)
# Streaming ZIP: sizes in data descriptors.
(cd "$content" && bsdtar --format zip -cf "$src/zipdd_bsdtar.zip" docs bin)
# ZIP64 forced on a normal-size archive.
(cd "$content" && zip -q -X -fz "$src/zip64_fz.zip" docs/report2.txt bin/blob1.bin)
# A large ZIP for the fragmented layouts.
(cd "$work" && zip -q -X -0 "$src/zip_big.zip" big.bin)
# 7z format 0.4 (what 7zz writes) and the committed format 0.3 archive.
(cd "$content" && 7zz a -bso0 -bsp0 "$src/7z_lzma.7z" docs bin >/dev/null)
(cd "$content" && 7zz a -bso0 -bsp0 -mx0 "$src/7z_store.7z" bin/blob2.bin >/dev/null)
cp "$data/archive_cab_7z/store_mid_v03.7z" "$src/7z03_store_mid.7z"
# What other zippers write: a stream to stdout, a comment, encrypted entries (Info-ZIP puts
# their sizes in descriptors), 7-Zip's ZIP writer (Deflate64, AES), bsdtar ZIP64 and stored
# streams, Python's zipfile to a file and to a stream.
(cd "$content" && zip -q -X - docs/report1.txt bin/blob1.bin >"$src/zip_stdin.zip")
(cd "$content" && echo "archive comment" | zip -q -X -z "$src/zip_comment.zip" docs/report2.txt bin/blob1.bin)
(cd "$content" && zip -q -X -P secret "$src/zipdd_encrypted.zip" docs/report1.txt bin/blob1.bin)
(cd "$content" && 7zz a -tzip -bso0 -bsp0 "$src/zip_7zz.zip" docs bin >/dev/null)
(cd "$content" && 7zz a -tzip -mm=Deflate64 -bso0 -bsp0 "$src/zip_7zz_deflate64.zip" docs/report3.txt >/dev/null)
(cd "$content" && 7zz a -tzip -mem=AES256 -psecret -bso0 -bsp0 "$src/zip_7zz_aes.zip" docs/report2.txt bin/blob1.bin >/dev/null)
(cd "$content" && bsdtar --format zip --options zip:zip64 -cf "$src/zipdd_bsdtar64.zip" docs/report1.txt bin/blob1.bin)
(cd "$content" && bsdtar --format zip --options zip:compression=store -cf "$src/zipdd_bsdtar_store.zip" docs/report2.txt bin/blob1.bin)
if command -v python3 >/dev/null; then
  (cd "$content" && python3 - "$src" <<'PY'
import io, sys, zipfile
src = sys.argv[1]
with zipfile.ZipFile(src + "/zip_python.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.write("docs/report1.txt"); z.write("bin/blob1.bin"); z.write("docs/empty.txt")
class Stream(io.RawIOBase):  # not seekable: zipfile writes data descriptors
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): self.f.write(b); return len(b)
with open(src + "/zipdd_python_stream.zip", "wb") as f:
    with zipfile.ZipFile(Stream(f), "w", zipfile.ZIP_DEFLATED) as z:
        z.write("docs/report2.txt"); z.write("bin/blob1.bin")
PY
  )
fi
# More 7z: encrypted headers, not solid, PPMd, an empty folder and an empty file.
(cd "$content" && 7zz a -bso0 -bsp0 -mhe=on -psecret "$src/7z_encrypted_header.7z" docs/report1.txt bin/blob1.bin >/dev/null)
(cd "$content" && 7zz a -bso0 -bsp0 -ms=off "$src/7z_nonsolid.7z" docs bin >/dev/null)
(cd "$content" && 7zz a -bso0 -bsp0 -m0=PPMd "$src/7z_ppmd.7z" docs/report3.txt >/dev/null)
(cd "$content" && 7zz a -bso0 -bsp0 "$src/7z_empty_entries.7z" emptydir docs/empty.txt docs/report1.txt >/dev/null)
# Cabinets, stored and MSZIP.
(cd "$content" && gcab -c "$src/cab_store.cab" docs/report1.txt bin/blob1.bin)
(cd "$content" && gcab -c -z "$src/cab_mszip.cab" docs/report3.txt bin/blob2.bin)
(cd "$content" && gcab -c -z "$src/cab_three.cab" docs/report1.txt docs/report2.txt bin/blob1.bin)
# RAR 4 and RAR 5 archives made by the real archiver (kept under tests/data).
cp "$data/rar/test_read_format_rar_binary_data.rar" "$src/rar4_binary.rar"
cp "$data/rar/test_read_format_rar_ppmd_lzss_conversion.rar" "$src/rar4_ppmd.rar"
cp "$data/rar/test_read_format_rar_compress_normal.rar" "$src/rar4_normal.rar"
cp "$data/rar/test_read_format_rar.rar" "$src/rar4_tiny.rar"
cp "$data/rar5/test_read_format_rar5_unicode.rar" "$src/rar5_unicode.rar"
cp "$data/rar5/test_read_format_rar5_zip_in_rar.rar" "$src/rar5_zip_in_rar.rar"

# Photos, a video and filler.
"$convert" -size 640x480 plasma:fractal -seed 7 "$work/photo1.jpg" 2>/dev/null ||
  "$convert" -size 640x480 gradient:red-blue "$work/photo1.jpg"
"$convert" -size 800x600 gradient:yellow-green -swirl 90 "$work/photo2.jpg"
"$convert" -size 300x200 gradient:white-black "$work/pic.png"
ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=1:size=160x120:rate=10 -pix_fmt yuv420p "$work/clip.mp4"
for i in $(seq 1 6); do rand "filler$i" $((20000 * i + 333)) >"$work/filler$i.dat"; done

archives=(zip_plain.zip zip_stored.zip zipdd_bsdtar.zip zip64_fz.zip 7z_lzma.7z 7z_store.7z 7z03_store_mid.7z
          cab_store.cab cab_mszip.cab rar4_binary.rar rar4_ppmd.rar rar4_normal.rar rar4_tiny.rar
          rar5_unicode.rar rar5_zip_in_rar.rar
          zip_stdin.zip zip_comment.zip zipdd_encrypted.zip zip_7zz.zip zip_7zz_deflate64.zip zip_7zz_aes.zip
          zipdd_bsdtar64.zip zipdd_bsdtar_store.zip 7z_encrypted_header.7z 7z_nonsolid.7z 7z_ppmd.7z
          7z_empty_entries.7z cab_three.cab)
[ -e "$src/zip_python.zip" ] && archives+=(zip_python.zip zipdd_python_stream.zip)
others=(photo1.jpg pic.png filler1.dat clip.mp4 filler2.dat photo2.jpg filler3.dat)

note() { echo "$*" >>"$manifest"; }
list_archives() {  # list_archives IMAGE FILES...
  local name=$1; shift
  for f in "$@"; do note "archive $name $f"; done
}

# Interleaves other files between the archives, so each archive is followed by
# something that is not part of it.
fill_fat() {  # fill_fat IMAGE ARCHIVES...
  local img=$1; shift
  local i=0
  for f in "$@"; do
    mcopy -i "$img" "$src/$f" "::$f"
    local o=${others[$((i % ${#others[@]}))]}
    mcopy -o -i "$img" "$work/$o" "::$i$o"
    i=$((i + 1))
  done
}
delete_fat() {  # delete_fat IMAGE FILES...
  local img=$1; shift
  for f in "$@"; do mdel -i "$img" "::$f"; done
}

# --- FAT: deleted --------------------------------------------------------------
# name, mkfs.fat options, size in KiB
fat_rows=(
  "fat12_4k_deleted|-F 12 -s 8|12000"
  "fat16_2k_deleted|-F 16 -s 4|40000"
  "fat16_32k_deleted|-F 16 -s 64|140000"
  "fat32_512_deleted|-F 32 -s 1|48000"
  "fat32_4k_deleted|-F 32 -s 8|280000"
)
for row in "${fat_rows[@]}"; do
  IFS='|' read -r name opts kib <<<"$row"
  img=$out/$name.img
  rm -f "$img"
  # shellcheck disable=SC2086
  mkfs.fat -C $opts "$img" "$kib" >/dev/null
  fill_fat "$img" "${archives[@]}"
  delete_fat "$img" "${archives[@]}"
  note "image $name"
  list_archives "$name" "${archives[@]}"
done

# --- FAT: live and deleted archives (for free-space-only) ------------------------
name=fat16_mixed
img=$out/$name.img
rm -f "$img"
mkfs.fat -C -F 16 -s 8 "$img" 30000 >/dev/null
fill_fat "$img" "${archives[@]}"
note "image $name"
note "mixed $name"
list_archives "$name" "${archives[@]}"
i=0
for f in "${archives[@]}"; do
  if [ $((i % 2)) -eq 0 ]; then mdel -i "$img" "::$f"; note "deleted $name $f"; fi
  i=$((i + 1))
done

# --- FAT: fragmented -------------------------------------------------------------
# Small files fill the volume, every other one is deleted, and the large archives
# are copied into the holes, with photos and other archives written after them.
frag() {  # frag NAME MKFS_OPTS KIB CLUSTER_BYTES
  local name=$1 opts=$2 kib=$3 cluster=$4
  local img=$out/$name.img
  rm -f "$img"
  # shellcheck disable=SC2086
  mkfs.fat -C $opts "$img" "$kib" >/dev/null
  local n=0
  rm -rf "$work/small" && mkdir "$work/small"
  rand "small$name" $((cluster * 400)) | split -b "$cluster" -a 3 -d - "$work/small/S"
  mcopy -i "$img" "$work/small/"S* ::
  local odd=()
  for n in $(seq -w 0 2 399); do odd+=("::S$n"); done
  mdel -i "$img" "${odd[@]}"
  local order=(zip_big.zip photo1.jpg rar4_binary.rar 7z_lzma.7z photo2.jpg zipdd_bsdtar.zip zip64_fz.zip rar5_unicode.rar cab_mszip.cab rar4_ppmd.rar)
  for f in "${order[@]}"; do
    if [ -e "$src/$f" ]; then mcopy -i "$img" "$src/$f" "::$f"; else mcopy -i "$img" "$work/$f" "::$f"; fi
  done
  mshowfat -i "$img" ::zip_big.zip >"$work/$name.zip_big.fat"
  mshowfat -i "$img" ::rar4_binary.rar >"$work/$name.rar4_binary.fat"
  # The large archives must be in pieces, else the image shows nothing.
  [ "$(grep -o '<' "$work/$name.zip_big.fat" | wc -l)" -gt 1 ] || { echo "$name: zip_big.zip is not fragmented" >&2; exit 1; }
  local arcs=(zip_big.zip rar4_binary.rar 7z_lzma.7z zipdd_bsdtar.zip zip64_fz.zip rar5_unicode.rar cab_mszip.cab rar4_ppmd.rar)
  delete_fat "$img" "${arcs[@]}"
  note "image $name"
  list_archives "$name" "${arcs[@]}"
  # Its first clusters lie between live files nothing identifies: only a free-space-only
  # rescue can step over them.
  note "around_live $name zip_big.zip"
}
frag fat16_frag_1k "-F 16 -s 2" 40000 1024
frag fat12_frag_2k "-F 12 -s 4" 8000 2048

# Fragmented around live archives: the holes lie between small ZIP files that the rescue
# identifies and saves first, so the deleted archives are reassembled around them even in a
# scan of every sector.
name=fat16_frag_around_zips
img=$out/$name.img
rm -f "$img"
mkfs.fat -C -F 16 -s 2 "$img" 40000 >/dev/null
rm -rf "$work/small" && mkdir "$work/small"
rand "smallzips" $((600 * 300)) | split -b 600 -a 3 -d - "$work/small/p"
for n in $(seq -w 0 299); do
  (cd "$work/small" && zip -q -X -0 "$src/sz$n.zip" "p$n")
done
mcopy -i "$img" "$src"/sz*.zip ::
odd=()
for n in $(seq -w 0 2 299); do odd+=("::sz$n.zip"); done
mdel -i "$img" "${odd[@]}"
for f in zip_big.zip photo1.jpg rar4_binary.rar zipdd_bsdtar.zip 7z_lzma.7z; do
  if [ -e "$src/$f" ]; then mcopy -i "$img" "$src/$f" "::$f"; else mcopy -i "$img" "$work/$f" "::$f"; fi
done
mshowfat -i "$img" ::zip_big.zip >"$work/$name.zip_big.fat"
[ "$(grep -o '<' "$work/$name.zip_big.fat" | wc -l)" -gt 1 ] || { echo "$name: zip_big.zip is not fragmented" >&2; exit 1; }
delete_fat "$img" zip_big.zip rar4_binary.rar zipdd_bsdtar.zip 7z_lzma.7z
note "image $name"
note "mixed $name"
for f in "$src"/sz*.zip; do note "archive $name $(basename "$f")"; done
for f in zip_big.zip rar4_binary.rar zipdd_bsdtar.zip 7z_lzma.7z; do note "archive $name $f"; note "deleted $name $f"; done

# --- formatted over --------------------------------------------------------------
# A FAT volume with live archives, then a new file system written over it.
over() {  # over NAME "MKFS_FAT_OPTS" KIB NEW_FS_COMMAND...
  local name=$1 opts=$2 kib=$3; shift 3
  local img=$out/$name.img
  rm -f "$img"
  # shellcheck disable=SC2086
  mkfs.fat -C $opts "$img" "$kib" >/dev/null
  fill_fat "$img" "${archives[@]}"
  "$@" "$img" >/dev/null 2>&1
  note "image $name"
  list_archives "$name" "${archives[@]}"
}
over fat16_4k_over_fat16 "-F 16 -s 8" 40000 mkfs.fat -F 16 -s 8
over fat32_4k_over_fat32_32k "-F 32 -s 8" 280000 mkfs.fat -F 32 -s 64
over fat16_4k_over_exfat "-F 16 -s 8" 40000 mkfs.exfat
over fat32_4k_over_exfat_32k "-F 32 -s 8" 280000 mkfs.exfat -c 32K
over fat16_4k_over_ntfs "-F 16 -s 8" 40000 mkntfs -F -Q
over fat16_32k_over_ntfs "-F 16 -s 64" 140000 mkntfs -F -Q

# NTFS volumes with files, formatted over by NTFS again and by FAT.
ntfs_fill() {  # ntfs_fill IMAGE ARCHIVES...
  local img=$1; shift
  local i=0
  for f in "$@"; do
    ntfscp -f "$img" "$src/$f" "$f" >/dev/null 2>&1
    local o=${others[$((i % ${#others[@]}))]}
    ntfscp -f "$img" "$work/$o" "$i$o" >/dev/null 2>&1
    i=$((i + 1))
  done
}
ntfs_over() {  # ntfs_over NAME MKNTFS_OPTS KIB NEW_FS_COMMAND...
  local name=$1 opts=$2 kib=$3; shift 3
  local img=$out/$name.img
  rm -f "$img"
  truncate -s "${kib}K" "$img"
  # shellcheck disable=SC2086
  mkntfs -F -Q $opts "$img" >/dev/null 2>&1
  ntfs_fill "$img" "${archives[@]}"
  "$@" "$img" >/dev/null 2>&1
  note "image $name"
  list_archives "$name" "${archives[@]}"
}
ntfs_over ntfs_4k_over_ntfs "-c 4096" 40000 mkntfs -F -Q -c 4096
ntfs_over ntfs_4k_over_fat16 "-c 4096" 40000 mkfs.fat -F 16 -s 8
ntfs_over ntfs_4k_over_exfat "-c 4096" 40000 mkfs.exfat

# --- real deletion through a mount (NTFS by ntfs-3g, exFAT by exfat-fuse) -----------
mnt=$work/mnt
mkdir -p "$mnt"
mounted_delete() {  # mounted_delete NAME MAKE_FS_COMMAND MOUNT_COMMAND
  local name=$1 make=$2 mountcmd=$3
  local img=$out/$name.img
  rm -f "$img"
  truncate -s 40M "$img"
  $make "$img" >/dev/null 2>&1 || return 0
  if ! $mountcmd "$img" "$mnt" >/dev/null 2>&1; then rm -f "$img"; echo "skip $name: cannot mount" >&2; return 0; fi
  mounted_loop=${loop:-}
  local i=0
  for f in "${archives[@]}"; do
    cp "$src/$f" "$mnt/$f"
    local o=${others[$((i % ${#others[@]}))]}
    cp "$work/$o" "$mnt/$i$o"
    i=$((i + 1))
  done
  for f in "${archives[@]}"; do rm "$mnt/$f"; done
  sync
  umount "$mnt"
  if [ -n "$mounted_loop" ]; then losetup -d "$mounted_loop"; loop=; fi
  note "image $name"
  list_archives "$name" "${archives[@]}"
}
# exfat-fuse wants a block device: the image goes on a loop device first.
loop=
exfat_mount() {  # exfat_mount IMAGE DIR
  loop=$(losetup -f --show "$1") || return 1
  mount.exfat-fuse "$loop" "$2" || { losetup -d "$loop"; loop=; return 1; }
}
# Fragmented on exFAT: small files fill the start, every other one is deleted, and the
# large archives land in the holes.
mounted_frag() {  # mounted_frag NAME MAKE_FS_COMMAND MOUNT_COMMAND
  local name=$1 make=$2 mountcmd=$3
  local img=$out/$name.img
  rm -f "$img"
  truncate -s 40M "$img"
  $make "$img" >/dev/null 2>&1 || return 0
  if ! $mountcmd "$img" "$mnt" >/dev/null 2>&1; then rm -f "$img"; echo "skip $name: cannot mount" >&2; return 0; fi
  mounted_loop=${loop:-}
  rand "small$name" $((4096 * 400)) | split -b 4096 -a 3 -d - "$mnt/S"
  sync
  local n
  for n in $(seq -w 0 2 399); do rm "$mnt/S$n"; done
  sync
  local arcs=(zip_big.zip rar4_binary.rar 7z_lzma.7z zipdd_bsdtar.zip)
  for f in "${arcs[@]}"; do cp "$src/$f" "$mnt/$f"; done
  for f in "${arcs[@]}"; do rm "$mnt/$f"; done
  sync
  umount "$mnt"
  if [ -n "$mounted_loop" ]; then losetup -d "$mounted_loop"; loop=; fi
  note "image $name"
  list_archives "$name" "${arcs[@]}"
  note "around_live $name zip_big.zip"
}
# An exFAT volume with live archives (written through the mount), formatted over.
mounted_over() {  # mounted_over NAME NEW_FS_COMMAND...
  local name=$1; shift
  local img=$out/$name.img
  rm -f "$img"
  truncate -s 40M "$img"
  mkfs.exfat "$img" >/dev/null 2>&1 || return 0
  if ! exfat_mount "$img" "$mnt" >/dev/null 2>&1; then rm -f "$img"; echo "skip $name: cannot mount" >&2; return 0; fi
  mounted_loop=${loop:-}
  local i=0
  for f in "${archives[@]}"; do
    cp "$src/$f" "$mnt/$f"
    local o=${others[$((i % ${#others[@]}))]}
    cp "$work/$o" "$mnt/$i$o"
    i=$((i + 1))
  done
  umount "$mnt"
  if [ -n "$mounted_loop" ]; then losetup -d "$mounted_loop"; loop=; fi
  "$@" "$img" >/dev/null 2>&1
  note "image $name"
  list_archives "$name" "${archives[@]}"
}
if [ -e /dev/fuse ] && [ "$(id -u)" = 0 ]; then
  command -v ntfs-3g >/dev/null && mounted_delete ntfs_4k_deleted "mkntfs -F -Q -c 4096" ntfs-3g
  command -v mount.exfat-fuse >/dev/null && mounted_delete exfat_deleted "mkfs.exfat" exfat_mount
  command -v mount.exfat-fuse >/dev/null && mounted_delete exfat_32k_deleted "mkfs.exfat -c 32K" exfat_mount
  command -v mount.exfat-fuse >/dev/null && mounted_frag exfat_frag_deleted "mkfs.exfat" exfat_mount
  command -v mount.exfat-fuse >/dev/null && mounted_over exfat_over_exfat mkfs.exfat
  command -v mount.exfat-fuse >/dev/null && mounted_over exfat_over_ntfs mkntfs -F -Q
  command -v mount.exfat-fuse >/dev/null && mounted_over exfat_over_fat16 mkfs.fat -F 16 -s 8
fi
rm -rf "$work"
echo "images in $out"
