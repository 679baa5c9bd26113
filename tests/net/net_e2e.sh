#!/bin/sh
# Upload a favorites file to a real qimbo-server with qimbo-tool, download it
# again, and compare the web-address folders (an item with a 600-byte address
# included). Usage: net_e2e.sh QIMBO-SERVER QIMBO-TOOL
set -u
SERVER=$1
TOOL=$2
DIR=$(mktemp -d)
PID=
cleanup() {
  [ -n "$PID" ] && kill "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
  rm -rf "$DIR"
}
trap cleanup EXIT
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
"$SERVER" serve --db e2e.db --listen $ADDR --port-base $SPORT --client-port-base $CPORT 2>server.log &
PID=$!
for i in $(seq 100); do grep -q listening server.log 2>/dev/null && break; sleep 0.1; done
grep -q listening server.log || fail "the server did not start"

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
