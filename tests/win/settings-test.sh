#!/usr/bin/env bash
# The settings window from outside:   settings-test.sh WINBUILD SHOTS
# Lays out a program folder, runs settings_driver.exe with the stand-in
# browser under Wine on a private display, and keeps its screenshots as PNG.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
"$QIMBO_ROOT/scripts/wine-prefix.sh"
"$QIMBO_ROOT/scripts/wine-profile.sh"
win=$(cd "$1" && pwd)
mkdir -p "$2"
shots=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$QIMBO_ROOT/scripts/layout.sh" "$win" "$tmp/Qimbo" >/dev/null || exit 1
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
"$here/gui-run.sh" "$win/tests/win/settings_driver.exe" "$(winpath "$tmp/Qimbo")" "$(winpath "$win/tests/win/fakes")" \
  "$(winpath "$shots")"
rc=$?
for shot in settings-dialog settings-making-skin; do
  if [ -f "$shots/$shot.bmp" ] && command -v convert >/dev/null; then
    convert "$shots/$shot.bmp" "$shots/$shot.png" && rm -f "$shots/$shot.bmp"
  fi
done
exit $rc
