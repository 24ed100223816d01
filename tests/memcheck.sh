#!/usr/bin/env bash
# Runs whole dialogues of the built program (given as $1) under valgrind's
# memcheck; fails on any memory error or leak, or on a wrong copy.
set -euo pipefail
program="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
cd "$dir"
printf 'one  two\tthree\r\n,a,,b\n\n  last' >data.txt
printf 'old\n' >out.tsv

memcheck() {
    valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=all "$program" >console
}
# Every question asked: option 3 with its tabs, an existing output overwritten.
printf 'data.txt 3 2 OUT y\n' | memcheck
printf 'one  two\tthree\r\n\t\ta\t\t\t\tb\r\n\r\n  last' | cmp - out.tsv
# Option 6, which reads in pieces and spaces the lines.
printf 'data.txt 6 1\n' | memcheck
printf 'one  two\tthree\r\n\r\n,a,,b\r\n\r\n  last\r\n\r\n' | cmp - 1sp_data.txt
# An empty line-spaces answer, which takes the default and names the copy.
printf 'data.txt 6 ""\n' | memcheck
printf 'one  two\tthree\r\n,a,,b\r\n  last\r\n' | cmp - 0sp_data.txt
echo "memcheck clean"
