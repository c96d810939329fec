#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: natively,
# under the sanitizers, then the Windows build under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh
bash tools/build.sh
. tools/wine-env.sh
status=0
echo "== native tests"
(cd build/native && ctest --output-on-failure) || status=1
echo "== native test programs under AddressSanitizer and UndefinedBehaviorSanitizer"
bash tools/test-sanitizers.sh || status=1
echo "== fuzzing, 60 s per target"
bash tools/fuzz.sh 60 || status=1
echo "== Windows tests under Wine"
if wine_can_run; then
  wine_up
  (cd build/win32 && ctest --output-on-failure) || status=1
  wine_down
else
  wine_cannot_run_notice
fi
exit $status
