#!/usr/bin/env bash
# Two copies of Qimbo.exe and the real qimbo-server, each in a network
# namespace of its own, so that the server and each program see the others
# at addresses of their own:
#   server  namespace S   10.231.1.1 (to A) and 10.231.2.1 (to B), forwarding
#   A       namespace A   10.231.1.2, Wine prefix, program folder and Xvfb of its own
#   B       namespace B   10.231.2.2, the same
# Through the programs' windows (e2e_driver.exe, one step per run): A logs in
# after a wrong password, uploads from the tray; B logs in, downloads from the
# tray as the same user on a second machine and holds A's tree; both start
# again, log in with the remembered password and as two users; B exits
# (logging out), a leave-word for B is left, B starts again, logs in and its
# tray flashes; both sync through the tray as one user, and a sync with the
# server down changes nothing. In between, both enter the circle of a category, list each
# other in their chat windows and A's line reaches B (and 50 timed lines give
# the latency against a raw UDP round trip). The server ends a session after
# 4 s without a sign of life and the programs keep alive every 1.5 s: A is
# told when B logs in as the same user, both stay logged in while idle past
# the time-out, and log in again by themselves when the server restarts.
#   two-programs.sh WINBUILD QIMBO-SERVER QIMBO-TOOL SHOTS
# Exits 77 (skipped) when network namespaces cannot be made.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../win/kit.sh"
win=$(cd "$1" && pwd)
server=$2
tool=$3
mkdir -p "$4"
shots=$(cd "$4" && pwd)
[ -n "${QIMBO_CHAT_TRACE:-}" ] && mkdir -p "$QIMBO_CHAT_TRACE" && rm -f "$QIMBO_CHAT_TRACE"/trace-[AB].txt

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root (ip netns); not root here"
command -v ip >/dev/null || skip "no ip command (iproute2)"
tag=qe$$
S=${tag}s A=${tag}a B=${tag}b
ip netns add "$S" 2>/dev/null || skip "ip netns add failed: network namespaces cannot be made here"

kit_tmp
kit_at_exit 'for X in A B; do [ -d "$tmp/pfx$X" ] && WINEPREFIX=$tmp/pfx$X wineserver -k 2>/dev/null; done'
kit_at_exit 'for ns in "$S" "$A" "$B"; do ip netns del "$ns" 2>/dev/null; done'

abort() { echo "FAILED: $*"; [ -f "$tmp/server.log" ] && tail -20 "$tmp/server.log"; exit 1; }
elapsed() { echo "$(( $(date +%s%N) / 1000000 - start_ms )) ms"; }
start_ms=$(( $(date +%s%N) / 1000000 ))

# ---- the network --------------------------------------------------------------------
ip netns add "$A" && ip netns add "$B" || abort "namespaces"
ip link add sa netns "$S" type veth peer name as netns "$A" || abort "veth S-A"
ip link add sb netns "$S" type veth peer name bs netns "$B" || abort "veth S-B"
ip -n "$S" addr add 10.231.1.1/24 dev sa
ip -n "$S" addr add 10.231.2.1/24 dev sb
ip -n "$S" addr add 10.231.3.1/32 dev lo  # a third user's command-line client
ip -n "$A" addr add 10.231.1.2/24 dev as
ip -n "$B" addr add 10.231.2.2/24 dev bs
for ns in "$S" "$A" "$B"; do ip -n "$ns" link set lo up; done
ip -n "$S" link set sa up && ip -n "$S" link set sb up
ip -n "$A" link set as up && ip -n "$B" link set bs up
ip -n "$A" route add default via 10.231.1.1
ip -n "$B" route add default via 10.231.2.1
ip netns exec "$S" sysctl -qw net.ipv4.ip_forward=1 || abort "forwarding in the server's namespace"
ip netns exec "$B" python3 "$here/udp_rtt.py" echo 10.231.2.2 5099 20 &
echo_pid=$!
sleep 0.3
rtt=$(ip netns exec "$A" python3 "$here/udp_rtt.py" ping 10.231.2.2 5099 20) || abort "A cannot reach B through the server's namespace"
wait $echo_pid
ok "namespaces $S, $A, $B joined by veth pairs; raw UDP round trip A-B: median $rtt ms of 20 ($(elapsed))"

