#!/usr/bin/env bash
# The script recorder from outside:   recorder-test.sh WINBUILD QIMBO-TOOL SHOTS
# Lays out a program folder (Movrec.dll and the script folders with it), runs
# recorder_driver.exe under Wine on a private display, then reads the
# favorites it kept with qimbo-tool and keeps the recorder's screenshot as a PNG.
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
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/control"
"$QIMBO_ROOT/scripts/layout.sh" "$win" "$tmp/Qimbo" >/dev/null || exit 1
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
"$here/gui-run.sh" "$win/tests/win/recorder_driver.exe" "$(winpath "$tmp/Qimbo")" "$(winpath "$tmp/control")" \
  "$(winpath "$shots")"
rc=$?
if [ -f "$shots/recorder.bmp" ] && command -v convert >/dev/null; then
  convert "$shots/recorder.bmp" "$shots/recorder.png" && rm -f "$shots/recorder.bmp"
fi
check() {  # check FILE PATTERN WHAT
  if "$tool" fav dump "$tmp/control/$1" 2>/dev/null | grep -q "$2"; then echo "ok: $3"; else echo "FAILED: $3"; rc=1; fi
}
check after-record.sc '"name":"Mail","kind":1,.*"script":1,' 'qimbo-tool: Mail is marked after the recording'
check after-record.sc '"name":"Bank","kind":1,.*"script":0,' 'qimbo-tool: Bank is not marked yet'
check final.sc '"name":"Bank","kind":1,.*"script":1,' 'qimbo-tool: Bank is marked after its recordings'
check final.sc '"name":"Shop","kind":1,.*"script":0,' 'qimbo-tool: Shop, closed while recording, is not marked'
exit $rc
