#!/usr/bin/env bash
# Runs one Windows test program under Wine in the build's prefix (or the
# test's own, QIMBO_OWN_PREFIX).
set -uo pipefail
source "$(dirname "$0")/kit.sh"
kit_prefix || exit 1
exe=$(readlink -f "$1"); shift
cd "$(dirname "$exe")"
DISPLAY= wine "$exe" "$@"
