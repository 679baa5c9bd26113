#!/usr/bin/env bash
# Draws the program's pictures with ImageMagick.
#   make-art.sh               icons and bitmaps compiled into Qimbo.exe (res/art/,
#                             checked in; run again after changing them)
#   make-art.sh --folder DIR  the images of the program folder: default item icons,
#                             chat banner, the backgrounds of the shipped skins
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
art=$root/res/art
folder=
[ "${1:-}" = --folder ] && folder=$2
font=DejaVu-Sans-Bold
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

mkdir -p "$art"
# icon NAME FILL LETTER TEXTCOLOUR: a rounded square with a letter, 32 and 16 pixels.
icon() {
  local name=$1 fill=$2 letter=$3 ink=$4
  for s in 32 16; do
    local r=$((s / 5)) p=$((s * 3 / 4))
    convert -size ${s}x${s} xc:none -fill "$fill" -stroke '#202020' -strokewidth 1 \
      -draw "roundrectangle 0,0 $((s - 1)),$((s - 1)) $r,$r" \
      -stroke none -fill "$ink" -font $font -pointsize $p -gravity center \
      -annotate +0+0 "$letter" "$tmp/$name-$s.png"
  done
  convert "$tmp/$name-32.png" "$tmp/$name-16.png" "$art/$name.ico"
}
if [ -z "$folder" ]; then
icon qimbo '#d8402a' Q white       # 128: the frame icon
icon tray1 '#2a78d8' Q white       # 153: first tray and folder-button icon
icon tray2 '#f0b020' Q '#402000'   # 154: the program icon, second tray icon
icon help '#3a9a3a' '?' white      # 202: help button
icon plaza1 '#b03ad8' '!' white    # 207: plaza flash, first
icon plaza2 '#ffffff' '!' '#b03ad8' # 208: plaza flash, second

# 12x12 bitmaps for the "_" and "X" buttons, at rest and hovered.
bmp() {
  local name=$1 bg=$2 ink=$3 draw=$4
  convert -size 12x12 xc:"$bg" -stroke "$ink" -strokewidth 2 -draw "$draw" -type TrueColor BMP3:"$art/$name.bmp"
}
bmp min '#c8d8f0' '#203060' 'line 2,9 9,9'
bmp close '#c8d8f0' '#a01010' 'line 2,2 9,9 line 9,2 2,9'
bmp min_hot '#ffeac0' '#203060' 'line 2,9 9,9'
bmp close_hot '#ffeac0' '#e01010' 'line 2,2 9,9 line 9,2 2,9'

  echo "make-art: res/art done"
  exit 0
fi
mkdir -p "$folder/head" "$folder/images/icon/ieicon"

# Default item icons images\icon\ieicon\IE XP0.ico .. IE XP4.ico: a globe in five colours.
i=0
for c in '#2a78d8' '#2aa05a' '#d8782a' '#a02ad8' '#d82a5a'; do
  for s in 32 16; do
    convert -size ${s}x${s} xc:none -fill "$c" -stroke '#103050' -strokewidth 1 \
      -draw "circle $((s / 2)),$((s / 2)) $((s / 2)),1" -fill none -stroke '#ffffff' \
      -draw "ellipse $((s / 2)),$((s / 2)) $((s / 5)),$((s / 2 - 2)) 0,360" \
      -draw "line 2,$((s / 2)) $((s - 3)),$((s / 2))" "$tmp/ie-$s.png"
  done
  convert "$tmp/ie-32.png" "$tmp/ie-16.png" "$folder/images/icon/ieicon/IE XP$i.ico"
  i=$((i + 1))
done

# Banner picture of the chat window.
convert -size 300x60 gradient:'#fff4d0'-'#f0a040' -fill '#803000' -font $font -pointsize 26 \
  -gravity center -annotate +0+0 'Qimbo' -quality 90 "$folder/head/Chat_ad.jpg"

# skin NAME TOP BOTTOM ACCENT EXT: the five background images of one skin.
skin() {
  local name=$1 top=$2 bottom=$3 accent=$4 ext=$5
  local dir=$folder/skin/$name
  mkdir -p "$dir"
  local out
  out() { if [ "$ext" = jpg ]; then echo "-quality 88 $dir/$1.jpg"; else echo "-type TrueColor BMP3:$dir/$1.bmp"; fi; }
  # Area 0, the main window. A bitmap is copied unscaled, so it covers the
  # whole client area; a JPEG is stretched, so a smaller one decodes faster
  # at start-up and looks the same.
  if [ "$ext" = jpg ]; then local w=600 h=430; else local w=1040 h=760; fi
  convert -size ${w}x${h} gradient:"$top"-"$bottom" \
    -fill "$accent" -draw "rectangle 0,0 $w,$((h * 66 / 680))" \
    -fill none -stroke "$accent" -strokewidth 3 -draw "line 0,$((h * 590 / 680)) $w,$((h * 590 / 680))" \
    -stroke none -fill 'rgba(255,255,255,0.25)' \
    -draw "circle $((w * 760 / 900)),$((h * 560 / 680)) $((w * 860 / 900)),$((h * 640 / 680))" \
    $(out main)
  # The panels' images, by the same rule.
  local tw=240 th=400 uw=500 uh=420
  [ "$ext" = jpg ] || { tw=360; th=800; uw=900; uh=800; }
  convert -size ${tw}x${th} gradient:"$bottom"-"$top" $(out tab)
  convert -size ${uw}x${uh} gradient:"$top"-"$bottom" \
    -fill 'rgba(255,255,255,0.18)' -draw "circle $((uw * 84 / 100)),$((uh * 17 / 100)) $((uw * 96 / 100)),$((uh * 28 / 100))" $(out url)
  convert -size ${uw}x${uh} gradient:"$bottom"-"$top" $(out lnk)
  convert -size ${tw}x${th} gradient:"$top"-white $(out sel)
}
skin '汽车Qimbo' '#cfe3f7' '#7fa8d8' '#2f5f9f' jpg
skin '暖阳' '#f7e7cf' '#d89f6f' '#9f5f2f' bmp
echo "make-art: done"
