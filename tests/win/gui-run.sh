#!/usr/bin/env bash
# Runs a Windows window-test driver under Wine on a private X display.
set -uo pipefail
source "$(dirname "$0")/../../scripts/wine-env.sh"
"$QIMBO_ROOT/scripts/wine-prefix.sh"
# The window tests run one at a time: a Wine server the last one left behind
# may be on its way out, and a program that reached it then would be cut off.
wineserver -w 2>/dev/null || true
exe=$(readlink -f "$1"); shift
cd "$(dirname "$exe")"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" wine "$exe" "$@"
