#!/usr/bin/env bash
# The wrappers' shell kit (kit.sh) on its own, without Wine: Windows paths,
# waiting for a log line, a background server stopped at once or at the exit
# with the exit commands and the temporary folder, BMP screenshots to PNG,
# and the ok/fail tally.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/kit.sh"
kit_tmp
results=0
expect() {  # what=WHAT expect COMMAND...: one line of this test's own
  if "$@"; then echo "ok: kit: $what"; else echo "FAILED: kit: $what"; results=1; fi
}
is() { [ "$1" = "$2" ] || { echo "  got '$1', wanted '$2'"; return 1; }; }

what="winpath turns every slash and keeps the rest" expect is "$(winpath "/tmp/a b/收藏/x.sc")" 'Z:\tmp\a b\收藏\x.sc'

# Waiting for lines: the count and the time-out.
printf 'starting\nlistening\n' >"$tmp/one.log"
what="kit_wait_for finds a line at once" expect kit_wait_for "$tmp/one.log" listening
what="kit_wait_for gives up on a second line after its tenths" expect bash -c '! (source "$0"; kit_wait_for "$1" listening 2 3)' "$here/kit.sh" "$tmp/one.log"
what="kit_wait_for gives up on a missing file" expect bash -c '! (source "$0"; kit_wait_for "$1" x 1 2)' "$here/kit.sh" "$tmp/none.log"

# A server in the background: waited for, stopped now, forgotten.
kit_serve "$tmp/s.log" bash -c 'sleep 0.3; echo "listening on test"; exec sleep 60'
serve_rc=$?
what="kit_serve waits for the server's listening line" expect is "$serve_rc $(grep -c listening "$tmp/s.log")" "0 1"
server=$kit_server
kit_stop "$server"
what="kit_stop ends the server and forgets it" expect bash -c '! kill -0 "$0" 2>/dev/null && [ -z "$1" ]' "$server" "${kit_pids[*]}"
kit_patience=3
kit_serve "$tmp/quiet.log" sleep 60
what="kit_serve says so when no listening line comes" expect is "$?" 1
kit_stop "$kit_server"
kit_patience=100

# At the exit: the exit commands run, tracked processes end, the folder goes,
# the tally of ok/fail is what the script reports.
cat >"$tmp/child.sh" <<'CHILD'
source "$1"
kit_tmp
sleep 60 &
kit_track $!
echo "$! $tmp" >"$2"
kit_at_exit "touch '$2.ran'"
ok "first"
fail "second"
check "third" false
check "fourth" true
echo "failures=$failures"
CHILD
bash "$tmp/child.sh" "$here/kit.sh" "$tmp/child.out" >"$tmp/child.log" 2>&1
read -r child_pid child_tmp <"$tmp/child.out"
what="at the exit the tracked process is stopped" expect bash -c '! kill -0 "$0" 2>/dev/null' "$child_pid"
what="at the exit the exit commands run" expect test -f "$tmp/child.out.ran"
what="at the exit the temporary folder is removed" expect test ! -e "$child_tmp"
what="ok, fail and check print their lines and count the failures" expect is "$(tr '\n' '|' <"$tmp/child.log")" \
  "ok: first|FAILED: second|FAILED: third|ok: fourth|failures=2|"

# Screenshots: BMPs become PNGs, what is missing is passed over.
if command -v convert >/dev/null; then
  python3 - "$tmp/shot.bmp" <<'PY'
import struct, sys
w, h = 4, 2
row = bytes([0, 0, 255] * w)
bits = row * h
with open(sys.argv[1], "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + len(bits), 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(bits), 0, 0, 0, 0))
    f.write(bits)
PY
  kit_png "$tmp" shot missing
  what="kit_png keeps a PNG in the BMP's place" expect bash -c '[ -s "$0/shot.png" ] && [ ! -e "$0/shot.bmp" ] && [ ! -e "$0/missing.png" ]' "$tmp"
  what="the PNG holds the picture" expect is "$(identify -format '%w %h' "$tmp/shot.png" 2>/dev/null)" "4 2"
else
  echo "note: no convert (ImageMagick): kit_png not tried"
fi
exit $results
