#!/usr/bin/env bash
# Runs a Windows window-test driver under Wine on a private X display.
set -uo pipefail
source "$(dirname "$0")/kit.sh"
kit_prefix || exit 1
kit_gui "$@"
