#!/usr/bin/env bash
# Starts Qimbo.exe under Wine: on $DISPLAY, or on a private Xvfb when there is none.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
"$QIMBO_ROOT/scripts/wine-prefix.sh"
WIN=$QIMBO_ROOT/build/win
shot=$QIMBO_ROOT/build/qimbo-screenshot.png
xvfb_pid=
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do [ -e /tmp/.X11-unix/X$n ] || { disp=:$n; break; }; done
  Xvfb "$disp" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$disp
  sleep 1
  echo "run: no DISPLAY, using a private Xvfb on $DISPLAY"
fi
cd "$WIN"
wine "$WIN/Qimbo.exe" &
app=$!
for i in $(seq 1 60); do
  xwininfo -root -tree 2>/dev/null | grep -q 'Qimbo' && break
  sleep 0.5
done
sleep 2
import -window root "$shot" && echo "run: screenshot saved to $shot"
if [ -n "$xvfb_pid" ]; then
  echo "run: closing the program (private display)"
  wineserver -k 2>/dev/null || true
  wait "$app" 2>/dev/null || true
else
  wait "$app"
fi
