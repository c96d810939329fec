#!/usr/bin/env bash
# qelv's bash completion, called as bash calls it (COMP_WORDS, COMP_CWORD,
# the function that `complete -p qelv` names) in a folder of sample files:
# commands, the options of each command, and the files each takes.  The
# options offered over all commands must be exactly those that the
# program's --help lists.
#   check_completion.sh QELV COMPLETION-FILE
set -uo pipefail
qelv=$(realpath "$1")
completion=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir sub 'folder two'
touch a.txt b.dat c.dat 'with space.dat' d.enc
. "$completion"

failures=0
registered=$(complete -p qelv 2>&1)
[[ $registered == *"-F _qelv"* ]] || { echo "completion: complete -p qelv says: $registered"; failures=$((failures + 1)); }
function=${registered#*-F }
function=${function%% *}

# complete WORD... : COMPREPLY, one per line and sorted, for the last word.
complete_words() {
  COMP_WORDS=(qelv "$@")
  COMP_CWORD=$#
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" qelv "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

# expect WANTED WORD... : the completion of WORD... is exactly WANTED, a
# list with one entry per line.
expect() {
  local wanted=$1 got
  shift
  got=$(complete_words "$@")
  if [ "$got" != "$(printf '%s\n' "$wanted" | sort)" ]; then
    echo "completion: qelv $* <TAB> gave [$(echo $got)], wanted [$(echo $wanted)]"
    failures=$((failures + 1))
  fi
}

expect encrypt enc
expect decrypt de
expect "$(printf -- '--help\n--version')" --
expect "" x
expect "$(printf -- '--key\n--key-bytes\n--key-codepage\n--key-env\n--key-file')" encrypt --ke
expect --allow-encrypted encrypt --al
expect "" decrypt --al
expect "" info --key
expect --quiet info --q
# Files: any for encrypt; encrypted ones and folders for the others.
expect "$(printf 'a.txt\nb.dat\nc.dat\nd.enc\nfolder two\nsub\nwith space.dat')" encrypt ''
for command in decrypt verify info; do
  expect "$(printf 'b.dat\nc.dat\nfolder two\nsub\nwith space.dat')" $command ''
done
expect "$(printf 'b.dat\nc.dat\nfolder two\nsub\nwith space.dat')" decrypt -r -o out.txt ''
expect "$(printf 'd.enc\nfolder two\nsub')" verify --suffix .enc ''
expect "$(printf 'd.enc\nfolder two\nsub')" verify --suffix = .enc ''
expect "$(printf 'folder two\nsub')" encrypt -d ''

# The options over all commands against --help.
# Long options anywhere in the text, short ones where an option is defined.
help=$("$qelv" --help)
help_options=$( { grep -oP -- '(?<![\w-])--[a-z][a-z0-9-]*' <<<"$help"
                  grep -oP -- '^\s+\K-[A-Za-z](?=, --)' <<<"$help"; } | sort -u)
offered=$(for command in encrypt decrypt verify info; do complete_words $command -; done | sort -u)
[ "$(echo "$help_options" | wc -l)" -ge 10 ] || { echo "completion: --help read wrongly: $help_options"; failures=$((failures + 1)); }
missing=$(comm -23 <(echo "$help_options") <(echo "$offered"))
extra=$(comm -13 <(echo "$help_options") <(echo "$offered"))
[ -z "$missing" ] || { echo "completion: options in --help never offered:" $missing; failures=$((failures + 1)); }
[ -z "$extra" ] || { echo "completion: options offered that --help does not list:" $extra; failures=$((failures + 1)); }

echo "completion: $failures failures"
[ $failures = 0 ]
