#!/usr/bin/env bash
# The failed tests of the last ctest run in build folder $1, each with the
# lines of its output that say what failed: `make test` ends with them, so
# they stand at the end of a long log that is read from its end.
log="$1/Testing/Temporary/LastTest.log"
[ -f "$log" ] || exit 0
awk '
  /^[0-9]+\/[0-9]+ Testing: / { name = $3; said = ""; step = ""; n = 0; timed = 0; next }
  /^Test time = / { timed = 1; next }
  timed && /^Test / {
    if ($0 !~ /^Test Passed/) {
      if (!header++) print "==== failed tests ===="
      printf "-- %s (%s)\n%s", name, $0, said
    }
    timed = 0; next
  }
  /^-- / { step = $0; next }  # the step a driver is at
  name != "" && n < 30 && /FAIL|Failure|[Ee]rror[: ]|Assertion|AddressSanitizer|runtime error|[Tt]imeout|[Tt]imed out/ {
    if (step != "") { said = said "   " step "\n"; step = "" }
    said = said "   " substr($0, 1, 300) "\n"; n++
  }
' "$log"
