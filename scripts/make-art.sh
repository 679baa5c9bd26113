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

# The script recorder's buttons, 189 to 198.
icon rec '#d82020' '●' white          # 189: start recording
icon recstop '#2a58d8' '■' white      # 190: stop recording
icon play '#2a9a3a' '▶' white         # 191: play the script
icon trail '#f0f0f0' '~' '#203060'    # 192: mouse trail
icon trailoff '#c0c0c0' '-' '#606060' # 193: mouse trail off
icon reconair '#ff8080' '●' '#a01010' # 194: recording in progress
icon playing '#80d080' '▶' '#205020'  # 195: playing
icon open '#f0c040' 'O' '#402000'     # 196: open another script
icon saveas '#8080d0' 'S' white       # 197: save as
icon playstop '#404040' '■' white     # 198: stop playing

# 12x12 bitmaps for the "_" and "X" buttons, at rest and hovered.
bmp() {
  local name=$1 bg=$2 ink=$3 draw=$4
  convert -size 12x12 xc:"$bg" -stroke "$ink" -strokewidth 2 -draw "$draw" -type TrueColor BMP3:"$art/$name.bmp"
}
bmp min '#c8d8f0' '#203060' 'line 2,9 9,9'
bmp close '#c8d8f0' '#a01010' 'line 2,2 9,9 line 9,2 2,9'
bmp min_hot '#ffeac0' '#203060' 'line 2,9 9,9'
bmp close_hot '#ffeac0' '#e01010' 'line 2,2 9,9 line 9,2 2,9'

# The pictures of the panels' menus: 16x16 each on magenta (transparent), in
# the order of src/panels/menu_images_win32.h, joined into one strip.
mimg() {
  local name=$1; shift
  convert -size 16x16 xc:'#ff00ff' +antialias -strokewidth 1 "$@" -type TrueColor "$tmp/m-$name.png"
  strip+=("$tmp/m-$name.png")
}
strip=()
# Open in a new window: a window with a blue title bar and an arrow out of it.
mimg newwin -fill white -stroke '#203060' -draw 'rectangle 1,3 11,13' -fill '#2a78d8' -draw 'rectangle 1,3 11,5' \
  -stroke '#d8402a' -strokewidth 2 -draw 'line 8,10 14,2' -strokewidth 1 -draw 'polyline 10,2 14,2 14,6'
# Offline page: a sheet with a folded corner and lines.
mimg offline -fill white -stroke '#404040' -draw 'polygon 3,1 10,1 13,4 13,14 3,14' -fill '#c0c0c0' \
  -draw 'polygon 10,1 10,4 13,4' -stroke '#2a78d8' -draw 'line 5,7 11,7 line 5,9 11,9 line 5,11 9,11'
# Circle: three heads around a ring.
mimg circle -fill none -stroke '#2aa05a' -strokewidth 2 -draw 'circle 8,8 8,3' -strokewidth 1 -stroke '#104020' \
  -fill '#f0b020' -draw 'circle 8,3 8,1 circle 3,11 3,9 circle 13,11 13,9'
# Modify: a pencil.
mimg modify -fill '#f0b020' -stroke '#604000' -draw 'polygon 11,1 14,4 6,12 3,9' -fill '#ffd0a0' \
  -draw 'polygon 3,9 6,12 2,14 1,13' -fill '#d8402a' -draw 'polygon 11,1 14,4 13,5 10,2'
# Delete: a red cross.
mimg delete -stroke '#d01010' -strokewidth 3 -draw 'line 3,3 12,12 line 12,3 3,12'
# Refresh the icon: a green round arrow.
mimg refresh -fill none -stroke '#2aa05a' -strokewidth 2 -draw 'arc 2,2 13,13 30,300' -strokewidth 1 \
  -fill '#2aa05a' -draw 'polygon 9,1 14,3 10,6'
# Record a script: a red dot in a dark ring.
mimg record -fill '#202020' -stroke '#202020' -draw 'circle 8,8 8,1' -fill '#e02020' -stroke none -draw 'circle 8,8 8,4'
# New category: a folder with a green plus.
mimg newcat -fill '#f0c040' -stroke '#806010' -draw 'polygon 1,4 6,4 7,5 13,5 13,13 1,13' \
  -stroke '#1a8a3a' -strokewidth 2 -draw 'line 11,7 11,14 line 8,11 15,11'
# Rename: a text cursor beside a letter.
mimg rename -fill white -stroke '#404040' -draw 'rectangle 0,4 15,12' -stroke '#203060' \
  -draw 'line 2,10 4,5 line 4,5 6,10 line 3,8 5,8' -stroke '#d8402a' -draw 'line 9,3 9,13 line 8,3 10,3 line 8,13 10,13'
# Export: a folder with a blue arrow leaving it.
mimg export -fill '#f0c040' -stroke '#806010' -draw 'polygon 1,5 5,5 6,6 11,6 11,14 1,14' \
  -stroke '#2a78d8' -strokewidth 2 -draw 'line 6,10 13,3' -strokewidth 1 -draw 'polyline 9,2 14,2 14,7'
# Import: a folder with a blue arrow coming in.
mimg import -fill '#f0c040' -stroke '#806010' -draw 'polygon 1,5 5,5 6,6 11,6 11,14 1,14' \
  -stroke '#2a78d8' -strokewidth 2 -draw 'line 14,1 7,8' -strokewidth 1 -draw 'polyline 6,4 6,9 11,9'
# Open all: three stacked windows.
mimg openall -fill white -stroke '#203060' -draw 'rectangle 5,1 15,8' -draw 'rectangle 3,4 13,11' \
  -draw 'rectangle 1,7 11,14' -fill '#2a78d8' -draw 'rectangle 1,7 11,8'
# Search: a magnifier.
mimg search -fill '#c8e0ff' -stroke '#203060' -strokewidth 2 -draw 'circle 6,6 6,2' \
  -stroke '#604000' -strokewidth 3 -draw 'line 10,10 14,14'
# Leave the circle: the ring with a red bar.
mimg leave -fill none -stroke '#2aa05a' -strokewidth 2 -draw 'circle 8,8 8,3' \
  -stroke '#d01010' -strokewidth 3 -draw 'line 3,8 13,8'
convert "${strip[@]}" +append -type TrueColor BMP3:"$art/menu_images.bmp"

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
