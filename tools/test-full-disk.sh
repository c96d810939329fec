#!/usr/bin/env bash
# A full file system for the tests: a small tmpfs holding one plain file of
# two pages, the rest taken by a filler, so that nothing can grow.
#   test-full-disk.sh setup DIR | cleanup DIR
set -euo pipefail
cmd=$1 dir=$2
case $cmd in
  setup)
    mkdir -p "$dir"
    mountpoint -q "$dir" && umount "$dir"
    mount -t tmpfs -o size=256k tmpfs "$dir"
    head -c 8192 /dev/urandom > "$dir/plain.bin"
    # dd stops at the first failed write: the file system is then full.
    dd if=/dev/zero of="$dir/filler" bs=4096 2>/dev/null || true
    sync
    ;;
  cleanup)
    if mountpoint -q "$dir"; then umount "$dir"; fi
    ;;
esac
