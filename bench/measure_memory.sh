#!/usr/bin/env bash
# Peak memory of rendering natively, as the page count grows: builds
# bench/render_memory.cpp with the renderer's sources (optimised, no
# sanitizers, which would swamp the figures), writes spool files of 500 and
# 5,000 mixed pages and of 4 and 40 pages of one 4000 x 4000 image each, and
# renders each one as a print job does. The peak must not grow with the
# number of pages.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -O2 -DNDEBUG -std=c++17 -I"$root" "$root/bench/render_memory.cpp" "$root/tests/spool_builder.cpp" \
    "$root/render/page_renderer.cpp" "$root/render/readable_text.cpp" "$root/render/bitmap_surface.cpp" \
    "$root/render/mono_font.cpp" "$root/spool/spool_stream.cpp" "$root/spool/spool_records.cpp" -o "$work/render_memory"
"$work/render_memory" write "$work/mixed500.PDB" pages 500
"$work/render_memory" write "$work/mixed5000.PDB" pages 5000
"$work/render_memory" write "$work/big4.PDB" big 4
"$work/render_memory" write "$work/big40.PDB" big 40
for file in mixed500 mixed5000 big4 big40; do
    /usr/bin/time -f "$file: %e s, peak resident %M kB" "$work/render_memory" render "$work/$file.PDB"
done
