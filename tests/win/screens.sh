#!/usr/bin/env bash
# Screenshots of the main window for a human look: web-address folder,
# program folder, and two skins.   screens.sh WINBUILD OUTDIR
set -uo pipefail
source "$(dirname "$0")/kit.sh"
kit_prefix --profile || exit 1
wine_settle
kit_program_folder "$1" "$2" || exit 1
out=$shots
cat >"$tmp/run.sh" <<SCRIPT
folder='$(winpath "$tmp/Qimbo")'
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
kit_xvfb_run bash "$tmp/run.sh"
rc=$?
ls "$out"/main-*.png 2>/dev/null
exit $rc
