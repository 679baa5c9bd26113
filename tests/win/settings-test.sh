#!/usr/bin/env bash
# The settings window from outside:   settings-test.sh WINBUILD SHOTS
# Lays out a program folder, runs settings_driver.exe with the stand-in
# browser under Wine on a private display, and keeps its screenshots as PNG.
set -uo pipefail
source "$(dirname "$0")/kit.sh"
kit_prefix --profile || exit 1
kit_program_folder "$1" "$2" || exit 1
kit_gui "$win/tests/win/settings_driver.exe" "$(winpath "$tmp/Qimbo")" "$(winpath "$win/tests/win/fakes")" \
  "$(winpath "$shots")"
rc=$?
kit_png "$shots" settings-dialog settings-making-skin
exit $rc
