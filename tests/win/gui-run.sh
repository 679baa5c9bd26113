#!/usr/bin/env bash
# Runs a Windows window-test driver under Wine on a private X display.
set -uo pipefail
source "$(dirname "$0")/../../scripts/wine-env.sh"
"$QIMBO_ROOT/scripts/wine-prefix.sh"
wine_settle
exe=$(readlink -f "$1"); shift
cd "$(dirname "$exe")"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" wine "$exe" "$@"
