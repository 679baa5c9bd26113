#!/usr/bin/env bash
# Makes a delay-load import library from a system import library: the program
# then loads that DLL on the first call into it rather than before it starts.
#   delay-lib.sh NM DLLTOOL IMPORT-LIB DLL-NAME OUTPUT
set -euo pipefail
nm=$1 dlltool=$2 implib=$3 dll=$4 out=$5
def="$out.def"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" -g "$implib" | awk '$2 == "I" && $3 ~ /^__imp_/ { sub(/^__imp_/, "", $3); print $3 }' | sort -u
} >"$def"
# Written beside, then moved: an interrupted run leaves no half library.
tmp=$(mktemp -d "$(dirname "$out")/tmp.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && "$dlltool" --input-def "$def" --output-delaylib "$(basename "$out")" --dllname "$dll")
mv "$tmp/$(basename "$out")" "$out"
