#!/usr/bin/env bash
# Turns the BMP pictures that the Windows window tests leave into PNG files
# beside them, for review. Usage: scripts/wine-screenshots.sh <folder>
set -euo pipefail
folder=$1
command -v convert >/dev/null || { echo "wine-screenshots: SKIPPED: no convert (imagemagick)"; exit 0; }
shopt -s nullglob
for bmp in "$folder"/*.bmp; do
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
