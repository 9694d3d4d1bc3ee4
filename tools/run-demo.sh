#!/usr/bin/env bash
# Installs what is missing, builds, and rescues the demo image into ./demo-rescued.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target quorvex
out=${1:-$top/demo-rescued}
mkdir -p "$out"
build/release/cli/quorvex rescue demo/demo.img --out "$out" --report "$out/report.xml"
echo "rescued archives are in $out"
ls -l "$out"
