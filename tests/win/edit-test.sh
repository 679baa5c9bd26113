#!/usr/bin/env bash
# The item editor from outside:   edit-test.sh WINBUILD QIMBO-TOOL SHOTS
# Lays out a program folder, runs edit_driver.exe under Wine on a private
# display, then reads the edited favorites with qimbo-tool and keeps the
# editor's screenshot as a PNG.
set -uo pipefail
source "$(dirname "$0")/kit.sh"
kit_tool_wrapper "$@" || exit 1
kit_gui "$win/tests/win/edit_driver.exe" "$(winpath "$tmp/Qimbo")" "$(winpath "$shots")"
rc=$?
kit_png "$shots" editor_dialog
# The favorites file as the command-line tool reads it.
file="$tmp/Qimbo/data/1-我的收藏.sc"
if "$tool" fav dump "$file" >"$tmp/dump"; then
  for want in '"name":"my page one","kind":1,"address":"http://one.example/newpage","parent":"音乐"' \
              '\\qimbo.exe","note":"hello world"' \
              '"script":1,"circle":"Reserved"' \
              '"name":"page two","kind":1,"address":"http://two.example/","parent":"新闻"'; do
    check "qimbo-tool finds $want" grep -q -F "$want" "$tmp/dump"
  done
  [ $failures = 0 ] || cat "$tmp/dump"
else
  fail "qimbo-tool cannot read $file"
fi
[ $failures = 0 ] || rc=1
exit $rc
