#!/usr/bin/env bash
# Ctrl+Break as the system sends it, under Wine: the case runs on a
# pseudo-terminal (script), where Wine gives the test program a console,
# so that GenerateConsoleCtrlEvent reaches the qelv.exe it starts.  The case
# must have run and passed: a skip fails here, but for a console that cannot
# send the event at all (Wine 8.0's), which is reported as skipped (77).
#   console_events.sh CLI_TESTS.EXE
set -euo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
script -qec "wine '$1' --gtest_filter=Cli.TheProgramStopsOnCtrlBreak" /dev/null \
  </dev/null >"$log" 2>&1 || status=$?
# Wine's console on a terminal draws with escape sequences and moves the
# cursor over spaces: the log is read without either.
plain=$(sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$log" | tr -d '\r ')
printf '%s\n' "$plain"
if [ $status = 0 ] && grep -q '^\[PASSED\]1test' <<<"$plain" && ! grep -q 'SKIPPED' <<<"$plain"; then
  echo "console_events: Ctrl+Break sent through the console: 1 passed, 0 failed"
  exit 0
fi
if grep -q 'thisconsolecannotsendCtrl+Break' <<<"$plain"; then
  echo "console_events: skipped: this Wine's console cannot send Ctrl+Break; the handler's part runs in Cli.TheProgramStopsOnConsoleEvents"
  exit 77
fi
echo "console_events: Ctrl+Break sent through the console did not run or did not pass (status $status)"
exit 1
