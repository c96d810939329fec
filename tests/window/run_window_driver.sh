#!/usr/bin/env bash
# Runs the window's driver under Wine on a display: the one in DISPLAY, or
# a virtual one (Xvfb) made for the run.  The programs, the help page beside
# qelvw.exe (as the zip has it) and the cases' files lie in a temporary
# folder (short, whatever the checkout's path), and the screenshots are
# copied into SHOTS-FOLDER.
#   run_window_driver.sh WINDOW_DRIVER.EXE QELVW.EXE HELP-PAGE SHOTS-FOLDER
set -euo pipefail
driver=$1 program=$2 help_page=$3 shots=$4
work=$(mktemp -d /tmp/qelvw-test.XXXXXX)
xvfb_pid=
cleanup() {
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null || { echo "run_window_driver: Xvfb is missing (tools/setup.sh installs it)"; exit 1; }
  # Xvfb writes the display number it took to the descriptor given.
  Xvfb -displayfd 3 -screen 0 1920x1440x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "run_window_driver: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
  export DISPLAY=:$(head -1 "$work/display")
fi
mkdir -p "$work/cases" "$work/shots" "$shots"
# The programs run from the short folder too, so that no path the driver
# hands the system can pass 259 characters.
cp "$driver" "$work/window_driver.exe"
cp "$program" "$work/qelvw.exe"
cp "$help_page" "$work/Qelv.html"
rc=0
(cd "$work" && wine window_driver.exe "Z:$work/qelvw.exe" "Z:$work/cases" "Z:$work/shots") || rc=$?
cp "$work"/shots/*.png "$shots"/ 2>/dev/null || true
ls "$shots"
exit $rc
