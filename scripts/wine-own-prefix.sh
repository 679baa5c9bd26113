#!/usr/bin/env bash
# Makes a test's own Wine prefix, $QIMBO_OWN_PREFIX, as a copy of the build's
# prefix $QIMBO_BASE_PREFIX (made first by wine-prefix.sh when missing): once,
# and again when the build's prefix is made anew. scripts/wine-env.sh runs it.
# The system's programs and libraries are hard links to the build prefix's,
# which Wine only reads; the registry, the profiles and every other file are
# copies, which the test may change as it likes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
own=$QIMBO_OWN_PREFIX
base=$QIMBO_BASE_PREFIX
env -u QIMBO_OWN_PREFIX WINEPREFIX="$base" "$here/wine-prefix.sh"
ready=$(cd "$base" && ls -d .qimbo-ready-* | head -1)
stamp=$own/.qimbo-copy-$ready-$(stat -c %Y "$base/$ready")
[ -f "$stamp" ] && exit 0
mkdir -p "$(dirname "$own")"
exec 9>"$own.lock"
flock 9
[ -f "$stamp" ] && exit 0
[ -d "$own" ] && { WINEPREFIX=$own wineserver -k 2>/dev/null || true; }
rm -rf "$own"
if cp -al "$base" "$own" 2>/dev/null; then
  find "$own" -type f \( ! -path "$own/drive_c/windows/*" -o \
    ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.sys' -o -iname '*.drv' -o -iname '*.nls' -o -iname '*.ocx' \
         -o -iname '*.cpl' -o -iname '*.acm' -o -iname '*.tlb' -o -iname '*.ds' -o -iname '*.msstyles' \) \) -print0 |
    while IFS= read -r -d '' f; do cp -p "$f" "$f.copy" && mv -f "$f.copy" "$f"; done
else  # another file system: a plain copy
  rm -rf "$own"
  cp -a "$base" "$own"
fi
rm -f "$own/.update-timestamp.lock"
touch "$stamp"
