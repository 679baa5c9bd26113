#!/usr/bin/env bash
# The script recorder from outside:   recorder-test.sh WINBUILD QIMBO-TOOL SHOTS
# Lays out a program folder (Movrec.dll and the script folders with it), runs
# recorder_driver.exe under Wine on a private display, then reads the
# favorites it kept with qimbo-tool and keeps the recorder's screenshot as a PNG.
set -uo pipefail
source "$(dirname "$0")/kit.sh"
kit_tool_wrapper --profile "$@" || exit 1
kit_gui "$win/tests/win/recorder_driver.exe" "$(winpath "$tmp/Qimbo")" "$(winpath "$tmp/control")" "$(winpath "$shots")"
rc=$?
kit_png "$shots" recorder
dumped() {  # dumped FILE PATTERN
  "$tool" fav dump "$tmp/control/$1" 2>/dev/null | grep -q "$2"
}
check 'qimbo-tool: Mail is marked after the recording' dumped after-record.sc '"name":"Mail","kind":1,.*"script":1,'
check 'qimbo-tool: Bank is not marked yet' dumped after-record.sc '"name":"Bank","kind":1,.*"script":0,'
check 'qimbo-tool: Bank is marked after its recordings' dumped final.sc '"name":"Bank","kind":1,.*"script":1,'
check 'qimbo-tool: Shop, closed while recording, is not marked' dumped final.sc '"name":"Shop","kind":1,.*"script":0,'
[ $failures = 0 ] || rc=1
exit $rc
