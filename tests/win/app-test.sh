#!/usr/bin/env bash
# Runs a driver against Qimbo.exe in a fresh copy of the program folder:
#   app-test.sh WINBUILD DRIVER.exe
# The folder is laid out from WINBUILD, the Wine profile gets its desktop and
# Start menu, and the driver is given the folder's Windows path.
set -uo pipefail
source "$(dirname "$0")/kit.sh"
kit_prefix --profile || exit 1
kit_tmp
kit_layout "$1" "$tmp/Qimbo" || exit 1
kit_gui "$2" "$(winpath "$tmp/Qimbo")"
