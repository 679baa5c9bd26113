# Sourced (by bash) by the wrappers of the window, two-program and release
# tests and by the scripts that run a server: the Wine settings, Windows
# paths, program folders, screenshots as PNG, a private X display, a
# temporary folder cleaned at exit, background servers, and ok/fail lines.
kit_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$kit_dir/../../scripts/wine-env.sh"

# ---- Wine ---------------------------------------------------------------------------

# The build's Wine prefix, made once; with --profile also the desktop and
# Start menu folders of a Chinese Windows, which the program reads.
kit_prefix() {
  "$QIMBO_ROOT/scripts/wine-prefix.sh" || return 1
  [ "${1:-}" != --profile ] || "$QIMBO_ROOT/scripts/wine-profile.sh"
}

# A Unix path as a program under Wine sees it: drive Z: is the root folder.
# (Asking winepath would start Wine outside the test's X display.)
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

# A program folder laid out from a Windows build:   kit_layout WINBUILD FOLDER
kit_layout() { "$QIMBO_ROOT/scripts/layout.sh" "$1" "$2" >/dev/null; }

# The start of a driver's wrapper:   kit_program_folder WINBUILD SHOTS
# sets $win (the Windows build) and $shots (made), both absolute, makes $tmp
# and lays out the program folder $tmp/Qimbo.
kit_program_folder() {
  win=$(cd "$1" && pwd) || return 1
  mkdir -p "$2" && shots=$(cd "$2" && pwd) || return 1
  kit_tmp
  kit_layout "$win" "$tmp/Qimbo"
}

# The start of a wrapper that reads the program's favorites with qimbo-tool
# afterwards:   kit_tool_wrapper [--profile] WINBUILD QIMBO-TOOL SHOTS
# the Wine prefix (kit_prefix, with --profile when given), $tool, the program
# folder (kit_program_folder) and an empty folder $tmp/control.
kit_tool_wrapper() {
  local profile=
  if [ "${1:-}" = --profile ]; then profile=--profile; shift; fi
  kit_prefix $profile || return 1
  tool=$2
  kit_program_folder "$1" "$3" || return 1
  mkdir -p "$tmp/control"
}

# Runs a command on an X display of its own, which ends with it (the first
# free number from $QIMBO_XVFB_FROM, so that tests side by side take others).
kit_xvfb_run() { xvfb-run -a -n "${QIMBO_XVFB_FROM:-99}" -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"; }

# A Windows program under Wine on an X display of its own, started in its
# own folder once a Wine server an earlier test left behind has gone.
kit_gui() {
  wine_settle
  local exe
  exe=$(readlink -f "$1")
  shift
  (cd "$(dirname "$exe")" && kit_xvfb_run wine "$exe" "$@")
}

# A free X display number from 140 up (no socket, no lock file).
kit_free_display() {
  local n
  for n in $(seq 140 220); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { echo "$n"; return 0; }
  done
  return 1
}

# Screenshots the drivers left as BMP, kept as PNG:   kit_png FOLDER NAME...
kit_png() {
  local dir=$1 name
  shift
  command -v convert >/dev/null || return 0
  for name in "$@"; do
    [ -f "$dir/$name.bmp" ] && convert "$dir/$name.bmp" "$dir/$name.png" && rm -f "$dir/$name.bmp"
  done
  return 0
}

# ---- a temporary folder and what runs in the background -------------------------------

# Makes $tmp; at exit every process kit_track was given is stopped, every
# command kit_at_exit was given is run, and $tmp is removed.
kit_pids=()
kit_exit_commands=()
kit_track() { kit_pids+=("$@"); }
# Stops one tracked process now (and forgets it).
kit_stop() {
  local p rest=()
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null
  for p in "${kit_pids[@]}"; do [ "$p" = "$1" ] || rest+=("$p"); done
  kit_pids=("${rest[@]}")
}
kit_at_exit() { kit_exit_commands+=("$1"); }
kit_cleanup() {
  local p c
  for c in "${kit_exit_commands[@]}"; do eval "$c"; done
  for p in "${kit_pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${kit_pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$tmp"
}
kit_tmp() {
  tmp=$(mktemp -d)
  trap kit_cleanup EXIT
  trap 'exit 1' INT TERM
}

# Waits until FILE has COUNT lines (default 1) matching PATTERN, for up to
# TENTHS tenths of a second (default $kit_patience, 10 s).
kit_patience=100
kit_wait_for() {
  local file=$1 pattern=$2 count=${3:-1} tenths=${4:-$kit_patience} i
  for i in $(seq "$tenths"); do
    [ "$(grep -c -- "$pattern" "$file" 2>/dev/null)" -ge "$count" ] 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Starts a server in the background, its output to LOG, tracked for the
# exit, and waits for its COUNT-th (default first) "listening" line in LOG;
# $kit_server is its process:   kit_serve LOG [--count N] COMMAND...
kit_serve() {
  local log=$1 count=1
  shift
  [ "$1" = --count ] && { count=$2; shift 2; }
  "$@" >>"$log" 2>&1 &
  kit_server=$!
  kit_track $kit_server
  kit_wait_for "$log" listening "$count"
}

# ---- results -------------------------------------------------------------------------

failures=0
ok() { echo "ok: $*"; }
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
