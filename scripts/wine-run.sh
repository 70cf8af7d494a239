#!/usr/bin/env bash
# Runs one test program under Wine for ctest, its output passed on through a file: a process it
# starts may outlive it holding that output (Wine's desktop process, started by the first program
# that needs it, takes that program's error output; so does a console host), and ctest would wait
# on the pipe until the test's time ran out.
# Usage: wine-run.sh <wine> <program> [arguments]
wine=${1:?wine}
shift
log=$(mktemp)
"$wine" "$@" >"$log" 2>&1 </dev/null
rc=$?
cat "$log"
rm -f "$log"
exit $rc
