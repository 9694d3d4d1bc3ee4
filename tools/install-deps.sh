#!/usr/bin/env bash
# Installs the Debian 12 packages Quorvex needs to build and test, skipping those present.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libjpeg62-turbo-dev libblkid-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zip unzip 7zip gcab cabextract unar libarchive-tools
  dosfstools mtools ntfs-3g exfatprogs exfat-fuse xz-utils
  imagemagick ffmpeg python3 time
  xvfb xauth desktop-file-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
