#!/bin/sh
# Runs the fuzz targets of a build folder configured with QIMBO_FUZZ.
#
#   run.sh check BUILD NAME
#       the short fixed run of `make test`: the seeds of fuzz/corpus/NAME, then
#       a fixed number of mutations from a fixed random seed; fails on a finding.
#   run.sh long BUILD SECONDS [NAME...]
#       every target (or the ones named) for SECONDS each, one after another;
#       the corpus grows in BUILD/corpus/NAME (kept between runs), findings go
#       to BUILD/findings/NAME/. Prints executions and findings per target and
#       fails when there is a finding.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
MODE=$1
BUILD=$(cd "$2" && pwd)
shift 2

# Runs of the short check, per target: about a second or two each.
check_runs() {
  case $1 in
    server_datagrams) echo 2000 ;;
    skin_db|client_datagrams|bookmark_html|chromium_bookmarks|json|favorites_file|config_file|url_file) echo 4000 ;;
    *) echo 20000 ;;
  esac
}

# A second seed folder of a target, if it has one: for the bookmark exports,
# the browsers' files the tests read.
more_seeds() {
  if [ "$1" = bookmark_html ]; then echo "$HERE/../tests/store/html"; fi
}

binary() {
  b="$BUILD/fuzz/fuzz_$1"
  [ -x "$b" ] || { echo "run.sh: no fuzz target $b (build it: cmake --build $BUILD --target fuzzers)" >&2; exit 2; }
  echo "$b"
}

# Scratch files of the targets that read paths: in memory when /dev/shm is
# there (the savers flush to disk, which would make every run wait for it).
scratch() {
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    mktemp -d /dev/shm/qimbo-fuzz.XXXXXX
  else
    mkdir -p "$BUILD/tmp" && mktemp -d "$BUILD/tmp/qimbo-fuzz.XXXXXX"
  fi
}
SCRATCH=
trap '[ -n "$SCRATCH" ] && rm -rf "$SCRATCH"' EXIT

# The sanitizers stop at the first fault and say where it is.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

case $MODE in
check)
  NAME=$1
  BIN=$(binary "$NAME")
  MORE=$(more_seeds "$NAME")
  WORK="$BUILD/check/$NAME"
  rm -rf "$WORK"
  mkdir -p "$WORK/corpus"
  SCRATCH=$(scratch)
  TMPDIR="$SCRATCH" "$BIN" -runs="$(check_runs "$NAME")" -seed=1 -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$WORK/" "$WORK/corpus" "$HERE/corpus/$NAME" ${MORE:+"$MORE"} >"$WORK/log" 2>&1
  rc=$?
  if [ $rc -ne 0 ]; then
    tail -n 60 "$WORK/log"
    echo "fuzz $NAME: finding (exit $rc); the input is in $WORK/"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$WORK/log")
  echo "fuzz $NAME: $runs runs, no finding"
  rm -rf "$WORK"
  ;;
long)
  SECONDS_EACH=$1
  shift
  if [ $# -eq 0 ]; then
    set -- $(sed -n 's/^  \([a-z_]*\)$/\1/p' "$HERE/targets.cmake")
  fi
  summary=""
  failed=0
  for NAME in "$@"; do
    BIN=$(binary "$NAME")
    MORE=$(more_seeds "$NAME")
    mkdir -p "$BUILD/corpus/$NAME" "$BUILD/findings/$NAME"
    echo "== $NAME: $SECONDS_EACH s"
    SCRATCH=$(scratch)
    TMPDIR="$SCRATCH" "$BIN" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$BUILD/findings/$NAME/" \
      "$BUILD/corpus/$NAME" "$HERE/corpus/$NAME" ${MORE:+"$MORE"} 2>&1 | tee "$BUILD/findings/$NAME.log" | grep -E '^#[0-9]+.*(DONE|pulse)|ERROR|SUMMARY|fuzz check'
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$BUILD/findings/$NAME.log")
    found=$(ls "$BUILD/findings/$NAME" | wc -l)
    units=$(ls "$BUILD/corpus/$NAME" | wc -l)
    summary="$summary$(printf '%-18s %12s executions %6s corpus %3s findings' "$NAME" "${runs:-?}" "$units" "$found")
"
    [ "$found" -eq 0 ] || failed=1
    rm -rf "$SCRATCH"
  done
  printf '\n%s' "$summary"
  [ $failed -eq 0 ] || echo "findings: see $BUILD/findings/"
  exit $failed
  ;;
*)
  echo "usage: run.sh check BUILD NAME | run.sh long BUILD SECONDS [NAME...]" >&2
  exit 2
  ;;
esac
