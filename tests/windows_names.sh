#!/usr/bin/env bash
# Names beyond ASCII and qelv.exe, under Wine with a UTF-8 locale (ANSI code
# page 1252):
# - printed into a Windows console, a name shows as its characters.  Wine
#   gives a program a console when its output is a terminal, so qelv runs on
#   a pseudo-terminal (script); the ANSI bytes written as they are would be
#   shown in the console's own code page, as other characters;
# - a name the ANSI code page cannot spell (łódź.txt) is refused, and is not
#   taken as the pattern "?ód?.txt" that its ANSI form would be; found in a
#   folder, it is refused for the same reason.
# - names another system made that Windows cannot open as files (a
#   device's name such as aux.txt, con.lua or NUL, which would open the
#   device; ':' or '?', which name a stream or a pattern; a dot or a space
#   at the end, which the system drops, so that "ok.txt " opens ok.txt) fail
#   a folder run by name: nothing is read from a device or another file,
#   and no output is written under another name ("a:b" as the folder a and
#   the file b); nor is an output whose name would lose its end.
# The console wraps its lines at 80 columns, so qelv runs inside the work
# folder and is given short relative names: what it prints does not depend
# on where the folder is.  Wrapped lines are joined all the same.
#   windows_names.sh QELV.EXE WORK-FOLDER
set -euo pipefail
qelv=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8
status=0

printf 'hello\n' > "$work/café.txt"
shown=$(cd "$work" && script -qc "wine '$qelv' info café.txt" /dev/null </dev/null | tr -d '\r\n' || true)
case $shown in
  *"café.txt: not an encrypted file"*) echo "the console shows café.txt" ;;
  *) echo "the console showed:"; printf '%s\n' "$shown" | od -c | head -20; status=1 ;;
esac

printf 'one\n' > "$work/łódź.txt"
printf 'two\n' > "$work/xódy.txt"
said=$(cd "$work" && wine "$qelv" encrypt --key k 'łódź.txt' 2>&1 | tr -d '\r' || true)
case $said in
  *"the name holds characters outside the system's ANSI code page"*)
    echo "łódź.txt is refused by name" ;;
  *) echo "łódź.txt: qelv said: $said"; status=1 ;;
esac
if [ -e "$work/xódy.txt.dat" ]; then echo "xódy.txt was encrypted in its place"; status=1; fi

# Found in a folder, the same name gets the same reason, not "??" for it.
# Written to a pipe, a message is in the ANSI code page, as a Windows
# program's output is read there: the name as far as it can spell it.
mkdir -p "$work/Data"
printf 'one\n' > "$work/Data/łódź.txt"
said=$(cd "$work" && wine "$qelv" encrypt --jobs 1 --key k -r Data 2>&1 | tr -d '\r' || true)
ansi=$(printf '?ód?.txt' | iconv -f UTF-8 -t CP1252)
case $said in
  *"$ansi: the name holds characters outside the system's ANSI code page"*)
    echo "Data\\łódź.txt is refused by name in a folder run" ;;
  *) echo "Data\\łódź.txt in a folder run: qelv said: $said"; status=1 ;;
esac
if ls "$work/Data/"*.dat >/dev/null 2>&1; then echo "a file was encrypted in Data"; status=1; fi
mkdir -p "$work/Odd"
for name in aux.txt con.lua NUL 'a:b' 'q?.txt' ok.txt 'ok.txt ' 'ok.txt.'; do
  printf 'some bytes\n' > "$work/Odd/$name"
done
said=$(cd "$work" && wine "$qelv" encrypt --jobs 1 --key k -u -r -d Out Odd 2>&1 | tr -d '\r'; echo "status ${PIPESTATUS[0]}")
refused=$(printf '%s\n' "$said" | grep -c ": a name this system cannot open as a file" || true)
case $said in
  *"status 1"*) ;;
  *) echo "a folder run over names Windows cannot open passed: $said"; status=1 ;;
esac
if [ "$refused" != 7 ]; then echo "$refused of 7 names refused: $said"; status=1; fi
listing=$(cd "$work/Out" && find . -type f | sort | tr '\n' ' ')
if [ "$listing" != "./ok.txt.dat " ]; then echo "Out holds: $listing"; status=1; fi
[ $status != 0 ] || echo "aux.txt, con.lua, NUL, a:b, q?.txt, 'ok.txt ' and ok.txt. fail the run by name; only ok.txt is written"

# An encrypted name whose plain name would end in a space ("z .dat") is
# not decrypted into z.
mkdir -p "$work/Enc"
cp "$work/Out/ok.txt.dat" "$work/Enc/z .dat"
said=$(cd "$work" && wine "$qelv" decrypt --jobs 1 --key k -r -d Back Enc 2>&1 | tr -d '\r'; echo "status ${PIPESTATUS[0]}")
case $said in
  *"ends in a dot or a space, which this system drops"*"status 1"*)
    echo "z .dat is refused: its output's name would lose its space" ;;
  *) echo "z .dat: qelv said: $said"; status=1 ;;
esac
if [ -n "$(ls -A "$work/Back" 2>/dev/null)" ]; then echo "Back holds: $(ls -A "$work/Back")"; status=1; fi
exit $status
