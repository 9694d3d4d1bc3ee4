#!/usr/bin/env bash
# Screenshots of the windows for the documentation, taken under Xvfb in the three
# languages: the main window collapsed, expanded with demo/demo.img open, and the search
# and recovery windows during a rescue of the demo image. Writes docs/screenshots/*.png.
# Usage: tools/screenshots.sh [BUILD_DIR]   (default: build-screenshots)
# Needs (Debian 12): xvfb, xauth, fonts-wqy-zenhei (the Chinese texts), qt6-base-dev.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-screenshots}
out=$here/docs/screenshots

missing=()
command -v xvfb-run >/dev/null || missing+=(xvfb)
command -v xauth >/dev/null || missing+=(xauth)
fc-list 2>/dev/null | grep -qi "wenquanyi zen hei" || missing+=(fonts-wqy-zenhei)
if ((${#missing[@]})); then
  if [[ $(id -u) -eq 0 ]]; then apt-get install -y --no-install-recommends "${missing[@]}"
  else sudo apt-get install -y --no-install-recommends "${missing[@]}"; fi
fi

cmake -S "$here" -B "$build" -G Ninja -DQUORVEX_GUI=ON -DQUORVEX_TESTS=ON \
  -DQUORVEX_BENCH=OFF >/dev/null
cmake --build "$build" --target quorvex-gui-shots -j2
shots=$(find "$build" -type f -name quorvex-gui-shots -perm -u+x | head -n 1)

mkdir -p "$out"
# The program picks its text variant from the locale's name alone.
for pair in "C:en" "zh_CN.UTF-8:zh_CN" "zh_TW.UTF-8:zh_TW"; do
  locale=${pair%%:*}
  tag=${pair##*:}
  env -u LC_ALL -u LC_MESSAGES LANG="$locale" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x800x24" "$shots" "$out" "$tag"
done
ls -1 "$out"
