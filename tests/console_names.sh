#!/usr/bin/env bash
# A name beyond ASCII, printed by qelv.exe into a Windows console.  Wine
# gives a program a console when its output is a terminal, so qelv runs on
# a pseudo-terminal (script), and the terminal must show the name's
# characters: the ANSI bytes written as they are would be shown in the
# console's own code page, as other characters.
#   console_names.sh QELV.EXE WORK-FOLDER
set -euo pipefail
qelv=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
printf 'hello\n' > "$work/café.txt"
export LC_ALL=C.UTF-8
shown=$(script -qc "wine '$qelv' info 'Z:$work/café.txt'" /dev/null </dev/null | tr -d '\r' || true)
rm -rf "$work"
case $shown in
  *"café.txt: not an encrypted file"*) echo "the console shows café.txt"; exit 0 ;;
esac
echo "the console showed:"
printf '%s\n' "$shown" | od -c | head -20
exit 1
