#!/usr/bin/env bash
# Read-only media for the tests: a small tmpfs holding the sample files,
# remounted read-only.  Root ignores file mode bits, so only a read-only
# mount stops a write here.
#   test-media.sh setup DIR DATA-DIR | cleanup DIR
set -euo pipefail
cmd=$1 dir=$2
case $cmd in
  setup)
    mkdir -p "$dir"
    mountpoint -q "$dir" && umount "$dir"
    mount -t tmpfs -o size=1m tmpfs "$dir"
    cp "$3/sample.txt" "$3/sample.txt.qelv" "$dir/"
    mount -o remount,ro "$dir"
    ;;
  cleanup)
    if mountpoint -q "$dir"; then umount "$dir"; fi
    ;;
esac