# ---- the server ---------------------------------------------------------------------
db=$tmp/server.db
"$server" user add 10001 alice1234 张三 --db "$db" >/dev/null || abort "user add"
"$server" user add 10002 bob5678 李四 --db "$db" >/dev/null || abort "user add"
"$server" user add 10003 carol999 王五 --db "$db" >/dev/null || abort "user add"
start_server() {
  kit_serve "$tmp/server.log" --count "$1" ip netns exec "$S" "$server" serve --db "$db" --listen 10.231.1.1 \
    --session-timeout-s 4 || abort "the server did not start"
  server_pid=$kit_server
}
start_server 1

# ---- the two programs ---------------------------------------------------------------
kit_prefix --profile || abort "the Wine prefix"
declare -A display ns
ns[A]=$A ns[B]=$B
cat >"$tmp/a.jsonl" <<'JSON'
{"name":"新闻","kind":0,"slot":0}
{"name":"工具","kind":0,"slot":1}
{"name":"新浪 a<b>c","kind":1,"parent":"新闻","slot":0,"address":"http://news.example.com/?q=<x>","visits":7,"note":"备注","icon":"images\\icon\\news.ico"}
{"name":"科技频道","kind":1,"parent":"新闻","slot":1,"address":"http://tech.example.com/","icon":"images\\icon\\tech.ico"}
{"name":"在线翻译","kind":1,"parent":"工具","slot":0,"address":"http://translate.example.com/","visits":2,"icon":"images\\icon\\fy.ico"}
JSON
cat >"$tmp/b.jsonl" <<'JSON'
{"name":"旧的","kind":0,"slot":0}
{"name":"旧站","kind":1,"parent":"旧的","slot":0,"address":"http://old.example.com/"}
JSON
for X in A B; do
  cp -a "$WINEPREFIX" "$tmp/pfx$X" || abort "Wine prefix for $X"
  rm -f "$tmp/pfx$X/.update-timestamp.lock"
  "$QIMBO_ROOT/scripts/layout.sh" "$win" "$tmp/$X/Qimbo" >/dev/null || abort "program folder for $X"
  printf '[Server]\r\nHost=10.231.1.1\r\nFallback=10.231.1.1\r\nWeb=10.231.1.1\r\nBind=\r\nTestKeepAliveMs=1500\r\n' >"$tmp/$X/Qimbo/config/NetServer.ini"
  lower=$(echo $X | tr AB ab)
  "$tool" fav make "$tmp/$lower.jsonl" "$tmp/$X/Qimbo/data/1-我的收藏.sc" >/dev/null || abort "favorites for $X"
  display[$X]=$(kit_free_display) || abort "no free X display"
  ip netns exec "${ns[$X]}" Xvfb ":${display[$X]}" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  kit_track $!
  for i in $(seq 50); do [ -e "/tmp/.X11-unix/X${display[$X]}" ] && break; sleep 0.1; done
done

