#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 600), one job
# at a time, on seed corpora made from the test fixtures. Crashes land in build-fuzz/findings/.
#   fuzz/run-fuzzers.sh [SECONDS] [TARGET...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
build=${QUORVEX_FUZZ_BUILD:-$top/build-fuzz}
CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_FUZZ=ON \
  -DQUORVEX_GUI=OFF -DQUORVEX_TESTS=OFF -DQUORVEX_BENCH=OFF >/dev/null
cmake --build "$build" -j "${QUORVEX_FUZZ_BUILD_JOBS:-2}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_identify fuzz_walks fuzz_free_space fuzz_thumbs)
data=$top/tests/data

# The type code a fixture's first sector is expected to carry, from its name; empty for
# fixtures that are not a walk's candidate (file-system images, boot records).
walk_code() {
  local f=$1 name
  name=$(basename "$f")
  case $name in
    *.img|*.xz|*.boot|*.sh|*.md|*.tsv|*.txt|fat_dir.bin|ntfs_*.bin|gif.bin|mp3_id3.bin) return ;;
  esac
  case $name in
    *.rar) if [ "$(head -c 7 "$f" | od -An -tx1 | tr -d ' \n')" = 526172211a0701 ]; then echo 36; else echo 15; fi ;;
    *.jpg|jpeg.bin) if [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' \n')" = ffd8ffe0 ] ||
                       [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' \n')" = ffd8ffe1 ]; then echo 1; else echo 2; fi ;;
    *.zip|zip.bin) echo 16 ;;
    office_zip.bin|*.docx|*.xlsx) echo 21 ;;
    cdr_zip.bin) echo 28 ;;
    *.cab|cab.bin) echo 17 ;;
    *.7z|7z.bin) echo 18 ;;
    *.msi|*.doc|*.xls) echo 5 ;;
    *.bmp|bmp.bin) echo 4 ;;
    *.png|png.bin) echo 9 ;;
    *.tif|tiff_*.bin) echo 14 ;;
    *.avi|avi.bin) echo 7 ;;
    *.wav|wav.bin) echo 10 ;;
    *.wmv|*.asf|asf.bin) echo 13 ;;
    *.mp4|mp4.bin) echo 19 ;;
    *.3gp|3gp.bin) echo 23 ;;
    *.mov|mov.bin) echo 24 ;;
    *.pdf) echo 22 ;;
    *.mpg|mpeg*_ps.bin) echo 31 ;;
    *.m2ts|*.ts|ts188.bin|ts192.bin) echo 33 ;;
  esac
}

make_corpus() {
  local t=$1 corpus=$2 i=0 f code
  case $t in
    fuzz_identify)
      # Every fixture's first sector, and every sector of the single-sector fixtures.
      while IFS= read -r -d '' f; do
        head -c 4096 "$f" > "$corpus/seed_$i"; i=$((i + 1))
      done < <(find "$data" -type f ! -name '*.sh' ! -name '*.md' ! -name '*.tsv' ! -name '*.xz' -print0)
      ;;
    fuzz_walks)
      # A seed per fixture: the selector byte is its type code, then cluster size 1 and no
      # sectors taken beforehand, then the fixture.
      while IFS= read -r -d '' f; do
        code=$(walk_code "$f")
        [ -n "$code" ] || continue
        { printf "\\x$(printf %02x "$code")"; printf '\x00\x00\x00\x00\x00\x00\x00\x00\x00'; head -c 1048000 "$f"; } \
          > "$corpus/seed_${code}_$i"
        i=$((i + 1))
      done < <(find "$data" -type f -size -2M -print0)
      ;;
    fuzz_free_space)
      # Boot records and whole small file-system images.
      find "$data" -type f -name '*.boot' -exec cp {} "$corpus/" \;
      while IFS= read -r -d '' f; do
        xz -dc "$f" | head -c 1048576 > "$corpus/$(basename "$f" .xz)" || true
      done < <(find "$data" -type f -name '*.img.xz' -print0)
      for f in "$data"/*/fat_e2e.img; do cp "$f" "$corpus/$(basename "$(dirname "$f")")_fat_e2e.img"; done
      ;;
    fuzz_thumbs)
      printf '4000\n' > "$corpus/limit"
      printf '160x120\n320*240\n; comment\n19200\n' > "$corpus/list"
      printf '  640x480 ;vga\r\n1x\r\n' > "$corpus/invalid"
      printf -- '-2147483648\n2147483647*2\n' > "$corpus/edges"
      ;;
  esac
}

mkdir -p "$build/findings"
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  mkdir -p "$corpus"
  [ -n "$(ls -A "$corpus")" ] || make_corpus "$t" "$corpus"
  max_len=1048576
  echo "== $t for ${seconds}s =="
  (cd "$build/findings" && "$build/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 \
     -max_len="$max_len" -timeout=20 -rss_limit_mb=3072 -artifact_prefix="$build/findings/$t-" "$corpus" 2>&1 |
     grep -E '^(#[0-9]+ +DONE|stat::|==[0-9]+==|SUMMARY|artifact_prefix|Test unit written|Done )' || true)
done
