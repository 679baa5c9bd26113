#!/usr/bin/env bash
# Makes the Wine prefix once: Chinese fonts mapped so the program's captions
# and dialogs render as they do on a Chinese Windows.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
stamp=$WINEPREFIX/.qimbo-ready-$(md5sum "$0" | cut -c1-8)
[ -f "$stamp" ] && exit 0
mkdir -p "$WINEPREFIX"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$stamp" ] && exit 0
echo "wine-prefix: creating $WINEPREFIX"
DISPLAY= wineboot -i >/dev/null 2>&1 || true
font=$(fc-match -f '%{file}' 'WenQuanYi Micro Hei' 2>/dev/null || true)
reg=$(mktemp --suffix=.reg)
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
  for f in 'MS Shell Dlg' 'MS Shell Dlg 2' 'SimSun' '宋体' 'NSimSun' '新宋体' 'SimHei' '黑体' 'Microsoft YaHei' '微软雅黑' 'Tahoma' 'MS Sans Serif'; do
    printf '"%s"="WenQuanYi Micro Hei"\r\n' "$f"
  done
  printf '\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"FontSmoothing"="2"\r\n'
  # No window manager runs under Xvfb: Wine draws the captions and frames itself.
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n"Decorated"="N"\r\n'
} | iconv -f UTF-8 -t UTF-16 >"$reg"
DISPLAY= LC_ALL=C wine regedit "$reg" >/dev/null 2>&1 || true
rm -f "$reg"
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
[ -n "$font" ] && ln -sf "$font" "$WINEPREFIX/drive_c/windows/Fonts/$(basename "$font")"
# Wine's own symbol fonts draw the caption buttons and check marks.
for f in /usr/share/wine/fonts/{marlett,symbol,wingding,tahoma,tahomabd}.ttf; do
  [ -f "$f" ] && ln -sf "$f" "$WINEPREFIX/drive_c/windows/Fonts/$(basename "$f")"
done
wineserver -w || true
# Where the Linux home has no XDG folders, Wine links the profile's Desktop,
# Documents and the like to the home folder itself: the program would list
# the home's files as the desktop. The prefix gets real, empty folders, and
# the Chinese profile folders the program folder is built from.
for d in "$WINEPREFIX"/drive_c/users/*/; do
  for f in Desktop Documents Downloads Music Pictures Videos Templates; do
    if [ -L "$d$f" ]; then rm -f "$d$f" && mkdir -p "$d$f"; fi
  done
done
"$(dirname "$0")/wine-profile.sh"
touch "$stamp"
