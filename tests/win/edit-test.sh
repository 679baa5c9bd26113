#!/usr/bin/env bash
# The item editor from outside:   edit-test.sh WINBUILD QIMBO-TOOL SHOTS
# Lays out a program folder, runs edit_driver.exe under Wine on a private
# display, then reads the edited favorites with qimbo-tool and keeps the
# editor's screenshot as a PNG.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
"$QIMBO_ROOT/scripts/wine-prefix.sh"
win=$(cd "$1" && pwd)
tool=$2
mkdir -p "$3"
shots=$(cd "$3" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$QIMBO_ROOT/scripts/layout.sh" "$win" "$tmp/Qimbo" >/dev/null || exit 1
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
"$here/gui-run.sh" "$win/tests/win/edit_driver.exe" "$(winpath "$tmp/Qimbo")" "$(winpath "$shots")"
rc=$?
if [ -f "$shots/editor_dialog.bmp" ] && command -v convert >/dev/null; then
  convert "$shots/editor_dialog.bmp" "$shots/editor_dialog.png" && rm -f "$shots/editor_dialog.bmp"
fi
# The favorites file as the command-line tool reads it.
file="$tmp/Qimbo/data/1-我的收藏.sc"
if "$tool" fav dump "$file" >"$tmp/dump"; then
  for want in '"name":"my page one","kind":1,"address":"http://one.example/newpage","parent":"音乐"' \
              '\\qimbo.exe","note":"hello world"' \
              '"script":1,"circle":"Reserved"' \
              '"name":"page two","kind":1,"address":"http://two.example/","parent":"新闻"'; do
    if grep -q -F "$want" "$tmp/dump"; then echo "ok: qimbo-tool finds $want"; else echo "FAILED: qimbo-tool finds $want"; rc=1; fi
  done
  [ $rc = 0 ] || cat "$tmp/dump"
else
  echo "FAILED: qimbo-tool cannot read $file"; rc=1
fi
exit $rc
