# Sourced by the shell tests of the built qimbo-tool: a folder of the test's
# own in $DIR, removed however the test ends, and fail MESSAGE to end it.
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
