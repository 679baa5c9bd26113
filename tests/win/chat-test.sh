#!/usr/bin/env bash
# The chat window against the real server:   chat-test.sh QIMBO-SERVER TEST.exe
# Starts qimbo-server on loopback with two users and ports of this suite's
# own, runs the window test under Wine on a private display, and stops the
# server again (also when the test fails).
set -uo pipefail
source "$(dirname "$0")/kit.sh"
kit_prefix || exit 1
server=$(readlink -f "$1")
exe=$2
ADDR=127.0.0.48  # not the programs' own 127.0.0.1: their lines to themselves must not pass for the server's
SPORT=28480
CPORT=28430
kit_tmp
"$server" user add 10001 pw1 甲 --db "$tmp/chat.db" >/dev/null || exit 1
"$server" user add 10002 pw2 乙 --db "$tmp/chat.db" >/dev/null || exit 1
kit_serve "$tmp/server.log" "$server" serve --db "$tmp/chat.db" --listen $ADDR --port-base $SPORT --client-port-base $CPORT ||
  { echo "the server did not start"; cat "$tmp/server.log"; exit 1; }
QIMBO_CHAT_SERVER=$ADDR:$SPORT:$CPORT kit_gui "$exe"
rc=$?
[ $rc -eq 0 ] || { echo "server log:"; cat "$tmp/server.log"; }
exit $rc
