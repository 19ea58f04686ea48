#!/usr/bin/env bash
# Renders the application icon (data/desktop/icons/org.orrery.Orrery.svg) to the hicolor sizes
# that are committed beside it. Run after changing the drawing; needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/desktop/icons"
command -v rsvg-convert >/dev/null || { echo "missing rsvg-convert: apt-get install librsvg2-bin" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256 512; do
  rsvg-convert -w "$size" -h "$size" org.orrery.Orrery.svg -o "org.orrery.Orrery-$size.png"
done
