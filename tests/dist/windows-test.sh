#!/usr/bin/env bash
# The Windows installer the way a user meets it, under Wine in a fresh prefix
# of the test's own (a copy of the untouched base prefix) on a private Xvfb:
#   windows-test.sh SETUP.exe VERSION QIMBO-TOOL SHOTS [--pages]
# silent install; the Start menu shortcut's target exists and starts the
# program (screenshot); a second install is refused while it runs; a favorite,
# settings, a skin, a script and an offline page made in the installed folder
# survive an upgrade install; the uninstall entry's values; a silent uninstall
# removes the program, its shortcuts and its entry and keeps data\.
# --pages instead shows the installer's first pages and saves screenshots.
# Exits 77 (skipped) when there is no installer because makensis is missing.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../win/kit.sh"
setup=$1 version=$2 tool=$3 shots=$4 mode=${5:-}
if [ ! -f "$setup" ]; then
  command -v makensis >/dev/null || { echo "SKIP: makensis (Debian package nsis) is missing, no installer to test"; exit 77; }
  echo "FAILED: no installer at $setup (cmake --build WINBUILD --target qimbo_dist)"; exit 1
fi
mkdir -p "$shots"
kit_prefix || exit 1

kit_tmp
kit_at_exit 'WINEPREFIX=$tmp/pfx wineserver -k 2>/dev/null'

# A fresh prefix: the base one has never seen the installer.
cp -a "$WINEPREFIX" "$tmp/pfx" || { echo "FAILED: copying the Wine prefix"; exit 1; }
rm -f "$tmp/pfx/.update-timestamp.lock"
export WINEPREFIX=$tmp/pfx
# The desktop and Start menu folders of a Chinese Windows, which the program reads.
"$QIMBO_ROOT/scripts/wine-profile.sh"
# No menu entries for the desktop of the machine running the test.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
disp=:$(kit_free_display) || { echo "FAILED: no free X display"; exit 1; }
Xvfb "$disp" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
kit_track $!
export DISPLAY=$disp
for i in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

me=${USER:-$(id -un)}
profile=$WINEPREFIX/drive_c/users/$me
inst=$profile/AppData/Local/Programs/Qimbo
menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Qimbo收藏"
desktop=$profile/Desktop
# Waits (up to 30 s) until every program of the prefix has ended.
settle() { timeout 30 wineserver -w; }
# The text of a registry key of the user (user.reg, written when Wine's server ends).
regblock() {
  python3 -c 'import sys
t = open(sys.argv[1], encoding="utf-8", errors="replace").read()
i = t.find("[" + sys.argv[2].replace("\\", "\\\\") + "]")
print(t[i:t.find("\n\n", i)] if i >= 0 else "")' "$WINEPREFIX/user.reg" "$1"
}
cp "$setup" "$tmp/setup.exe"

if [ "$mode" = --pages ]; then
  # The installer's pages for a human look: welcome, components, folder.
  wine "$tmp/setup.exe" &
  for i in $(seq 1 60); do xdotool search --name "安装" >/dev/null 2>&1 && break; sleep 0.5; done
  sleep 1.5
  import -window root "$shots/installer-welcome.png"
  xdotool key Return; sleep 1.5
  import -window root "$shots/installer-components.png"
  xdotool key Return; sleep 1.5
  import -window root "$shots/installer-folder.png"
  wineserver -k
  echo "installer pages saved in $shots"
  exit 0
fi

# ---- silent install ----------------------------------------------------------
wine "$tmp/setup.exe" /S; rc=$?
settle
check "silent install exits 0 (got $rc)" [ "$rc" = 0 ]
for f in Qimbo.exe Movrec.dll uninstall.exe config/MyConfig.ini skin/MySkin.db skin/FirstRun.txt head/Head.htm; do
  [ -f "$inst/$f" ] || fail "installed folder lacks $f"
done
for d in data offline-page script/url script/lnk images/icon; do
  [ -d "$inst/$d" ] || fail "installed folder lacks $d\\"
done
check "program, library, uninstaller and shipped folders in %LOCALAPPDATA%\\Programs\\Qimbo" [ -f "$inst/Qimbo.exe" ]
check "desktop shortcut made" [ -f "$desktop/Qimbo收藏.lnk" ]
# The one version everywhere: the program's, the library's and the installer's
# version resources (Explorer's Properties), and the zip beside the installer.
check "Qimbo.exe's version resource" python3 "$here/versioninfo.py" "$inst/Qimbo.exe" "$version" "Qimbo收藏 网址"
check "Movrec.dll's version resource" python3 "$here/versioninfo.py" "$inst/Movrec.dll" "$version" "Qimbo收藏 脚本"
check "the installer's version resource" python3 "$here/versioninfo.py" "$setup" "$version" "Qimbo收藏 安装"
zip=${setup%-setup.exe}-portable.zip
check "Qimbo-$version-portable.zip beside it holds the same program folder" \
  python3 -c 'import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
