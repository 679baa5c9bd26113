#!/usr/bin/env bash
# The sync of 1,320 favorites (44 categories of 30) with a tenth changed on
# each of two machines, against a plain download followed by a plain upload
# of the same tree, through qimbo-tool against a real qimbo-server on
# loopback. One run; reports, never fails on the figure.
#   sync-bench.sh QIMBO-SERVER QIMBO-TOOL
set -u
source "$(dirname "$0")/../tests/win/kit.sh"
SERVER=$1
TOOL=$2
kit_tmp
DIR=$tmp
fail() { echo "FAIL: $*"; exit 1; }
cd "$DIR" || exit 1
ADDR=127.0.0.71
NET="--server $ADDR --bind 127.0.0.72 --port-base 28030 --server-port-base 28080 --timeout 10"
"$SERVER" user add 10001 pw1 a --db b.db >/dev/null && "$SERVER" user add 10002 pw2 b --db b.db >/dev/null || fail "user add"
kit_serve server.log "$SERVER" serve --db b.db --listen $ADDR --port-base 28080 --client-port-base 28030 ||
  fail "the server did not start"
ms() { echo $(( $(date +%s%N) / 1000000 )); }

python3 - <<'PY'
import json
with open("tree.jsonl", "w") as f:
    for c in range(44):
        f.write(json.dumps({"name": "分类%d" % c, "kind": 0, "slot": c}, ensure_ascii=False) + "\n")
        for i in range(30):
            f.write(json.dumps({"name": "网站%d-%d" % (c, i), "kind": 1, "parent": "分类%d" % c, "slot": i,
                                "address": "http://s%d-%d.example.com/" % (c, i), "icon": "i.ico"},
                               ensure_ascii=False) + "\n")
PY
"$TOOL" fav make tree.jsonl a.sc >/dev/null && cp a.sc b.sc || fail "fav make"
"$TOOL" net sync a.sc $NET --user 10001 --password pw1 >/dev/null 2>&1 || fail "first sync of a"
"$TOOL" net sync b.sc $NET --user 10001 --password pw1 >/dev/null 2>&1 || fail "first sync of b"
# A tenth changed on each side: A renames 132 favorites, B notes 132 others.
change() {  # change FILE FIELD VALUE FIRST
  "$TOOL" fav dump "$1" | python3 -c '
import json, sys
field, value, first = sys.argv[1], sys.argv[2], int(sys.argv[3])
k = 0
for line in sys.stdin:
    n = json.loads(line)
    if n["kind"] == 1:
        if first <= k < first + 132: n[field] = n[field] + value if field == "name" else value
        k += 1
    print(json.dumps(n, ensure_ascii=False))' "$2" "$3" "$4" >edit.jsonl && "$TOOL" fav make edit.jsonl "$1" >/dev/null
}
change a.sc name " 新" 0 && change b.sc note "B的备注" 600 || fail "changes"
"$TOOL" net sync a.sc $NET --user 10001 --password pw1 >/dev/null 2>&1 || fail "sync of a's changes"

# The cost of a login and a logout alone: a download of a user with nothing
# stored (the median of three); the plain pair likewise, the sync once (its
# changes are gone after it).
median3() { python3 -c "import sys; print(sorted(map(int, sys.argv[1:]))[1])" "$@"; }
o=""
for i in 1 2 3; do t0=$(ms); "$TOOL" net download none.sc $NET --user 10002 --password pw2 >/dev/null 2>&1; o="$o $(( $(ms) - t0 ))"; done
over=$(median3 $o)
t0=$(ms); "$TOOL" net sync b.sc $NET --user 10001 --password pw1 >sync.json 2>sync.err || fail "sync: $(cat sync.err)"; t1=$(ms)
sync=$((t1 - t0))
p=""
for i in 1 2 3; do
  t0=$(ms)
  "$TOOL" net download plain.sc $NET --user 10001 --password pw1 >/dev/null 2>&1 || fail "download"
  "$TOOL" net upload plain.sc $NET --user 10001 --password pw1 >/dev/null 2>&1 || fail "upload"
  p="$p $(( $(ms) - t0 ))"
done
pair=$(median3 $p)
cat sync.json
python3 -c "
s, p, o = $sync, $pair, $over
print('sync of 1,320 favorites (1,364 nodes), a tenth changed on each side: %d ms; plain download + upload: %d ms; ratio %.2f' % (s, p, s / p))
print('without the logins and logouts (%d ms each): sync %d ms, download + upload %d ms; ratio %.2f' % (o, s - o, p - 2 * o, (s - o) / max(1, p - 2 * o)))
"
