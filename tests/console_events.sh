#!/usr/bin/env bash
# Ctrl+Break as the system sends it, under Wine: the case runs on a
# pseudo-terminal (script), where Wine gives the test program a console,
# so that GenerateConsoleCtrlEvent reaches the qelv.exe it starts.  The case
# must have run and passed: a skip fails here.
#   console_events.sh CLI_TESTS.EXE
set -euo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
script -qec "wine '$1' --gtest_filter=Cli.TheProgramStopsOnCtrlBreak" /dev/null \
  </dev/null >"$log" 2>&1 || status=$?
tr -d '\r' <"$log"
if [ $status = 0 ] && grep -q '^\[  PASSED  \] 1 test' <(tr -d '\r' <"$log") &&
   ! grep -q 'SKIPPED' "$log"; then
  echo "console_events: Ctrl+Break sent through the console: 1 passed, 0 failed"
  exit 0
fi
echo "console_events: Ctrl+Break sent through the console did not run or did not pass (status $status)"
exit 1