sys.exit(not all(n in names for n in ("Qimbo/Qimbo.exe", "Qimbo/Movrec.dll", "Qimbo/config/MyConfig.ini", "Qimbo/data/")))' "$zip"
no_run_entry() { ! regblock 'Software\Microsoft\Windows\CurrentVersion\Run' | grep -q Qimbo; }
check "no start with Windows unless chosen" no_run_entry

# ---- the Start menu shortcut -------------------------------------------------
lnk="$menu/Qimbo收藏.lnk"
check "Start menu shortcut made" [ -f "$lnk" ]
# The shell link's target as written (its local base path, or a Unicode path).
target=$(python3 - "$lnk" <<'PY'
import re, sys
b = open(sys.argv[1], "rb").read()
for s in re.findall(rb"[A-Za-z]:\\[\x20-\x7e]*?Qimbo\.exe", b):
    print(s.decode()); break
else:
    for s in re.findall(rb"(?:[A-Za-z]\x00:\x00\\\x00)(?:[^\x00]\x00)*?Q\x00i\x00m\x00b\x00o\x00\.\x00e\x00x\x00e\x00", b):
        print(s.decode("utf-16-le")); break
PY
)
unix_target=$(echo "$target" | sed 's/^[Cc]:/drive_c/; s/\\/\//g')
check "the shortcut's target $target is the installed Qimbo.exe" [ "$WINEPREFIX/$unix_target" -ef "$inst/Qimbo.exe" ]
wine start "C:\\users\\$me\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Qimbo收藏\\Qimbo收藏.lnk"
started=0
for i in $(seq 1 60); do
  # The main window (a message box would be far narrower).
  xwininfo -root -tree 2>/dev/null | grep '"qimbo.exe"' | grep -qE ' (([6-9][0-9]{2})|([0-9]{4}))x[0-9]+\+' &&
    { started=1; break; }
  sleep 0.5
done
check "the shortcut starts the program (its main window appears)" [ "$started" = 1 ]
sleep 4
import -window root "$shots/installed-program.png" && ok "screenshot $shots/installed-program.png"
# The first start takes the shipped skin in the installed folder.
check "the program ran in the installed folder (skin\\FirstRun.txt became SecondRun.txt)" [ -f "$inst/skin/SecondRun.txt" ]
check "it kept its decoded skin pictures in images\\cache" [ -n "$(ls "$inst/images/cache" 2>/dev/null)" ]

# ---- refused while the program runs -----------------------------------------
wine "$tmp/setup.exe" /S; rc=$?
check "a silent install while Qimbo.exe runs is refused with exit code 2 (got $rc)" [ "$rc" = 2 ]
wineserver -k
settle

# ---- the user's things survive an upgrade install ---------------------------
printf '{"name":"常用","kind":0,"slot":0}\n{"name":"升级后还在","kind":1,"parent":"常用","slot":0,"address":"http://keep.example.com/"}\n' >"$tmp/fav.jsonl"
"$tool" fav make "$tmp/fav.jsonl" "$inst/data/1-我的收藏.sc" >/dev/null || fail "qimbo-tool fav make into the installed folder"
"$tool" fav dump "$inst/data/1-我的收藏.sc" >"$tmp/before.txt" 2>&1
printf '[HOTKEY]\r\nFavoriteKey=Ctrl+Q\r\n[END]' >"$inst/config/MyConfig.ini"
mkdir -p "$inst/skin/我的皮肤" && printf 'mine' >"$inst/skin/我的皮肤/MySkin.db"
printf 'current' >"$inst/skin/MySkin.db"
printf 'script' >"$inst/script/url/登录"
printf '<html>page</html>' >"$inst/offline-page/page.htm"
printf 'an older version' >"$inst/Qimbo.exe"
wine "$tmp/setup.exe" /S; rc=$?
settle
check "upgrade install over the running-free folder exits 0 (got $rc)" [ "$rc" = 0 ]
"$tool" fav dump "$inst/data/1-我的收藏.sc" >"$tmp/after.txt" 2>&1
check "the favorite added with qimbo-tool survives the upgrade" bash -c "grep -q '升级后还在' '$tmp/after.txt' && cmp -s '$tmp/before.txt' '$tmp/after.txt'"
check "settings kept" grep -q 'Ctrl+Q' "$inst/config/MyConfig.ini"
check "current skin kept" grep -qx current "$inst/skin/MySkin.db"
check "the user's own skin kept" [ -f "$inst/skin/我的皮肤/MySkin.db" ]
check "no new first-run marker over a used folder" [ ! -f "$inst/skin/FirstRun.txt" ]
check "script and offline page kept" [ -f "$inst/script/url/登录" -a -f "$inst/offline-page/page.htm" ]
check "the program itself replaced" [ "$(head -c2 "$inst/Qimbo.exe")" = MZ ]

