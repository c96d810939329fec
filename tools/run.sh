#!/usr/bin/env bash
# The main job: installs what is missing, builds both trees, and runs the
# sample project script through the module in the host stand-in, natively
# and as the Windows module under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh
bash tools/build.sh
. tools/wine-env.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/native" "$work/win32"

echo "== native: build/native/qelv_host with build/native/Qelv.so"
build/native/qelv_host examples/protect_data.lua examples/license.txt "$work/native"

echo
echo "== Windows: build/win32/qelv_host.exe with Qelv.lmd under Wine"
if wine_can_run; then
  wine_up
  wine build/win32/qelv_host.exe examples/protect_data.lua examples/license.txt "Z:$work/win32"
else
  wine_cannot_run_notice
fi
