#!/usr/bin/env bash
# `make run`: the program folder build/win/Qimbo (laid out by the build), a
# local qimbo-server on loopback with a demo user when the server is built,
# and Qimbo.exe under Wine on $DISPLAY, or on a private Xvfb when there is
# none (then a screenshot is taken and the program is asked to exit).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
"$QIMBO_ROOT/scripts/wine-prefix.sh"
"$QIMBO_ROOT/scripts/wine-profile.sh"
WIN=${QIMBO_WIN_DIR:-$QIMBO_ROOT/build/win}
NATIVE=${QIMBO_NATIVE_DIR:-$QIMBO_ROOT/build/native}
FOLDER=$WIN/Qimbo
RUN=${QIMBO_RUN_DIR:-$QIMBO_ROOT/build/run}
shot=${QIMBO_SHOT:-$QIMBO_ROOT/build/qimbo-screenshot.png}
mkdir -p "$RUN"
[ -x "$FOLDER/Qimbo.exe" ] || "$QIMBO_ROOT/scripts/layout.sh" "$WIN" >/dev/null

# A first run shows a few demo favorites instead of an empty folder.
tool=$NATIVE/tools/qimbo-tool
if [ -x "$tool" ] && ! ls "$FOLDER/data/"*.sc >/dev/null 2>&1; then
  mkdir -p "$FOLDER/data"
  cat >"$RUN/demo.jsonl" <<'JSON'
{"name":"常用","kind":0,"slot":0}
{"name":"新闻","kind":0,"slot":1}
{"name":"工具","kind":0,"slot":2}
{"name":"学习","kind":0,"slot":3}
{"name":"搜索","kind":1,"parent":"常用","slot":0,"address":"http://www.example.com/search","visits":12}
{"name":"邮箱","kind":1,"parent":"常用","slot":1,"address":"http://mail.example.com/","visits":30}
{"name":"地图","kind":1,"parent":"常用","slot":2,"address":"http://map.example.com/","visits":4}
{"name":"天气预报","kind":1,"parent":"常用","slot":3,"address":"http://weather.example.com/","visits":9}
{"name":"新闻首页","kind":1,"parent":"新闻","slot":0,"address":"http://news.example.com/","visits":7}
{"name":"科技频道","kind":1,"parent":"新闻","slot":1,"address":"http://tech.example.com/","visits":3}
{"name":"在线翻译","kind":1,"parent":"工具","slot":0,"address":"http://translate.example.com/","visits":5}
{"name":"汉语词典","kind":1,"parent":"学习","slot":0,"address":"http://dict.example.com/","visits":2}
JSON
  "$tool" fav make "$RUN/demo.jsonl" "$FOLDER/data/1-我的收藏.sc" >/dev/null && echo "run: demo favorites written to the program folder"
fi

xvfb_pid= server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

server=$NATIVE/server/qimbo-server
if [ -x "$server" ]; then
  db=$RUN/qimbo-server.db
  "$server" user add 10001 demo1234 演示用户 --db "$db" >/dev/null 2>&1 || true
  "$server" serve --listen 127.0.0.1 --db "$db" >"$RUN/qimbo-server.log" 2>&1 &
  server_pid=$!
  echo "run: qimbo-server on 127.0.0.1 (demo user 10001, password demo1234), log $RUN/qimbo-server.log"
  # The program talks to this server rather than the public one.
  mkdir -p "$FOLDER/config"
  printf '[Server]\r\nHost=127.0.0.1\r\nFallback=127.0.0.1\r\nWeb=127.0.0.1\r\nBind=\r\n' >"$FOLDER/config/NetServer.ini"
fi

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do [ -e /tmp/.X11-unix/X$n ] || { disp=:$n; break; }; done
  Xvfb "$disp" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$disp
  sleep 1
  echo "run: no DISPLAY, using a private Xvfb on $DISPLAY"
fi
# Wine keeps the screen size it first saw while its server runs (tests use
# other displays): a fresh server sizes and centres the window for this one.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
cd "$FOLDER"
wine "$FOLDER/Qimbo.exe" &
app=$!
for i in $(seq 1 60); do
  xwininfo -root -tree 2>/dev/null | grep -q '"qimbo.exe"' && break
  sleep 0.5
done
sleep 2
import -window root "$shot" && echo "run: screenshot saved to $shot"
if [ -n "$xvfb_pid" ]; then
  echo "run: closing the program (private display)"
  wine "$WIN/tests/win/smoke_driver.exe" --close >/dev/null 2>&1 || true
  for i in $(seq 1 30); do kill -0 "$app" 2>/dev/null || break; sleep 0.5; done
  kill "$app" 2>/dev/null || true
fi
wait "$app" 2>/dev/null || true
