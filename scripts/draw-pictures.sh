#!/bin/sh
# Renders the hand-written SVG pictures in scripts/pictures into resources/ at their point
# size (name.png) and at twice that (name@2x.png). Rerun after editing an SVG:
#   scripts/draw-pictures.sh
# Needs rsvg-convert (Debian package librsvg2-bin).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/../resources"
for svg in "$here"/pictures/*.svg; do
  name=$(basename "$svg" .svg)
  rsvg-convert --zoom 1 -o "$out/$name.png" "$svg"
  rsvg-convert --zoom 2 -o "$out/$name@2x.png" "$svg"
done
