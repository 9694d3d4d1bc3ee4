#!/usr/bin/env bash
# Quorvex against the raw read and the carvers people use today, on the same page-cached images.
#
#   bench/peers/run.sh [WORK]        (WORK defaults to /tmp/quorvex-perf)
#
# Builds the corpus (make_corpus.sh), then for fat32-2g.img and raw-1g.img runs side by side
#   dd bs=64k of=/dev/null              the sequential read, the limit
#   quorvex rescue (default types)      rar, zip, 7z
#   quorvex rescue --types rar,zip,7z,cab
#   photorec /cmd ... (zip rar 7z cab enabled, everything else disabled), as it chooses its
#                                       block size, and again with blocksize,512 (every sector)
#   foremost -t zip,rar -c foremost.conf (7z, cab)
#   scalpel -c scalpel.conf (zip, rar, 7z, cab)
# each REPEAT times (default 3; the best wall time is kept), and prints a table of wall time,
# ratio to the read, peak memory (/usr/bin/time), archives recovered byte-identical, recovered
# broken, and files written that are no archive of the truth. Then the scaling table: the rescue
# with all four types on raw-1g, raw-2g and raw-4g next to the map size (sectors / 8 bytes).
#
# Needs (Debian): dosfstools mtools zip 7zip gcab imagemagick ffmpeg openssl python3 time
#                 testdisk foremost scalpel, and a Release build of quorvex:
#   cmake -S . -B build-perf -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEX_GUI=OFF -DQUORVEX_TESTS=OFF
#   ninja -C build-perf quorvex
# QUORVEX=/path/to/quorvex overrides the binary; REPEAT, IMAGES and SCALE override the lists.
set -euo pipefail
export LC_ALL=C
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
W=${1:-/tmp/quorvex-perf}
REPEAT=${REPEAT:-3}
IMAGES=${IMAGES:-"fat32-2g raw-1g"}
SCALE=${SCALE:-"raw-1g raw-2g raw-4g"}
QV=${QUORVEX:-}
if [[ -z $QV ]]; then
  for c in "$REPO/build-perf/cli/quorvex" "$REPO/build/cli/quorvex"; do [[ -x $c ]] && { QV=$c; break; }; done
fi
[[ -x ${QV:-} ]] || { echo "no quorvex binary: build it (see the top of this script) or set QUORVEX" >&2; exit 2; }
for t in mkfs.fat mcopy zip 7zz gcab convert ffmpeg openssl python3 photorec foremost scalpel /usr/bin/time; do
  command -v "$t" >/dev/null || { echo "missing tool: $t" >&2; exit 2; }
done

"$HERE/make_corpus.sh" "$W"
OUT=$W/out
mkdir -p "$OUT"

# run_tool NAME IMAGE: one run into a fresh $OUT/NAME; leaves "wall_s peak_kib" in $OUT/NAME.time
run_tool() {
  local name=$1 img=$W/$2.img d=$OUT/$1
  rm -rf "$d"; mkdir -p "$d"
  sync   # the previous run's written files go to the disk outside the timing
  local cmd
  case $name in
    dd)        cmd=(dd if="$img" of=/dev/null bs=64k status=none) ;;
    quorvex)   mkdir -p "$d/files"; cmd=("$QV" rescue "$img" --out "$d/files" --quiet) ;;
    quorvex4)  mkdir -p "$d/files"; cmd=("$QV" rescue "$img" --out "$d/files" --quiet --types rar,zip,7z,cab) ;;
    photorec)  mkdir -p "$d/files"; cmd=(photorec /log /d "$d/files/recup" /cmd "$img"
                 partition_none,options,paranoid,fileopt,everything,disable,zip,enable,rar,enable,7z,enable,cab,enable,search) ;;
    photorec512) mkdir -p "$d/files"; cmd=(photorec /log /d "$d/files/recup" /cmd "$img"
                 partition_none,options,paranoid,fileopt,everything,disable,zip,enable,rar,enable,7z,enable,cab,enable,blocksize,512,search) ;;
    foremost)  cmd=(foremost -Q -t zip,rar -c "$HERE/foremost.conf" -i "$img" -o "$d/files") ;;
    scalpel)   cmd=(scalpel -c "$HERE/scalpel.conf" -o "$d/files" "$img") ;;
  esac
  (cd "$d" && /usr/bin/time -f "%e %M" -o "$d/time" "${cmd[@]}" >"$d/stdout" 2>"$d/stderr") ||
    echo "  ($name on $2 exited non-zero; see $d/stderr)" >&2
}

# best NAME IMAGE: REPEAT runs, keeps the best wall time (and that run's peak memory)
best() {
  local name=$1 image=$2 b_wall="" b_mem="" wall mem
  for _ in $(seq 1 "$REPEAT"); do
    run_tool "$name" "$image"
    read -r wall mem < "$OUT/$name/time"
    if [[ -z $b_wall ]] || awk -v a="$wall" -v b="$b_wall" 'BEGIN{exit !(a < b)}'; then b_wall=$wall; b_mem=$mem; fi
  done
  echo "$b_wall $b_mem"
}

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo
echo "machine: $(nproc) cores, load average at start $(load); quorvex: $QV"
declare -A TRUTH_N
for image in $IMAGES; do
  img=$W/$image.img
  truth=$W/truth/$image
  n_truth=$(ls "$truth" | wc -l); n_frag=$(ls "$truth" | grep -c '^F' || true)
  cat "$img" > /dev/null   # into the page cache
  echo
  echo "== $image: $(( $(stat -c %s "$img") >> 20 )) MiB, $n_truth original archives ($n_frag fragmented by the file system on the FAT image), best of $REPEAT =="
  printf '%-10s %9s %8s %10s %10s %8s %7s %7s\n' tool wall_s x_read peak_MiB identical frag_id broken other
  read_wall=""
  for tool in dd quorvex quorvex4 photorec photorec512 foremost scalpel; do
    read -r wall mem < <(best "$tool" "$image")
    [[ -z $read_wall ]] && read_wall=$wall
    ratio=$(awk -v a="$wall" -v b="$read_wall" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}')
    if [[ $tool == dd ]]; then
      id=- br=- ot=- fr=-
    else
      read -r id br ot fr < <(python3 "$HERE/score.py" "$OUT/$tool/files" "$truth")
    fi
    printf '%-10s %9s %8s %10s %10s %8s %7s %7s\n' "$tool" "$wall" "$ratio" "$(( mem / 1024 ))" "$id" "$fr" "$br" "$ot"
    rm -rf "$OUT/$tool/files"   # scored: give the disk and the page cache back to the images
  done
  echo "(load average now $(load))"
done

echo
echo "== scaling: quorvex rescue --types rar,zip,7z,cab, best of $REPEAT =="
printf '%-10s %9s %10s %9s %9s %11s %10s %9s\n' image MiB sectors map_KiB wall_s ns_sector MiB_s peak_MiB
for image in $SCALE; do
  img=$W/$image.img
  [[ -f $img ]] || continue
  bytes=$(stat -c %s "$img"); sectors=$(( bytes / 512 ))
  cat "$img" > /dev/null
  read -r wall mem < <(best quorvex4 "$image")
  awk -v b="$bytes" -v s="$sectors" -v w="$wall" -v m="$mem" -v n="$image" 'BEGIN{
    printf "%-10s %9d %10d %9d %9.2f %11.1f %10.0f %9.1f\n", n, b / 1048576, s, s / 8 / 1024, w,
      (s ? w * 1e9 / s : 0), (w > 0 ? b / 1048576 / w : 0), m / 1024}'
done
echo "(load average at the end $(load))"
