#!/usr/bin/env bash
# Builds the benchmark corpus in $1 (default /tmp/quorvex-perf) with real tools, the same bytes on
# every run: archives of the four kinds (zip, 7zz, gcab, the RAR fixtures), photos (ImageMagick),
# videos (ffmpeg) and random filler, laid into
#   fat32-2g.img  a 2 GiB FAT32 volume (mkfs.fat, mcopy) whose archives were deleted (mdel), four
#                 of them fragmented by the file system around other files;
#   raw-<N>g.img  images with no file system: archives and photos at sector boundaries between
#                 random filler, the set repeated once per GiB (N = 1, 2, 4).
# The originals go to truth/<image>/ (one file per distinct archive) for the scoring.
set -euo pipefail
export TZ=UTC LC_ALL=C SOURCE_DATE_EPOCH=1577836800
W=${1:-/tmp/quorvex-perf}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
FAT_MIB=${FAT_MIB:-2048}
RAW_GIBS=${RAW_GIBS:-"1 2 4"}
STAMP=202001010000
mkdir -p "$W"
SRC=$W/src
# Made again when this script or the sizes change.
MARK="$FAT_MIB $RAW_GIBS $(sha256sum "$0" | cut -c1-16)"
if [[ -f $W/corpus.done && $(cat "$W/corpus.done") == "$MARK" ]]; then
  echo "corpus already built in $W"; exit 0