in_ns() {  # in_ns X COMMAND...: in X's namespace, on X's display, with X's Wine prefix
  local X=$1
  shift
  ip netns exec "${ns[$X]}" env DISPLAY=":${display[$X]}" WINEPREFIX="$tmp/pfx$X" "$@"
}
declare -A program
start_program() {
  (cd "$tmp/$1/Qimbo" && exec ip netns exec "${ns[$1]}" env DISPLAY=":${display[$1]}" WINEPREFIX="$tmp/pfx$1" \
     ${QIMBO_CHAT_TRACE:+QIMBO_NET_TRACE=Z:$QIMBO_CHAT_TRACE/trace-$1.txt} wine "$tmp/$1/Qimbo/Qimbo.exe") >"$tmp/$1.log" 2>&1 &
  program[$1]=$!
  kit_track $!
}
step() {  # step X WHAT ARGS...: one driver step in X's prefix
  local X=$1
  shift
  echo "-- $X: $*"
  # Into a file: a Wine server the step starts keeps its output open.
  in_ns "$X" wine "$win/tests/e2e/e2e_driver.exe" "$@" >"$tmp/step.out" 2>&1
  local rc=$?
  # The driver's first word is always its look for the main window; a step
  # that failed without a word never ran its checks (Wine did not start it):
  # it is run once more.
  if [ "$rc" -ne 0 ] && [ ! -s "$tmp/step.out" ]; then
    echo "   note: the driver ended with $rc before its first check; run again"
    in_ns "$X" wine "$win/tests/e2e/e2e_driver.exe" "$@" >"$tmp/step.out" 2>&1
    rc=$?
  fi
  tr -d '\r' <"$tmp/step.out" | sed "s/^/   /"
  [ "$rc" -eq 0 ] || fail "$X: step '$1' ($rc failed checks)"
}
wait_exit() {  # the program ends within 30 s
  local p=${program[$1]}
  for i in $(seq 300); do kill -0 "$p" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}

start_program A
start_program B
step A main
step B main
ok "both programs are up ($(elapsed))"

# A: the empty window, a wrong password, then the right one, remembered.
step A login-open "" "" 0 "$(winpath "$shots/login-empty.bmp")"
step A login-submit 10001 wrongpass 1 refused "$(winpath "$shots/login-refused.bmp")"
step A login-submit 10001 alice1234 1 ok
grep -q "10.231.1.2" "$tmp/server.log" && ok "the server saw A at 10.231.1.2" || echo "note: the server's log names no address"

# A uploads its tree from the tray (the third entry).
step A tray 3
step A transfer up

# The same user on the second machine: B logs in as 10001 (not remembered)
# and downloads from the tray (the fourth entry); it then holds A's tree.
step B login-open "" "" 0
step B login-submit 10001 alice1234 0 ok
step B tray 4
step B transfer down
dump() { "$tool" fav dump "$1" | sed -E 's/"time":[0-9]+,//'; }
dump "$tmp/A/Qimbo/data/1-我的收藏.sc" >"$tmp/a.dump"
dump "$tmp/B/Qimbo/data/1-我的收藏.sc" >"$tmp/b.dump"
if [ -s "$tmp/a.dump" ] && cmp -s "$tmp/a.dump" "$tmp/b.dump"; then
  ok "B holds A's tree: $(wc -l <"$tmp/b.dump") nodes, the same in qimbo-tool fav dump"
else
  fail "B's tree differs from A's"; diff "$tmp/a.dump" "$tmp/b.dump" | head -20
fi
grep -q '旧站' "$tmp/b.dump" && fail "B's old tree is still there"
# A's next keep-alive learns that 10001 is on B now: A shows itself logged out.
step A login-button 登录

# Both leave from the tray (the eighth entry), logging out; the server had
# ended A's session when 10001 logged in on B.
step A tray 8
wait_exit A && ok "A ended" || fail "A did not end"
step B tray 8
wait_exit B && ok "B ended" || fail "B did not end"

# A again: its number and password were remembered; OK with the box
# untouched logs in with the stored password. B logs in as 10002.
start_program A
start_program B
step A main
step B main
step A login-open 10001 1234567890 1 "$(winpath "$shots/login-remembered.bmp")"
step A login-submit 10001 - 1 ok
step B login-open 10001 "" 0
step B login-submit 10002 bob5678 1 ok
# Idle well past the server's session time-out: the keep-alives hold both
# sessions, so the circle below is entered and its members arrive.
sleep 6
step A login-button 10001

