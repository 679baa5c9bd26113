#!/usr/bin/env bash
# Runs a driver against Qimbo.exe in a fresh copy of the program folder:
#   app-test.sh WINBUILD DRIVER.exe
# The folder is laid out from WINBUILD, the Wine profile gets its desktop and
# Start menu, and the driver is given the folder's Windows path.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
"$QIMBO_ROOT/scripts/wine-prefix.sh"
"$QIMBO_ROOT/scripts/wine-profile.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$QIMBO_ROOT/scripts/layout.sh" "$1" "$tmp/Qimbo" >/dev/null || exit 1
# Wine's drive Z: is the root folder. (Asking winepath would start Wine
# outside the test's X display.)
"$here/gui-run.sh" "$2" "Z:$(echo "$tmp/Qimbo" | tr / '\\')"
