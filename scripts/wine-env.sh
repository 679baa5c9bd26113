# Sourced by the scripts that run Windows programs: one throwaway Wine prefix
# per build folder, quiet, with no prompts for components we don't use.
QIMBO_ROOT=${QIMBO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$QIMBO_ROOT/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