# Both enter the circle of the category 新闻 (its tab's menu, first entry,
# confirmed in a box the first time): each chat window lists the other (B's
# from the server's list, A's from B's announcement, peer to peer); A's line
# to everybody reaches B exactly.
step A circle 0
step B circle 0
step B chat-lists 10001
step A chat-lists 10002
step A chat-send '报道 a<b>c 定点'
step B chat-shows '报道 a<b>c 定点' "$(winpath "$shots/chat-conversation.bmp")"

# The time from A's 发送 to the line in B's window, 50 lines, against the raw
# UDP round trip between the same namespaces (reported, never failed on).
in_ns B wine "$win/tests/e2e/e2e_driver.exe" chat-watch 测 50 >"$tmp/watch.out" 2>&1 &
watch=$!
sleep 2
in_ns A wine "$win/tests/e2e/e2e_driver.exe" chat-series 测 50 >"$tmp/series.out" 2>&1 || fail "A: the series of lines"
wait $watch || fail "B: not every line of the series showed"
latency=$(cat "$tmp/series.out" "$tmp/watch.out" | tr -d '\r' | python3 -c '
import statistics, sys
sent, seen = {}, {}
for line in sys.stdin:
    w = line.split()
    if len(w) == 3 and w[0] in ("sent", "seen"):
        (sent if w[0] == "sent" else seen)[int(w[1])] = float(w[2])
d = [seen[i] - sent[i] for i in sent if i in seen]
print("%.1f ms (%d lines, min %.1f, max %.1f)" % (statistics.median(d), len(d), min(d), max(d)) if d else "none")
')
echo "latency: A's send to B's window, median $latency; raw UDP round trip A-B median $rtt ms"
# With QIMBO_CHAT_TRACE=FOLDER both programs write their hop traces there, and the hops are shown.
[ -n "${QIMBO_CHAT_TRACE:-}" ] && cat "$tmp/series.out" "$tmp/watch.out" | tr -d '\r' >"$QIMBO_CHAT_TRACE/series.txt" &&
  python3 "$here/chat_hops.py" "$QIMBO_CHAT_TRACE/trace-A.txt" "$QIMBO_CHAT_TRACE/trace-B.txt" "$QIMBO_CHAT_TRACE/series.txt" 测

# The server restarts and forgets every session: the keep-alives go
# unanswered, both programs log in again by themselves and stay logged in.
logins_before=$(grep -c 'login user 10001 from 10.231.1.2' "$tmp/server.log")
kill "$server_pid"; wait "$server_pid" 2>/dev/null
sleep 2
start_server 2
for i in $(seq 150); do
  [ "$(grep -c 'login user 10001 from 10.231.1.2' "$tmp/server.log")" -gt "$logins_before" ] && break; sleep 0.1
done
[ "$(grep -c 'login user 10001 from 10.231.1.2' "$tmp/server.log")" -gt "$logins_before" ] &&
  ok "A logged in again by itself after the server's restart" || fail "A did not log in again after the restart"
step A login-button 10001
step B login-button 10002

# B leaves; a word is left for B while B is away (from a third user's
# command-line client); B comes back, logs in with its remembered password,
# the word makes its tray icon flash, and the tray's click opens the chat
# window with the word in it.
step B tray 8
wait_exit B && ok "B ended" || fail "B did not end"
ip netns exec "$S" "$tool" net leaveword 10002 '留言 x<y>z 再见' --server 10.231.1.1 --bind 10.231.3.1 \
  --user 10003 --password carol999 --timeout 10 2>"$tmp/lw.err" && ok "a word for B is left" ||
  fail "leave-word: $(cat "$tmp/lw.err")"
start_program B
step B main
step B login-open 10002 1234567890 1
step B login-submit 10002 - 1 ok
step B tray-click-pending
step B chat-shows '留言 x<y>z 再见'

step A tray 8
wait_exit A && ok "A ended" || fail "A did not end"
step B tray 8
wait_exit B && ok "B ended" || fail "B did not end"
# ---- sync (the tray's fifth entry): A and B as the same user, each changing
# something while the other is closed. A adds 搜狐, B adds 百度 and files the
# same address as 搜狐 under another name: after A, B and A again have synced,
# both hold every change, the address under both names, and the same tree.
edit_tree() {  # edit_tree X NEW-JSON-LINE...
  local f="$tmp/$1/Qimbo/data/1-我的收藏.sc"
  shift
  "$tool" fav dump "$f" >"$tmp/edit.jsonl" && printf '%s\n' "$@" >>"$tmp/edit.jsonl" &&
    "$tool" fav make "$tmp/edit.jsonl" "$f" >/dev/null || fail "editing the favorites"
}
edit_tree A '{"name":"搜狐","kind":1,"parent":"新闻","slot":5,"address":"http://sohu.example.com/"}'
edit_tree B '{"name":"百度","kind":1,"parent":"工具","slot":5,"address":"http://baidu.example.com/"}' \
  '{"name":"搜狐首页","kind":1,"parent":"新闻","slot":6,"address":"http://sohu.example.com/"}'
sync_from_tray() {  # sync_from_tray X: start X, log in as 10001 (remembered), sync, leave
  start_program $1
  step $1 main
  step $1 login-open 10001 1234567890 1
  step $1 login-submit 10001 - 1 ok
  step $1 tray 5
  step $1 transfer sync
  step $1 tray 8
  wait_exit $1 || fail "$1 did not end"
}
start_program B  # B remembers 10002: it logs in as 10001 once, remembering that
step B main
step B login-open 10002 1234567890 1
step B login-submit 10001 alice1234 1 ok
step B tray 8
wait_exit B || fail "B did not end"
sync_from_tray A
sync_from_tray B
sync_from_tray A
dump "$tmp/A/Qimbo/data/1-我的收藏.sc" >"$tmp/a.dump"
dump "$tmp/B/Qimbo/data/1-我的收藏.sc" >"$tmp/b.dump"
cmp -s "$tmp/a.dump" "$tmp/b.dump" && ok "A and B hold the same tree after syncing" ||
  { fail "A's and B's trees differ after syncing"; diff "$tmp/a.dump" "$tmp/b.dump" | head -20; }
for want in '"name":"百度"' '"name":"搜狐首页"' '"name":"搜狐 (另一台电脑)"' '"name":"科技频道"'; do
  grep -q "$want" "$tmp/a.dump" && ok "both hold $want" || fail "the synced tree lacks $want"
done

# A sync while the server is down says so and changes nothing. (The
# keep-alive goes back to its own period, so that A does not notice the
# server gone before the sync does.)
printf '[Server]\r\nHost=10.231.1.1\r\nFallback=10.231.1.1\r\nWeb=10.231.1.1\r\nBind=\r\n' >"$tmp/A/Qimbo/config/NetServer.ini"
start_program A
step A main
step A login-open 10001 1234567890 1
step A login-submit 10001 - 1 ok
kill "$server_pid"
cp "$tmp/A/Qimbo/data/1-我的收藏.sc" "$tmp/a.before"
step A tray 5
step A transfer sync-fail
cmp -s "$tmp/A/Qimbo/data/1-我的收藏.sc" "$tmp/a.before" && ok "the failed sync left A's favorites as they were" ||
  fail "the failed sync changed A's favorites"
step A tray 8
wait_exit A || fail "A did not end"

kit_png "$shots" login-empty login-refused login-remembered chat-conversation
[ "$failures" -eq 0 ] || { echo "server log:"; tail -40 "$tmp/server.log"; }
echo "two-programs: $failures failed, $(elapsed) in all; screenshots in $shots (login-empty, login-refused, login-remembered, chat-conversation)"
[ "$failures" -eq 0 ]
