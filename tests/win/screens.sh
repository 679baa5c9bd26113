#!/usr/bin/env bash
# Screenshots of the main window for a human look: web-address folder,
# program folder, and two skins.   screens.sh WINBUILD OUTDIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
"$QIMBO_ROOT/scripts/wine-prefix.sh"
"$QIMBO_ROOT/scripts/wine-profile.sh"
wine_settle
win=$(cd "$1" && pwd)
out=$2
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$QIMBO_ROOT/scripts/layout.sh" "$win" "$tmp/Qimbo" >/dev/null || exit 1
cat >"$tmp/run.sh" <<SCRIPT
folder='Z:$(echo "$tmp/Qimbo" | tr / '\\')'
wine "$win/tests/win/shot_driver.exe" "\$folder" &
driver=\$!
for name in web program skin4000 skin3999; do
  for i in \$(seq 1 600); do [ -f "$tmp/Qimbo/shot-\$name.ready" ] && break; sleep 0.05; done
  [ -f "$tmp/Qimbo/shot-\$name.ready" ] || break
  import -window root "$out/main-\$name.png"
  touch "$tmp/Qimbo/shot-\$name.done"
done
wait \$driver
SCRIPT
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$tmp/run.sh"
rc=$?
ls "$out"/main-*.png 2>/dev/null
exit $rc
