#!/bin/sh
# Round trips through the built qimbo-tool: make -> dump gives back the nodes,
# export-html -> import-html gives back the categories and items.
set -u
TOOL="$1"
. "$(dirname "$0")/../tool_lib.sh"

cat > "$DIR/in.jsonl" <<'JSON'
{"name":"新闻","kind":0,"address":"","parent":null,"icon":"","note":"一级目录","visits":0,"time":1000,"slot":0,"script":0,"circle":"Reserved"}
{"name":"Sina \"home\" & <co>","kind":1,"address":"http://sina.com.cn/?a=1&b=2","parent":"新闻","icon":"C:\\i\\a.ico","note":"备注","visits":12,"time":4294967295,"slot":3,"script":1,"circle":"GROUP"}
{"name":"工具","kind":0,"address":"C:\\Fav\\","parent":null,"icon":"","note":"","visits":0,"time":5,"slot":1,"script":0,"circle":"Reserved"}
{"name":"long","kind":1,"address":"http://x/AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA","parent":"工具","icon":"","note":"","visits":-3,"time":0,"slot":29,"script":0,"circle":"Reserved"}
JSON
"$TOOL" fav make "$DIR/in.jsonl" "$DIR/a.sc" || fail "make"
"$TOOL" fav dump "$DIR/a.sc" > "$DIR/out.jsonl" || fail "dump"
diff "$DIR/in.jsonl" "$DIR/out.jsonl" || fail "dump of make differs"

# Bookmark HTML: same categories and items (name, kind, address, parent).
"$TOOL" fav export-html "$DIR/a.sc" "$DIR/a.html" || fail "export-html"
"$TOOL" fav import-html "$DIR/a.html" "$DIR/b.sc" || fail "import-html"
"$TOOL" fav dump "$DIR/b.sc" > "$DIR/b.jsonl" || fail "dump b"
# A category's import folder has no place in the HTML format.
key() { sed -e 's/,"icon".*//' -e 's/"kind":0,"address":"[^"]*"/"kind":0/' "$1"; }
key "$DIR/out.jsonl" > "$DIR/k1"
key "$DIR/b.jsonl" > "$DIR/k2"
diff "$DIR/k1" "$DIR/k2" || fail "html round trip differs"

# Deeper folders are flattened into their first-level folder; loose links go
# to the root category.
cat > "$DIR/deep.html" <<'HTML'
<!DOCTYPE NETSCAPE-Bookmark-file-1>
<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">
<DL><p>
  <DT><H3 PERSONAL_TOOLBAR_FOLDER="true">Bar</H3>
  <DL><p>
    <DT><A HREF="http://a/">A &amp; B</A>
    <DT><H3>Inner</H3>
    <DL><p>
      <DT><A HREF="http://deep/">Deep</A>
    </DL><p>
    <DT><A HREF="http://after/">After</A>
  </DL><p>
  <DT><A HREF="http://loose/">Loose</A>
</DL><p>
HTML
"$TOOL" fav import-html "$DIR/deep.html" "$DIR/d.sc" || fail "import-html deep"
"$TOOL" fav dump "$DIR/d.sc" | sed 's/,"icon".*//' > "$DIR/d.jsonl"
cat > "$DIR/d.want" <<'JSON'
{"name":"Bar","kind":0,"address":"","parent":null
{"name":"A & B","kind":1,"address":"http://a/","parent":"Bar"
{"name":"Deep","kind":1,"address":"http://deep/","parent":"Bar"
{"name":"After","kind":1,"address":"http://after/","parent":"Bar"
{"name":"目录名","kind":0,"address":"","parent":null
{"name":"Loose","kind":1,"address":"http://loose/","parent":"目录名"
JSON
diff "$DIR/d.want" "$DIR/d.jsonl" || fail "flattening"

# Beyond the 44 tabs the file is still written, and stderr says how many
# links were left out.
{
  echo '<!DOCTYPE NETSCAPE-Bookmark-file-1>'
  echo '<DL><p>'
  i=0
  while [ $i -lt 46 ]; do
    echo "<DT><H3>F$i</H3><DL><p><DT><A HREF=\"http://f$i/\">L$i</A></DL><p>"
    i=$((i + 1))
  done
  echo '</DL><p>'
} > "$DIR/many.html"
"$TOOL" fav import-html "$DIR/many.html" "$DIR/m.sc" 2> "$DIR/err" || fail "import-html of 46 folders"
grep -q '^2 of 46 links could not be imported: all 44 categories are in use$' "$DIR/err" ||
  fail "no count of the links left out: $(cat "$DIR/err")"
[ "$("$TOOL" fav dump "$DIR/m.sc" | grep -c '"kind":0')" -eq 44 ] || fail "not 44 categories"

# import-favorites: a Favorites folder of .url files.
mkdir -p "$DIR/Favorites/News"
printf '[InternetShortcut]\r\nURL=http://news/\r\n' > "$DIR/Favorites/News/Daily News.url"
printf '[InternetShortcut]\r\nURL=http://top/\r\n' > "$DIR/Favorites/Top.url"
"$TOOL" fav import-favorites "$DIR/Favorites" "$DIR/f.sc" || fail "import-favorites"
"$TOOL" fav dump "$DIR/f.sc" | sed 's/,"icon".*//' > "$DIR/f.jsonl"
grep -q '{"name":"daily news","kind":1,"address":"http://news/","parent":"News"' "$DIR/f.jsonl" || fail "favorites item"
grep -q '{"name":"top","kind":1,"address":"http://top/","parent":"目录名"' "$DIR/f.jsonl" || fail "loose favorites item"

# Bad input: clear errors and exit status 1.
printf '{"name":"x","kind":1}\n' > "$DIR/bad.jsonl"
"$TOOL" fav make "$DIR/bad.jsonl" "$DIR/x.sc" 2> "$DIR/err" && fail "item without parent accepted"
grep -q 'line 1' "$DIR/err" || fail "no line number in: $(cat "$DIR/err")"
printf '{"name":"x",\n' > "$DIR/bad2.jsonl"
"$TOOL" fav make "$DIR/bad2.jsonl" "$DIR/x.sc" 2> /dev/null && fail "broken JSON accepted"
printf 'XXXX' > "$DIR/junk.sc"
"$TOOL" fav dump "$DIR/junk.sc" > /dev/null 2> "$DIR/err"
[ $? -eq 1 ] || fail "dump of junk did not exit 1"
[ -s "$DIR/err" ] || fail "dump of junk printed no message"
[ ! -e "$DIR/x.sc" ] || fail "a failed make wrote a file"
echo "tool round trips passed"