fi
rm -rf "$SRC" "$W/truth" "$W"/*.img
mkdir -p "$SRC"/{arc,photo,video,fill,tmp} "$W/truth"

# Deterministic random bytes: AES-CTR over zeros, keyed by a name.
rnd() {  # rnd KEYTEXT BYTES > out
  local key; key=$(printf '%s' "$1" | sha256sum | cut -c1-32)
  (set +o pipefail
   openssl enc -aes-128-ctr -K "$key" -iv 00000000000000000000000000000000 -nosalt -in /dev/zero 2>/dev/null |
     head -c "$2")
}
# Text that compresses: numbered lines of words.
txt() {  # txt SEED LINES > out
  awk -v s="$1" -v n="$2" 'BEGIN{srand(s); split("alpha beta gamma delta sector cluster archive volume entry header rescue folder", w, " ");
    for(i=1;i<=n;i++){l=i":"; for(j=0;j<8;j++) l=l" "w[int(rand()*12)+1]; print l}}'
}
tree() {  # tree DIR SEED KIB: a folder of text and random files, about KIB KiB
  local d=$1 s=$2 k=$3; mkdir -p "$d/sub"
  txt "$s" $(( k * 12 )) > "$d/notes.txt"
  rnd "tree$s" $(( k * 1024 / 2 )) > "$d/sub/data.bin"
  txt $(( s + 7 )) 200 > "$d/sub/readme.txt"
  find "$d" -exec touch -h -t $STAMP {} +
}
mkzip() { (cd "$2" && rm -f "$1" && zip -X -q -r "$1" .); }
mk7z()  { (cd "$2" && rm -f "$1" && 7zz a -bd -bso0 -mx=3 -mmt=1 -mtm=off -mtc=off -mta=off "$1" . >/dev/null); }
mkcab() { (cd "$2" && rm -f "$1" && gcab -c -z "$1" $(find . -type f | sort)); }

echo "making archives"
A=$SRC/arc
# Contiguous archives of each kind, small to large (KiB of content).
i=0
for k in 4 30 200 1500 8000 24000; do
  i=$((i + 1))
  t=$SRC/tmp/t$i; tree "$t" $i $k
  mkzip "$A/Z$i.ZIP" "$t"; mk7z "$A/S$i.7Z" "$t"; mkcab "$A/C$i.CAB" "$t"
done
# The RAR fixtures (Debian has no RAR maker); binary_data is the one the file system fragments.
i=0
for f in "$REPO"/tests/data/rar/*.rar; do
  [[ $f == *binary_data* ]] && continue
  i=$((i + 1)); cp "$f" "$A/R$i.RAR"
done
# The large archives that the file system fragments, and the small files around which it does.
t=$SRC/tmp/fz; tree "$t" 101 6000; mkzip "$A/FZIP.ZIP" "$t"
t=$SRC/tmp/f7; tree "$t" 102 9000; mk7z "$A/F7Z.7Z" "$t"
t=$SRC/tmp/fc; tree "$t" 103 5000; mkcab "$A/FCAB.CAB" "$t"
cp "$REPO/tests/data/rar/test_read_format_rar_binary_data.rar" "$A/FRAR.RAR"
for n in $(seq 1 64); do   # small unique ZIPs, 7Zs as spacers
  t=$SRC/tmp/sz$n; mkdir -p "$t"; txt $((500 + n)) 600 > "$t/s.txt"; rnd "sz$n" 9000 > "$t/s.bin"; touch -t $STAMP "$t" "$t"/*
  mkzip "$A/SZ$n.ZIP" "$t"; mk7z "$A/SS$n.7Z" "$t"
done
find "$A" -exec touch -h -t $STAMP {} +

echo "making photos and videos"
for n in $(seq 1 96); do
  convert -seed "$n" -size $(( 400 + (n % 5) * 160 ))x$(( 300 + (n % 3) * 120 )) plasma:fractal \
    -quality 88 -strip "$SRC/photo/P$n.JPG"
done
for n in 1 2 3; do
  ffmpeg -v error -y -f lavfi -i "testsrc=duration=$((2 * n)):size=320x240:rate=25" -f lavfi \
    -i "sine=frequency=$((300 * n)):duration=$((2 * n))" -c:v mpeg4 -q:v 4 -c:a aac -b:a 64k \
    -fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1 "$SRC/video/V$n.MP4"
  ffmpeg -v error -y -f lavfi -i "testsrc2=duration=$((2 * n)):size=320x240:rate=25" -c:v mjpeg -q:v 5 \
    -fflags +bitexact -flags:v +bitexact -map_metadata -1 "$SRC/video/V$n.AVI"
done
for n in $(seq 1 64); do rnd "spacer$n" 65536 > "$SRC/fill/G$n.DAT"; done
rnd pool 67108864 > "$SRC/pool.bin"   # 64 MiB of random bytes the filler is cut from

find "$SRC" -exec touch -h -t $STAMP {} +

# ---- FAT32 volume ----
echo "making fat32-2g.img"
IMG=$W/fat32-2g.img
mkfs.fat -F 32 -s 8 -i 51C0FFEE -n QUORVEX -C "$IMG" $(( FAT_MIB * 1024 )) >/dev/null
export MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1
mc() { mcopy -m -i "$IMG" "$@"; }
mfrag() {  # mfrag BIG SPACERS...: fill with the spacers, delete every other, copy BIG into the holes
  local big=$1; shift; local del=()
  mc "$@" ::/
  local n=0; for f in "$@"; do n=$((n + 1)); (( n % 2 )) && del+=("::/$(basename "$f")"); done
  mdel -i "$IMG" "${del[@]}"
  mc "$big" ::/
}
mfrag "$A/FRAR.RAR" $(for n in $(seq 1 64); do echo "$A/SZ$n.ZIP"; done)           # around small ZIPs
mfrag "$A/F7Z.7Z" $(for n in $(seq 1 64); do echo "$SRC/photo/P$n.JPG"; done)      # around photos
mfrag "$A/FCAB.CAB" $(for n in $(seq 1 64); do echo "$A/SS$n.7Z"; done)            # around small 7Zs
mfrag "$A/FZIP.ZIP" $(for n in $(seq 1 64); do echo "$SRC/fill/G$n.DAT"; done)     # around unknown data
# Then the contiguous archives, with photos, videos and filler between them.
n=64
for f in "$A"/[ZSCR]*.{ZIP,7Z,CAB,RAR}; do
  case $(basename "$f") in SZ*|SS*) continue;; esac
  mc "$f" ::/
  n=$((n + 1)); [[ -f $SRC/photo/P$n.JPG ]] && mc "$SRC/photo/P$n.JPG" ::/
done
mc "$SRC"/video/* ::/
# Random filler up to about 90 % of the volume, in files of 64 MiB.
free_kib=$(( FAT_MIB * 1024 * 9 / 10 - $(du -sk "$A" | cut -f1) ))
k=0
while (( free_kib > 70000 )); do
  k=$((k + 1)); mc "$SRC/pool.bin" "::/FILL$k.BIN"; free_kib=$((free_kib - 65536))
done
# Delete every archive (the files the rescue is for); photos, videos and filler stay.
mdel -i "$IMG" $(mdir -b -i "$IMG" ::/ | grep -E '\.(ZIP|7Z|CAB|RAR)$' | sed 's|^::/|::/|')
mkdir -p "$W/truth/fat32-2g"
for f in "$A"/*; do cp "$f" "$W/truth/fat32-2g/"; done

# ---- raw images (no file system) ----
python3 - "$W" "$SRC" "$RAW_GIBS" <<'PY'
import os, sys, shutil
w, src, gibs = sys.argv[1], sys.argv[2], [int(x) for x in sys.argv[3].split()]
pool = open(os.path.join(src, "pool.bin"), "rb").read()
arcs = sorted(os.path.join(src, "arc", f) for f in os.listdir(os.path.join(src, "arc")))
photos = sorted(os.path.join(src, "photo", f) for f in os.listdir(os.path.join(src, "photo")))[:32]
items = [open(p, "rb").read() for p in arcs + photos]
# Interleave archives and photos in a fixed order.
order = list(range(len(items)))
order.sort(key=lambda i: (i * 7919) % len(items))
for g in gibs:
    size = g << 30
    path = os.path.join(w, f"raw-{g}g.img")
    state = 12345
    with open(path, "wb") as out:
        pos = 0
        def filler(n):
            global pos, state
            while n > 0:
                state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
                off = (state >> 20) % (len(pool) - 1)
                take = min(n, len(pool) - off)
                out.write(pool[off:off + take]); pos += take; n -= take
        per_gib = (1 << 30)
        for rep in range(g):
            end = (rep + 1) * per_gib
            for i in order:
                # a gap of 1 to 2048 sectors of random bytes, the item at the next sector boundary
                state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
                filler(((state >> 33) % 2048 + 1) * 512)
                out.write(items[i]); pos += len(items[i])
                filler((-pos) % 512)
            filler(end - pos)
    print("made", path)
PY
for g in $RAW_GIBS; do
  mkdir -p "$W/truth/raw-${g}g"; cp "$A"/* "$W/truth/raw-${g}g/"
done
echo "$MARK" > "$W/corpus.done"
echo "corpus ready in $W"