# ---- the uninstall entry -----------------------------------------------------
settle
python3 - "$WINEPREFIX/user.reg" "$version" "C:\\users\\$me\\AppData\\Local\\Programs\\Qimbo" >"$tmp/entry.txt" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
key = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Qimbo]"
i = text.find(key)
if i < 0:
    print("no uninstall entry"); sys.exit(1)
block = text[i:text.find("\n\n", i)]
vals = {}
for m in re.finditer(r'^"([^"]+)"=(.*)$', block, re.M):
    v = m.group(2)
    if v.startswith('"'):
        # Wine's escapes: \\, \", and \x with up to four hex digits.
        v = re.sub(r'\\(x[0-9a-fA-F]{1,4}|.)',
                   lambda x: chr(int(x.group(1)[1:], 16)) if x.group(1)[0] == "x" and len(x.group(1)) > 1
                   else x.group(1), v[1:-1])
    vals[m.group(1)] = v
folder = sys.argv[3]
want = {"DisplayName": "Qimbo收藏", "DisplayVersion": sys.argv[2], "Publisher": "Qimbo",
        "DisplayIcon": folder + "\\Qimbo.exe,0", "InstallLocation": folder,
        "UninstallString": '"' + folder + '\\uninstall.exe"',
        "QuietUninstallString": '"' + folder + '\\uninstall.exe" /S'}
bad = 0
for k, w in want.items():
    if vals.get(k) != w:
        print(f"{k}: {vals.get(k)!r}, wanted {w!r}"); bad = 1
size = vals.get("EstimatedSize", "")
if not size.startswith("dword:") or int(size[6:], 16) < 500:
    print(f"EstimatedSize: {size!r}, wanted the folder's size in KB"); bad = 1
else:
    print(f"EstimatedSize {int(size[6:], 16)} KB")
sys.exit(bad)
PY
rc=$?
cat "$tmp/entry.txt"
check "uninstall entry: name, version, publisher, icon, folder, size, uninstall commands" [ "$rc" = 0 ]

# ---- silent uninstall --------------------------------------------------------
wine "$inst/uninstall.exe" /S
settle
for f in Qimbo.exe Movrec.dll uninstall.exe QimboHelp.chm head/Head.htm skin/汽车Qimbo/MySkin.db; do
  [ -e "$inst/$f" ] && fail "uninstall left $f"
done
check "uninstall removes the program files" [ ! -e "$inst/Qimbo.exe" -a ! -e "$inst/uninstall.exe" ]
check "uninstall removes the kept pictures" [ ! -e "$inst/images/cache" ]
check "uninstall removes the shortcuts" [ ! -e "$lnk" -a ! -e "$desktop/Qimbo收藏.lnk" ]
check "uninstall removes its entry" [ -z "$(regblock 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Qimbo')" ]
check "uninstall keeps data\\ (the favorites file)" [ -f "$inst/data/1-我的收藏.sc" ]
check "uninstall keeps settings, the user's skin and scripts" [ -f "$inst/config/MyConfig.ini" -a -f "$inst/skin/我的皮肤/MySkin.db" -a -f "$inst/script/url/登录" ]

# ---- /D= chooses the folder (a Chinese name) ---------------------------------
wine "$tmp/setup.exe" /S "/D=C:\工具\Qimbo收藏"; rc=$?
settle
other="$WINEPREFIX/drive_c/工具/Qimbo收藏"
check "/S /D=C:\工具\Qimbo收藏 installs there (exit $rc)" [ "$rc" = 0 -a -f "$other/Qimbo.exe" -a -f "$other/uninstall.exe" ]
entry=$(regblock 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Qimbo' | grep '^"InstallLocation"=')
check "its uninstall entry names that folder: $entry" [ "$entry" = '"InstallLocation"="C:\\\x5de5\x5177\\Qimbo\x6536\x85cf"' ]
wine "$other/uninstall.exe" /S
settle
check "and its uninstaller removes it again" [ ! -e "$other/Qimbo.exe" ]

[ "$failures" = 0 ] && echo "dist.windows: all checks passed" || echo "dist.windows: $failures failed"
[ "$failures" = 0 ]
