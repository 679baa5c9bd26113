# Sourced by the scripts that run Windows programs: one throwaway Wine prefix
# per build folder, quiet, with no prompts for components we don't use.
QIMBO_ROOT=${QIMBO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$QIMBO_ROOT/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
# For the window tests, which run one at a time: waits until a Wine server an
# earlier test left behind has finished leaving, so that a program started now
# does not reach one on its way out and get cut off. (The wine.* unit tests
# run side by side in one prefix and must not wait for each other.)
wine_settle() { wineserver -w 2>/dev/null || true; }
