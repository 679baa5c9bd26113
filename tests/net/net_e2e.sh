#!/usr/bin/env bash
# Upload a favorites file to a real qimbo-server with qimbo-tool, download it
# again, and compare the web-address folders (an item with a 600-byte address
# included). Usage: net_e2e.sh QIMBO-SERVER QIMBO-TOOL
set -u
source "$(dirname "$0")/../win/kit.sh"
SERVER=$1
TOOL=$2
kit_tmp
DIR=$tmp
fail() { echo "FAIL: $*"; [ -f "$DIR/server.log" ] && cat "$DIR/server.log"; exit 1; }

# Ports and addresses of their own, so that other suites can run alongside.
ADDR=127.0.0.61
CLIENT=127.0.0.62
SPORT=27080
CPORT=27030
NET="--server $ADDR --bind $CLIENT --port-base $CPORT --server-port-base $SPORT --user 10001 --timeout 10"

cd "$DIR" || exit 1
"$SERVER" user add 10001 pw1 nick --db e2e.db >/dev/null || fail "user add"
"$SERVER" user add 10003 pw3 bob --db e2e.db >/dev/null || fail "user add"
"$SERVER" user add 10005 pw5 two-machines --db e2e.db >/dev/null || fail "user add"
kit_serve server.log "$SERVER" serve --db e2e.db --listen $ADDR --port-base $SPORT --client-port-base $CPORT ||
  fail "the server did not start"

"$TOOL" net login $NET --password wrong 2>/dev/null && fail "a wrong password was accepted"
"$TOOL" net login $NET --password pw1 2>login.err || fail "login: $(cat login.err)"

# The password from standard input or the environment, so that it need not
# stand in the process list; a typed --password goes before the environment.
echo pw1 | "$TOOL" net login $NET --password - 2>login.err || fail "--password - with pw1: $(cat login.err)"
echo wrong | "$TOOL" net login $NET --password - 2>/dev/null && fail "--password - did not read standard input"
QIMBO_PASSWORD=pw1 "$TOOL" net login $NET 2>login.err || fail "QIMBO_PASSWORD=pw1: $(cat login.err)"
QIMBO_PASSWORD=wrong "$TOOL" net login $NET --password pw1 2>login.err || fail "--password lost to QIMBO_PASSWORD"
QIMBO_PASSWORD=wrong "$TOOL" net login $NET 2>/dev/null && fail "QIMBO_PASSWORD was not read"

# A leave-word from another user is printed at the next login as a JSON line.
OTHER=$(echo "$NET" | sed 's/--user 10001/--user 10003/')
"$TOOL" net leaveword 10001 'a<b>c "q"' $OTHER --password pw3 2>lw.err || fail "leaveword: $(cat lw.err)"
"$TOOL" net login $NET --password pw1 >words.json 2>login.err || fail "login: $(cat login.err)"
grep -q '^{"from":10003,"text":".*a<b>c \\"q\\""}$' words.json || fail "leave-word printed as: $(cat words.json)"
"$TOOL" net download none.sc $NET --password pw1 2>blank.err && fail "download before any upload succeeded"
grep -q "网络收藏为空！" blank.err || fail "empty download said: $(cat blank.err)"

LONG="http://example.com/$(printf '%0581d' 0)"
cat > in.jsonl <<JSON
{"name":"新闻","kind":0,"slot":0}
{"name":"长地址","kind":1,"address":"$LONG","parent":"新闻","slot":0,"icon":"images\\\\icon\\\\a.ico"}
{"name":"a<b>c","kind":1,"address":"http://b.example/?q=<x>","parent":"新闻","slot":1,"note":"备注","icon":"x.ico","visits":7}
{"name":"工具","kind":0,"slot":1}
{"name":"搜索","kind":1,"address":"http://s.example/","parent":"工具","slot":0,"icon":"y.ico"}
JSON
"$TOOL" fav make in.jsonl up.sc || fail "fav make"
"$TOOL" net upload up.sc $NET --password pw1 2>up.err || fail "upload: $(cat up.err)"
grep -q "上传成功！" up.err || fail "upload said: $(cat up.err)"
"$TOOL" net download down.sc $NET --password pw1 2>down.err || fail "download: $(cat down.err)"
grep -q "下载成功！" down.err || fail "download said: $(cat down.err)"

# The last-visit time is not carried over the network; everything else is.
"$TOOL" fav dump up.sc | sed -E 's/"time":[0-9]+,//' > up.json
"$TOOL" fav dump down.sc | sed -E 's/"time":[0-9]+,//' > down.json
cmp -s up.json down.json || { diff up.json down.json | cut -c1-200; fail "the folders differ"; }
[ "$(wc -l < down.json)" -eq 5 ] || fail "expected 5 nodes"
grep -q "$LONG" down.json || fail "the long address is missing"
echo "net e2e: upload and download of 5 nodes reproduce the folder"

# A download keeps the favorites it replaces as a dated copy in backup/.
cp up.sc keep.sc
"$TOOL" net download keep.sc $NET --password pw1 2>/dev/null || fail "download over a file"
ls backup/keep-下载前-*-01.sc >/dev/null 2>&1 || fail "no dated copy of the replaced file: $(ls backup 2>&1)"
cmp -s backup/keep-下载前-*-01.sc up.sc || fail "the dated copy is not the replaced file"

