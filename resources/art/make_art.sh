#!/bin/sh
# Draws the program's pictures from scratch with ImageMagick (Debian package
# imagemagick) and the DejaVu fonts (fonts-dejavu-core):
#   banner.jpg            276 x 162, the banner of the main and About windows
#   banner@2x.jpg         552 x 324, the same banner for screens scaled by 1.5
#                         or more (Qt picks it by the @2x name)
#   ../icons/<n>.png      the application icon at 16 ... 256 pixels, rendered
#                         from the hand-written ../icons/tarnwickley.svg
# Run it from anywhere; it rewrites the files in place. The results are
# committed, so a build never needs ImageMagick.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
icons="$here/../icons"
fonts=/usr/share/fonts/truetype/dejavu
bold="$fonts/DejaVuSans-Bold.ttf"
book="$fonts/DejaVuSans.ttf"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# ---- banner: drawn at twice the size, then scaled down for smooth edges ----
W=552; H=324; HORIZON=170
convert -size ${W}x${H} xc:white \
  \( -size ${W}x${HORIZON} gradient:'#bfdcf5'-'#eef6fc' \) -geometry +0+0 -composite \
  \( -size ${W}x$((H - HORIZON)) gradient:'#a9d38a'-'#6fae57' \) -geometry +0+${HORIZON} -composite \
  "$tmp/ground.png"

convert "$tmp/ground.png" \
  -fill '#93c47d' -stroke none \
  -draw "path 'M 0,${HORIZON} C 90,138 190,150 270,${HORIZON} Z'" \
  -draw "path 'M 250,${HORIZON} C 340,128 450,140 552,${HORIZON} Z'" \
  -fill '#5b5f66' \
  -draw "path 'M 150,324 C 230,270 300,250 360,226 C 420,202 452,186 470,${HORIZON} L 478,${HORIZON} C 470,190 460,210 440,232 C 410,262 400,290 420,324 Z'" \
  -fill none -stroke '#f4d35e' -strokewidth 3 -draw "stroke-dasharray 14 10 path 'M 286,324 C 310,280 360,250 400,228 C 440,206 466,188 474,${HORIZON}'" \
  -stroke none -fill '#d63b3b' \
  -draw "path 'M 474,96 C 456,96 446,110 446,124 C 446,142 466,156 474,${HORIZON} C 482,156 502,142 502,124 C 502,110 492,96 474,96 Z'" \
  -fill white -draw "circle 474,124 474,134" \
  "$tmp/scene.png"

convert "$tmp/scene.png" \
  -font "$bold" -pointsize 58 \
  -fill '#ffffff' -annotate +26+84 'Tarnwickley' \
  -fill '#12355b' -annotate +22+80 'Tarnwickley' \
  -font "$book" -pointsize 25 \
  -fill '#12355b' -annotate +26+122 'Directions for the iPod' \
  "$tmp/banner.png"
convert "$tmp/banner.png" -strip -sampling-factor 4:4:4 -quality 92 "$here/banner@2x.jpg"
convert "$tmp/banner.png" -resize 276x162 -strip -sampling-factor 4:4:4 -quality 92 "$here/banner.jpg"

# ---- icon: the SVG rendered at each size the program and the desktop use ----
for size in 16 32 48 64 128 256; do
  convert -background none -density 288 "$icons/tarnwickley.svg" \
    -resize ${size}x${size} -strip PNG32:"$icons/$size.png"
done

# ---- the same icon for Windows (program file and window icon) ----
convert "$icons/16.png" "$icons/32.png" "$icons/48.png" "$icons/256.png" "$icons/tarnwickley.ico"
