#!/usr/bin/env bash
# Builds the GoogleTest programs a third time, in build/asan, with
# AddressSanitizer and UndefinedBehaviorSanitizer (gcc), and runs them.
# Every sanitizer report ends its program with an error, so a report fails
# the test; leaks are reported when a program ends.
#   test-sanitizers.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
programs=(engine_tests bindings_tests descriptor_tests cli_tests fault_tests full_disk_tests)
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build/asan -G Ninja -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
      -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build/asan -j "$(nproc)" --target "${programs[@]}"
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1
# Only these programs, and the fixtures they need (ctest adds those).
cd build/asan
ctest --output-on-failure -R "^($(IFS='|'; echo "${programs[*]}"))\$"
