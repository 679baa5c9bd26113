#!/bin/sh
# A 1,320-node favorites file uploaded and downloaded again with qimbo-tool
# through a relay that drops a share of the datagrams both ways (a fixed
# seed): both transfers complete and the folders match.
# Usage: lossy_e2e.sh QIMBO-SERVER QIMBO-TOOL QIMBO-LOSSY-RELAY [LOSS...]
# With LOSS values (e.g. 0 0.05 0.10) it is the benchmark: one upload and
# one download at each, timed, reported as a ratio to the first.
set -u
SERVER=$1
TOOL=$2
RELAY=$3
shift 3
BENCH=0
[ $# -gt 0 ] && BENCH=1
[ $# -gt 0 ] || set -- 0.10
DIR=$(mktemp -d)
PID=
RPID=
cleanup() {
  [ -n "$RPID" ] && kill "$RPID" 2>/dev/null && wait "$RPID" 2>/dev/null
  [ -n "$PID" ] && kill "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
  rm -rf "$DIR"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$DIR/server.log" ] && tail -20 "$DIR/server.log"; exit 1; }

# Addresses and ports of their own, so that other suites can run alongside.
ADDR=127.0.0.71     # the server
RADDR=127.0.0.72    # the relay, which the program takes for its server
CLIENT=127.0.0.73
SPORT=27180
RPORT=27280
APORT=27330
CPORT=27130
NET="--server $RADDR --bind $CLIENT --port-base $CPORT --server-port-base $RPORT --user 10001 --password pw1 --timeout 20"

cd "$DIR" || exit 1
"$SERVER" user add 10001 pw1 nick --db lossy.db >/dev/null || fail "user add"
"$SERVER" serve --db lossy.db --listen $ADDR --port-base $SPORT --client-port-base $APORT 2>server.log &
PID=$!
for i in $(seq 100); do grep -q listening server.log 2>/dev/null && break; sleep 0.1; done
grep -q listening server.log || fail "the server did not start"

# 44 categories of 29 items: 1,320 nodes.
: > in.jsonl
for c in $(seq 0 43); do
  echo "{\"name\":\"类$c\",\"kind\":0,\"slot\":$c}" >> in.jsonl
  for i in $(seq 0 28); do
    echo "{\"name\":\"项$c-$i\",\"kind\":1,\"address\":\"http://e$c.example/$i?q=<x>\",\"parent\":\"类$c\",\"slot\":$i,\"note\":\"备注$i\",\"icon\":\"i$i.ico\"}" >> in.jsonl
  done
done
"$TOOL" fav make in.jsonl up.sc || fail "fav make"
# The same tree, whatever the order its nodes were added in.
dump() { "$TOOL" fav dump "$1" | sed -E 's/"time":[0-9]+,//' | sort; }
now() { date +%s.%N; }

BASE=
for LOSS in "$@"; do
  "$RELAY" $RADDR $RPORT $ADDR $SPORT $APORT $CLIENT $CPORT "$LOSS" 32 2>relay.log &
  RPID=$!
  sleep 0.2
  T0=$(now)
  "$TOOL" net upload up.sc $NET 2>up.err || fail "upload at loss $LOSS: $(cat up.err)"
  T1=$(now)
  rm -f down.sc
  "$TOOL" net download down.sc $NET 2>down.err || fail "download at loss $LOSS: $(tail -3 down.err)"
  T2=$(now)
  kill "$RPID"; wait "$RPID" 2>/dev/null; RPID=
  dump up.sc > up.json
  dump down.sc > down.json
  [ "$(grep -c '"kind":1' down.json)" = 1276 ] || fail "at loss $LOSS the download holds $(grep -c '"kind":1' down.json) items"
  cmp -s up.json down.json || { diff up.json down.json | grep "^[<>]" | sed -n "1p;\$p" | cut -c1-300; fail "the folders differ at loss $LOSS"; }
  if [ $BENCH = 1 ]; then
    UP=$(echo "$T1 - $T0" | bc); DOWN=$(echo "$T2 - $T1" | bc)
    [ -z "$BASE" ] && BASE=$(echo "$UP + $DOWN" | bc)
    printf 'loss %4s: upload %6.2f s, download %6.2f s, together %5.1fx the first run (%s)\n' "$LOSS" "$UP" "$DOWN" \
      "$(echo "($UP + $DOWN) / $BASE" | bc -l)" "$(cat relay.log)"
  fi
done
echo "lossy transfers: ok ($*)"
