#!/usr/bin/env bash
# Lays out the program folder that users unzip and run:
#   layout.sh WINBUILD [FOLDER]   (FOLDER defaults to WINBUILD/Qimbo)
# An existing folder is brought up to date: the program and the shipped files
# are replaced, the user's favorites, configuration and current skin stay.
# Qimbo.exe, data\, config\MyConfig.ini, skin\ with the current skin, its
# first-run marker and the shipped skins, images\icon\ieicon\, head\, the
# script folders, offline-page\ and the compiled help file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=$(cd "$1" && pwd)
out=${2:-$win/Qimbo}
[ -f "$win/Qimbo.exe" ] || { echo "layout: no $win/Qimbo.exe" >&2; exit 1; }
mkdir -p "$out"/{data,config,skin,images/icon/ieicon,head,offline-page} "$out"/script/{url,url_dir,lnk,lnk_dir}
cp "$win/Qimbo.exe" "$out/"
# The input hook library beside the program, which loads it when it needs it.
[ -f "$win/Movrec.dll" ] && cp "$win/Movrec.dll" "$out/"

# The art: cached beside the build, drawn again when the drawing script changes.
art=$win/folder-art
stamp=$art/.stamp-$(md5sum "$root/scripts/make-art.sh" | cut -c1-8)
if [ ! -f "$stamp" ]; then
  rm -rf "$art"
  "$root/scripts/make-art.sh" --folder "$art" >/dev/null
  touch "$stamp"
fi
cp -r "$art/." "$out/"
rm -f "$out"/.stamp-*

# Configuration with its defaults: six CRLF lines, the last without a line end.
[ -f "$out/config/MyConfig.ini" ] || printf '[HOTKEY]\r\nFavoriteKey=Ctrl+S\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=Ctrl+Enter\r\n[END]' >"$out/config/MyConfig.ini"

# Skin databases: the current skin is the shipped "汽车Qimbo"; the first-run
# marker makes the first start point its image paths into that folder.
fresh=0
[ -f "$out/skin/MySkin.db" ] || [ -f "$out/skin/SecondRun.txt" ] || fresh=1
keep=$(mktemp)
[ -f "$out/skin/MySkin.db" ] && cp "$out/skin/MySkin.db" "$keep"
python3 "$root/scripts/make-skin-db.py" "$out/skin"
if [ "$fresh" = 1 ]; then : >"$out/skin/FirstRun.txt"; else cp "$keep" "$out/skin/MySkin.db"; fi
rm -f "$keep"

# The banner page, in GBK as the program's pages are.
iconv -f UTF-8 -t GBK >"$out/head/Head.htm" <<'HTML'
<html><head><meta http-equiv="Content-Type" content="text/html; charset=gb2312">
<title>Qimbo收藏 · 一点即达，处处随身</title></head>
<body style="margin:0;background:#2f5f9f;color:white;font:bold 16px SimSun">
<div style="padding:10px">Qimbo收藏 · 一点即达，处处随身</div></body></html>
HTML

# The help file, when the CHM compiler is installed.
if command -v chmcmd >/dev/null; then
  tmp=$(mktemp -d)
  cp "$root"/res/help/* "$tmp/"
  (cd "$tmp" && chmcmd QimboHelp.hhp >/dev/null 2>&1) && cp "$tmp/QimboHelp.chm" "$out/QimboHelp.chm"
  rm -rf "$tmp"
fi
[ -f "$out/QimboHelp.chm" ] || echo "layout: chmcmd (fp-utils) missing, no QimboHelp.chm" >&2
echo "layout: $out"
