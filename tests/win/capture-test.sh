#!/usr/bin/env bash
# The capture from outside:   capture-test.sh WINBUILD QIMBO-TOOL SHOTS
# Starts the two local web sites (capture_server.py, stopped again at the
# end), lays out a program folder and runs capture_driver.exe with the
# stand-in browsers under Wine on a private display; then reads the captured
# favorites with qimbo-tool and keeps the chooser's screenshot as a PNG.
set -uo pipefail
source "$(dirname "$0")/kit.sh"
kit_tool_wrapper --profile "$@" || exit 1
python3 "$kit_dir/capture_server.py" "$tmp/control" &
kit_track $!
kit_wait_for "$tmp/control/ports" . || { echo "the web sites did not start" >&2; exit 1; }
kit_gui "$win/tests/win/capture_driver.exe" "$(winpath "$tmp/Qimbo")" "$(winpath "$win/tests/win/fakes")" \
  "$(winpath "$tmp/control")" "$(winpath "$shots")"
rc=$?
kit_png "$shots" chooser-over-browser
# The favorites file as the command-line tool reads it.
if [ -f "$tmp/control/captured.sc" ]; then
  "$tool" fav dump "$tmp/control/captured.sc" >"$tmp/dump" || fail "qimbo-tool cannot read it"
  for want in '"name":"ie page ","kind":1,"address":"http://127.0.0.1:[0-9]*/ie/page.html","parent":"新闻"' \
              '"name":"slow news","kind":1,"address":"http://127.0.0.1:[0-9]*/slow/news.html","parent":"工具"' \
              '"name":"fx page","kind":1,"address":"http://127.0.0.1:[0-9]*/fx/a.html","parent":"新闻"'; do
    check "qimbo-tool finds $want" grep -q "$want" "$tmp/dump"
  done
else
  fail "no captured favorites file"
fi
[ $failures = 0 ] || rc=1
exit $rc
