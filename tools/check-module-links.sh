#!/usr/bin/env bash
# Checks that a built module holds none of the engine calls that only the
# command-line tool makes: its streams, its verify and its up-to-date test
# live in files of their own so that the module does not carry them.
#   check-module-links.sh NM PATH-TO-MODULE
set -euo pipefail
nm=$1 module=$2
symbols=$("$nm" -C "$module")
[ -n "$symbols" ] || { echo "$module: no symbol table to check"; exit 1; }
grep -q 'encrypt_file_in' <<<"$symbols" || { echo "$module: not the module's symbols"; exit 1; }
fail=0
for call in encrypt_stream decrypt_to_stream verify_file_in engine_deciphers_to; do
  if grep -Eq "[TtWw] ${call}\(" <<<"$symbols"; then echo "$module holds ${call}"; fail=1; fi
done
[ $fail = 0 ] && echo "$module: none of the tool's calls: 1 passed, 0 failed"
exit $fail
