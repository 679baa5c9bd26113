#!/usr/bin/env bash
# The capture from outside:   capture-test.sh WINBUILD QIMBO-TOOL SHOTS
# Starts the two local web sites (capture_server.py, stopped again at the
# end), lays out a program folder and runs capture_driver.exe with the
# stand-in browsers under Wine on a private display; then reads the captured
# favorites with qimbo-tool and keeps the chooser's screenshot as a PNG.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
"$QIMBO_ROOT/scripts/wine-prefix.sh"
"$QIMBO_ROOT/scripts/wine-profile.sh"
win=$(cd "$1" && pwd)
tool=$2
mkdir -p "$3"
shots=$(cd "$3" && pwd)
tmp=$(mktemp -d)
mkdir -p "$tmp/control"
python3 "$here/capture_server.py" "$tmp/control" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$tmp"' EXIT
for i in $(seq 1 100); do [ -f "$tmp/control/ports" ] && break; sleep 0.1; done
[ -f "$tmp/control/ports" ] || { echo "the web sites did not start" >&2; exit 1; }
"$QIMBO_ROOT/scripts/layout.sh" "$win" "$tmp/Qimbo" >/dev/null || exit 1
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
"$here/gui-run.sh" "$win/tests/win/capture_driver.exe" "$(winpath "$tmp/Qimbo")" "$(winpath "$win/tests/win/fakes")" \
  "$(winpath "$tmp/control")" "$(winpath "$shots")"
rc=$?
if [ -f "$shots/chooser-over-browser.bmp" ] && command -v convert >/dev/null; then
  convert "$shots/chooser-over-browser.bmp" "$shots/chooser-over-browser.png" && rm -f "$shots/chooser-over-browser.bmp"
fi
# The favorites file as the command-line tool reads it.
if [ -f "$tmp/control/captured.sc" ]; then
  "$tool" fav dump "$tmp/control/captured.sc" >"$tmp/dump" || { echo "FAILED: qimbo-tool cannot read it"; rc=1; }
  for want in '"name":"ie page ","kind":1,"address":"http://127.0.0.1:[0-9]*/ie/page.html","parent":"新闻"' \
              '"name":"slow news","kind":1,"address":"http://127.0.0.1:[0-9]*/slow/news.html","parent":"工具"' \
              '"name":"fx page","kind":1,"address":"http://127.0.0.1:[0-9]*/fx/a.html","parent":"新闻"'; do
    if grep -q "$want" "$tmp/dump"; then echo "ok: qimbo-tool finds $want"; else echo "FAILED: qimbo-tool finds $want"; rc=1; fi
  done
else
  echo "FAILED: no captured favorites file"; rc=1
fi
exit $rc
