#!/bin/sh
# The settings commands of the built qimbo-tool: config dump with backup
# recovery, skin dump -> make giving back the same database, bad input refused.
set -u
TOOL="$1"
DATA="$2"
. "$(dirname "$0")/../tool_lib.sh"

mkdir -p "$DIR/prog/config"
printf '[HOTKEY]\r\nFavoriteKey=Shift+F7\r\n[CHAT]\r\nIF_CHATTIP\t0\r\nChatSendKey=Enter\r\n[END]' > "$DIR/prog/config/MyConfig.bak"
"$TOOL" config dump "$DIR/prog" > "$DIR/config.json" || fail "config dump"
grep -q '"FavoriteKey": "Shift+F7"' "$DIR/config.json" || fail "hotkey not read: $(cat "$DIR/config.json")"
grep -q '"IF_CHATTIP": 0' "$DIR/config.json" || fail "chat tip not read"
grep -q '"virtualKey": 118' "$DIR/config.json" || fail "hotkey not parsed"
[ -f "$DIR/prog/config/MyConfig.ini" ] || fail "backup not recovered"
"$TOOL" config dump "$DIR/missing" > /dev/null 2>&1 && fail "config dump of a missing folder succeeded"
mkdir -p "$DIR/empty"
"$TOOL" config dump "$DIR/empty" | grep -q '"loaded": false, "FavoriteKey": "Ctrl+S"' || fail "defaults"

"$TOOL" skin dump "$DATA/golden-MySkin.db" > "$DIR/skin.json" || fail "skin dump"
grep -q '"faceName": "宋体"' "$DIR/skin.json" || fail "face name not UTF-8"
"$TOOL" skin make "$DIR/skin.json" "$DIR/MySkin.db" || fail "skin make"
cmp "$DIR/MySkin.db" "$DATA/golden-MySkin.db" || fail "make of dump differs"

head -c 100 "$DATA/golden-MySkin.db" > "$DIR/cut.db"
"$TOOL" skin dump "$DIR/cut.db" > /dev/null 2>&1 && fail "dump of a cut database succeeded"
printf '[{},{},{},{},{"flat": 3}]' > "$DIR/bad.json"
"$TOOL" skin make "$DIR/bad.json" "$DIR/bad.db" 2> "$DIR/err.txt" && fail "make accepted a bad flag"
[ -f "$DIR/bad.db" ] && fail "make wrote a file for bad input"
grep -q 'record 4' "$DIR/err.txt" || fail "no useful message: $(cat "$DIR/err.txt")"
echo "skin tool round trips passed"