# ---- sync: two favorites files of one user (two machines), each edited and
# synced, then both synced again: the same tree on both, holding every edit.
SYNC="--server $ADDR --bind $CLIENT --port-base $CPORT --server-port-base $SPORT --user 10005 --timeout 10 --password pw5"
dump() { "$TOOL" fav dump "$1" | sed -E 's/"time":[0-9]+,//'; }
cat > a.jsonl <<'JSON'
{"name":"新闻","kind":0,"slot":0}
{"name":"新浪","kind":1,"address":"http://sina.example/","parent":"新闻","slot":0,"icon":"s.ico"}
{"name":"网易","kind":1,"address":"http://163.example/","parent":"新闻","slot":1,"icon":"w.ico"}
{"name":"工具","kind":0,"slot":1}
{"name":"翻译","kind":1,"address":"http://fy.example/","parent":"工具","slot":0,"icon":"f.ico"}
JSON
cat > b.jsonl <<'JSON'
{"name":"旧的","kind":0,"slot":0}
{"name":"旧站","kind":1,"address":"http://old.example/","parent":"旧的","slot":0,"icon":"o.ico"}
JSON
"$TOOL" fav make a.jsonl a.sc && "$TOOL" fav make b.jsonl b.sc || fail "fav make"
"$TOOL" net sync a.sc $SYNC >sync.json 2>sync.err || fail "first sync of a: $(cat sync.err)"
grep -q '"synced":true,"added":0,"removed":0,"keptTwice":0,"notPlaced":0,"uploaded":true' sync.json ||
  fail "a's first sync (nothing on the server): $(cat sync.json)"
[ -f a.sc.10005.sync-base ] || fail "no base beside a.sc"
"$TOOL" net sync b.sc $SYNC >sync.json 2>sync.err || fail "first sync of b: $(cat sync.json) $(cat sync.err)"
grep -q '"added":5,"removed":0,"keptTwice":0' sync.json || fail "b's first sync takes the union: $(cat sync.json)"
grep -q "同步成功！新增5，删除0，保留两份0" sync.err || fail "b's sync said: $(cat sync.err)"

# A adds 搜狐 and renames 网易; B deletes 翻译 and adds 百度; both note 新浪
# differently: B, syncing second, keeps its own and A's as "新浪 (另一台电脑)".
edit() {  # edit FILE SED-SCRIPT [NEW JSON LINE]
  "$TOOL" fav dump "$1" | sed -E "$2" >edit.jsonl
  [ -n "${3:-}" ] && echo "$3" >>edit.jsonl
  "$TOOL" fav make edit.jsonl "$1" >/dev/null || fail "edit $1"
}
edit a.sc 's/"name":"网易"/"name":"网易新闻"/; s/("name":"新浪".*"note":)""/\1"A写的"/' \
  '{"name":"搜狐","kind":1,"address":"http://sohu.example/","parent":"新闻","slot":5,"icon":"h.ico"}'
edit b.sc '/"翻译"/d; s/("name":"新浪".*"note":)""/\1"B写的"/' \
  '{"name":"百度","kind":1,"address":"http://baidu.example/","parent":"工具","slot":3,"icon":"b.ico"}'
"$TOOL" net sync a.sc $SYNC >sync.json 2>sync.err || fail "second sync of a: $(cat sync.err)"
grep -q '"added":2,"removed":0,"keptTwice":0' sync.json || fail "a's second sync: $(cat sync.json)"
"$TOOL" net sync b.sc $SYNC >sync.json 2>sync.err || fail "second sync of b: $(cat sync.err)"
grep -q '"added":1,"removed":0,"keptTwice":1' sync.json || fail "b's second sync: $(cat sync.json)"
"$TOOL" net sync a.sc $SYNC >sync.json 2>sync.err || fail "third sync of a: $(cat sync.err)"
"$TOOL" net sync b.sc $SYNC >sync.json 2>sync.err || fail "third sync of b: $(cat sync.err)"
grep -q '"uploaded":false' sync.json || fail "nothing was left to upload: $(cat sync.json)"
dump a.sc >a.json
dump b.sc >b.json
cmp -s a.json b.json || { diff a.json b.json | cut -c1-200; fail "the two machines' trees differ after syncing"; }
for want in '"name":"搜狐"' '"name":"网易新闻"' '"name":"百度"' '"name":"旧站"' '"name":"新浪","kind":1.*"note":"B写的"' \
            '"name":"新浪 (另一台电脑)","kind":1.*"note":"A写的"'; do
  grep -q "$want" a.json || fail "the synced tree lacks $want: $(cat a.json)"
done
grep -q '"name":"翻译"' a.json && fail "翻译, deleted on b, came back"
grep -q '"name":"网易"' a.json && fail "网易, renamed on a, is there twice"
[ "$(wc -l < a.json)" -eq 9 ] || fail "expected 9 nodes: $(cat a.json)"

# A server that does not answer: the sync says so, fails, and changes nothing.
kit_stop "$kit_server"
cp a.sc a.before
cp a.sc.10005.sync-base base.before
"$TOOL" net sync a.sc $SYNC --timeout 2 >sync.json 2>sync.err && fail "a sync with the server down succeeded"
grep -q "连网失败!" sync.err || fail "the sync with the server down said: $(cat sync.err)"
cmp -s a.sc a.before && cmp -s a.sc.10005.sync-base base.before || fail "the sync with the server down changed files"
echo "net e2e: two machines synced twice hold the same 9 nodes with every edit; a download keeps a dated copy"
