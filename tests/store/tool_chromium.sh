#!/bin/sh
# qimbo-tool fav import-chromium on the built tool: a Bookmarks file in the
# browsers' own shape lands in a favorites file; a second import adds
# nothing; broken, oddly typed, oversized or missing files are refused with
# a message and leave the favorites file byte for byte as it was.
set -u
TOOL="$1"
DATA="$2"
. "$(dirname "$0")/../tool_lib.sh"

"$TOOL" fav import-chromium "$DATA/chromium-Bookmarks.json" "$DIR/a.sc" > "$DIR/said" || fail "import"
grep -q '^4 bookmarks in 3 new categories; 0 left out$' "$DIR/said" || fail "summary: $(cat "$DIR/said")"
"$TOOL" fav dump "$DIR/a.sc" > "$DIR/dump" || fail "dump"
[ "$(wc -l < "$DIR/dump")" -eq 7 ] || fail "7 nodes expected: $(cat "$DIR/dump")"
grep -q '"name":"新闻","kind":0,.*"slot":1,' "$DIR/dump" || fail "category 新闻 at slot 1"
grep -q '"name":"体育 & sports","kind":1,"address":"http://sports.example.com/","parent":"新闻"' "$DIR/dump" ||
  fail "flattened bookmark"
grep -q '"name":"新浪首页","kind":1,"address":"https://www.sina.example.cn/","parent":"书签栏",.*"time":1707091200,' "$DIR/dump" ||
  fail "bar bookmark with its last use"

cp "$DIR/a.sc" "$DIR/before.sc"
"$TOOL" fav import-chromium "$DATA/chromium-Bookmarks.json" "$DIR/a.sc" > "$DIR/said" || fail "second import"
grep -q '^0 bookmarks in 0 new categories; 4 left out$' "$DIR/said" || fail "second summary: $(cat "$DIR/said")"

refused() {  # refused FILE WORDS: exit 1, the words in the message, a.sc unchanged
  cp "$DIR/a.sc" "$DIR/keep.sc"
  if "$TOOL" fav import-chromium "$1" "$DIR/a.sc" > /dev/null 2> "$DIR/err"; then fail "accepted $1"; fi
  grep -q "$2" "$DIR/err" || fail "message for $1: $(cat "$DIR/err")"
  # The path as it was typed, never the core's own form with backslashes.
  grep -qF "$1: " "$DIR/err" || fail "path not named as typed: $(cat "$DIR/err")"
  if grep -qF '\' "$DIR/err"; then fail "a backslash in the message: $(cat "$DIR/err")"; fi
  cmp -s "$DIR/a.sc" "$DIR/keep.sc" || fail "$1 changed the favorites file"
}
head -c 900 "$DATA/chromium-Bookmarks.json" > "$DIR/truncated.json"
refused "$DIR/truncated.json" "not valid JSON"
printf '{"roots":{"bookmark_bar":{"type":"folder","children":[{"type":"url","name":"a","url":42}]}}}' > "$DIR/types.json"
refused "$DIR/types.json" '"url" text'
printf '[]' > "$DIR/array.json"
refused "$DIR/array.json" "not a JSON object"
truncate -s 40M "$DIR/huge.json"
refused "$DIR/huge.json" "larger than 33554432 bytes"
refused "$DIR/none.json" "cannot read the file"

# A favorites file that is not one is not overwritten either.
printf 'not favorites' > "$DIR/other.sc"
if "$TOOL" fav import-chromium "$DATA/chromium-Bookmarks.json" "$DIR/other.sc" 2> "$DIR/err"; then
  fail "wrote over a file that is not a favorites file"
fi
[ "$(cat "$DIR/other.sc")" = "not favorites" ] || fail "other.sc changed"
# Opera's roots come in, the trash and the bookmarklets do not; the report
# names what runs only inside the browser; the text the code page lacks is
# written out again as itself.
"$TOOL" fav import-chromium "$DATA/opera-Bookmarks.json" "$DIR/o.sc" > "$DIR/said" || fail "opera import"
grep -q '^40 bookmarks in 6 new categories; 4 left out$' "$DIR/said" || fail "opera summary: $(cat "$DIR/said")"
grep -q '^left out, runs only inside the browser: Bookmarklet$' "$DIR/said" || fail "bookmarklet named: $(cat "$DIR/said")"
grep -q '^left out, runs only inside the browser: data:text/html,<b>hi</b>$' "$DIR/said" || fail "data address named"
"$TOOL" fav export-html "$DIR/o.sc" "$DIR/o.html" || fail "export"
grep -q '한국어 뉴스 🚀' "$DIR/o.html" || fail "Hangul and emoji exported as themselves"
grep -q 'ニュース €5' "$DIR/o.html" || fail "euro exported as itself"
grep -q '常用 😀2' "$DIR/o.html" || fail "overflowed category"
if grep -q '&amp;#x' "$DIR/o.html"; then fail "a reference exported as text"; fi
"$TOOL" fav import-chromium "$DATA/opera-Bookmarks.json" "$DIR/o.sc" > "$DIR/said" || fail "opera again"
grep -q '^0 bookmarks in 0 new categories; 44 left out$' "$DIR/said" || fail "opera again: $(cat "$DIR/said")"
# The exported file read back holds the same bookmarks.
"$TOOL" fav import-html "$DIR/o.html" "$DIR/p.sc" > /dev/null || fail "import-html"
"$TOOL" fav dump "$DIR/p.sc" | grep -q '"name":"한국어 뉴스 🚀"' || fail "html round trip"
echo "import-chromium: ok"
