# Sourced by the scripts that run Windows programs: one throwaway Wine prefix
# per build folder, quiet, with no prompts for components we don't use.
QIMBO_ROOT=${QIMBO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
# A window test may have a prefix of its own (QIMBO_OWN_PREFIX, which ctest
# sets), made here as a copy of the build's prefix (QIMBO_BASE_PREFIX) by
# scripts/wine-own-prefix.sh, so that window tests run side by side.
if [ -n "${QIMBO_OWN_PREFIX:-}" ]; then
  export QIMBO_BASE_PREFIX=${QIMBO_BASE_PREFIX:-$QIMBO_ROOT/build/wineprefix}
  "$QIMBO_ROOT/scripts/wine-own-prefix.sh" || { echo "wine-env: no Wine prefix $QIMBO_OWN_PREFIX" >&2; exit 1; }
  export WINEPREFIX=$QIMBO_OWN_PREFIX
else
  export WINEPREFIX=${WINEPREFIX:-$QIMBO_ROOT/build/wineprefix}
fi
# The first display number a private Xvfb tries (xvfb-run -a -n): tests that
# run side by side start from numbers of their own, so none takes another's.
export QIMBO_XVFB_FROM=${QIMBO_XVFB_FROM:-99}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
# For the window tests: waits until a Wine server an earlier test (in the same
# prefix) left behind has finished leaving, so that a program started now
# does not reach one on its way out and get cut off. (The wine.* unit tests
# run side by side in one prefix and must not wait for each other.)
wine_settle() { wineserver -w 2>/dev/null || true; }
