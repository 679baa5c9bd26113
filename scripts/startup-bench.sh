#!/usr/bin/env bash
# Start-up time of Qimbo.exe with a 1,320-item favorites file (44 categories
# of 30 bookmarks), as a ratio against a minimal Win32 dialog program started
# the same way in the same run: both under Wine on one private display, each
# timed from process start to its first visible window, median of RUNS runs;
# then the same to the moment that window answers a sent message (its message
# loop runs and paints the first frame next). The two take turns. Both are
# timed as they ship, stripped (the build's copies carry some 30 MB of
# debugging sections, which Wine reads in whole at every start).
#   startup-bench.sh WINBUILD QIMBO-TOOL [RUNS]
# With QIMBO_STARTUP_TRACE set to a Windows path (Z:\tmp\trace.txt), Qimbo.exe
# appends its start-up steps with their times to that file.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh"
"$root/scripts/wine-profile.sh"
wine_settle
win=$(cd "$1" && pwd)
tool=$2
runs=${3:-7}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$root/scripts/layout.sh" "$win" "$tmp/Qimbo" >/dev/null || exit 1
strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$win/CMakeCache.txt" 2>/dev/null)
strip=${strip:-x86_64-w64-mingw32-strip}
"$strip" "$tmp/Qimbo/Qimbo.exe" || exit 1
"$strip" -o "$tmp/minimal_dialog.exe" "$win/tests/win/minimal_dialog.exe" || exit 1
python3 - "$tmp/fav.jsonl" <<'PY'
import json, sys
with open(sys.argv[1], "w", encoding="utf-8") as f:
    for c in range(44):
        cat = f"目录{c:02d}"
        f.write(json.dumps({"name": cat, "kind": 0, "slot": c}, ensure_ascii=False) + "\n")
        for i in range(30):
            f.write(json.dumps({"name": f"网站{c:02d}-{i:02d}", "kind": 1, "parent": cat, "slot": i,
                                "address": f"http://www.site{c}-{i}.example/", "visits": (c * 30 + i) % 97},
                               ensure_ascii=False) + "\n")
PY
"$tool" fav make "$tmp/fav.jsonl" "$tmp/Qimbo/data/1-我的收藏.sc" >/dev/null || exit 1
dos() { echo "Z:$(echo "$1" | tr / '\\')"; }
# The two programs take turns, one start each, so that a machine that others
# load unevenly slows both alike; the medians are taken over each one's starts.
cat >"$tmp/run.sh" <<SCRIPT
t="$win/tests/win/startup_timer.exe"
wine "\$t" 1 "$(dos "$tmp/Qimbo/Qimbo.exe")" "$(dos "$tmp/Qimbo")" 1007 >/dev/null   # first start: skin set-up
for i in \$(seq $runs); do
  wine "\$t" 1 "$(dos "$tmp/Qimbo/Qimbo.exe")" "$(dos "$tmp/Qimbo")" 1007 | tr -d '\r' >>"$tmp/qimbo.txt"
  QIMBO_STARTUP_TRACE= wine "\$t" 1 "$(dos "$tmp/minimal_dialog.exe")" "$(dos "$tmp")" 0 | tr -d '\r' >>"$tmp/minimal.txt"
done
median() { sort -n | awk '{ v[NR] = \$1 } END { print v[int((NR + 1) / 2)] }'; }
q=\$(cut -d' ' -f1 "$tmp/qimbo.txt" | median); qa=\$(cut -d' ' -f2 "$tmp/qimbo.txt" | median)
m=\$(cut -d' ' -f1 "$tmp/minimal.txt" | median); ma=\$(cut -d' ' -f2 "$tmp/minimal.txt" | median)
echo "startup: Qimbo.exe \$q ms, minimal dialog \$m ms, ratio \$(echo "scale=2; \$q / \$m" | bc)"
echo "responsive: Qimbo.exe \$qa ms, minimal dialog \$ma ms, ratio \$(echo "scale=2; \$qa / \$ma" | bc)"
# Each start against the minimal dialog's start right after it: a load that
# comes and goes slows both of a pair alike, so the spread of these ratios
# tells a change from the machine's noise better than the medians do.
paste -d' ' "$tmp/qimbo.txt" "$tmp/minimal.txt" | awk '
  function q(a, n, f,   i) { i = int(f * (n - 1) + 1.5); return a[i] }
  function sorted(a, n,   i, j, t) { for (i = 2; i <= n; ++i) for (j = i; j > 1 && a[j - 1] > a[j]; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t } }
  \$3 > 0 && \$4 > 0 { ++n; v[n] = \$1 / \$3; r[n] = \$2 / \$4 }
  END {
    if (!n) exit
    sorted(v, n); sorted(r, n)
    printf "pairs: %d, visible ratio median %.2f (quartiles %.2f-%.2f), answering ratio median %.2f (quartiles %.2f-%.2f)\n", n, q(v, n, .5), q(v, n, .25), q(v, n, .75), q(r, n, .5), q(r, n, .25), q(r, n, .75)
  }'
SCRIPT
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$tmp/run.sh" 2>/dev/null
