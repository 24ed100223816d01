#!/usr/bin/env bash
# Builds the Windows program, build-windows/zorven.exe, with MinGW-w64 and runs
# it under Wine: whole dialogues with piped answers, every console byte and
# every output byte compared, and what only Windows does (hidden, system and
# read-only marks, letter case, the file's identity, the command processor
# that clears the console).
#
# What Wine cannot show here:
# - With no terminal Wine gives the program no console: CONIN$ does not open,
#   so waitForKey returns at once, and "cls" has no console to clear and writes
#   nothing. The transcripts below therefore hold only the program's own bytes.
# - Under a terminal (the tmux tests at the end) Wine makes a console of it, and
#   the last key is awaited and ends the run; there a long copy shows its
#   progress and erases it. A terminal sends no bytes for a
#   key release or for Shift, Ctrl, Alt or a lock key alone, so that those do
#   not end the wait cannot be shown, and the code page cannot be seen either.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$top/build-windows"
cxx=x86_64-w64-mingw32-g++-posix

for tool in "$cxx" wine winepath wineserver; do
    if ! command -v "$tool" >/dev/null; then
        echo "windows tests skipped: $tool is not installed"
        exit 0
    fi
done

started=$SECONDS
echo "== windows build"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
    >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"
"$cxx" -static -O2 -Wall -Wextra -Werror -o "$build/mark.exe" "$top/tests/windows/mark.cpp"

# Wine, headless and quiet, in a prefix of its own that is made once and kept
# with the build; one server stays up for the whole run.
export WINEDEBUG=-all WINEPREFIX="$build/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
scratch="$(mktemp -d)"
tmuxSocket="zorven-windows-$$"
cleanup() {
    tmux -L "$tmuxSocket" kill-server 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
wineserver -p </dev/null >/dev/null 2>&1 || true  # fails only if one is up already
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== making the wine prefix"
    timeout 300 wineboot -i </dev/null >/dev/null 2>&1 || true
fi
echo "wine ready after $((SECONDS - started)) s"

exe="$(winepath -w "$build/zorven.exe" 2>/dev/null)"
mark="$(winepath -w "$build/mark.exe" 2>/dev/null)"
cmdExe='C:\windows\system32\cmd.exe'  # by its full name: a CMD.EXE in the test folder must not be taken

# --- what the program writes --------------------------------------------------

source "$top/tests/console_texts.sh"
crlf=$'\r\n'
# The title screen in code-page-437 bytes, each menu row inside the box.
edge="$(printf '\xcd%.0s' {1..38})"
rows=""
while IFS=$'\t' read -r name indent text; do
    [ "$name" = menuRow ] || continue
    margin="$(printf '%*s' "$indent" '')"
    rows+="$margin"$'\xba'"$text"$'\xba'"$crlf"
done < <(consoleTextEntries)
title="$(consoleText banner)$crlf$(consoleText heading)$crlf"
title+="$margin"$'\xc9'"$edge"$'\xbb'"$crlf$rows$margin"$'\xc8'"$edge"$'\xbc'"$crlf$crlf"

askInput="$(consoleText askInput)"
askOption="$(consoleText askOption)"
askTabs="$(consoleText askTabs)"
askLineSpaces="$(consoleText askLineSpaces)"
askOutput="$(consoleText askOutput)"
askOverwrite="$(consoleText askOverwrite)"
clash="$crlf$(consoleText clash)$crlf"
pressKey="$crlf$(consoleText pressKey)"
startAgain="$(consoleText startAgain)$crlf"
# These leave out the line end that ends them, which $(...) would drop.
copying() { consoleText copying "$1" "$2"; }
cantOpen() { consoleText cantOpen "$1"; }
cantFind() { consoleText cantFind "$1"; }

# --- running it -----------------------------------------------------------------

failures=0
passed=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Compares the bytes of a file with the expected text.
expectBytes() {  # what, expected, file
    if [ -f "$3" ] && cmp -s <(printf '%s' "$2") "$3"; then
        passed=$((passed + 1))
        return
    fi
    fail "$1"
    echo "  expected:"; printf '%s' "$2" | od -c | tail -n 6
    echo "  got:"; if [ -f "$3" ]; then od -c "$3" | tail -n 6; else echo "  (no file $3)"; fi
}

# A fresh folder for one case.
folder() {
    local dir
    dir="$(mktemp -d "$scratch/case.XXXX")"
    printf '%s' "$dir"
}

# Runs a Windows command line in the folder: a cmd /c line, with the answers on
# standard input and the console output in $dir/.console.
runIn() {  # dir, answers, command line
    local status=0
    (cd "$1" && printf '%s' "$2" | timeout 60 wine "$cmdExe" /c "$3" >.console 2>.stderr) || status=$?
    [ "$status" -eq 0 ] || fail "exit status $status from: $3 (answers: $2)"
}

# Runs the program itself in the folder.
run() {  # dir, answers
    local status=0
    (cd "$1" && printf '%s' "$2" | timeout 60 wine "$exe" >.console 2>.stderr) || status=$?
    [ "$status" -eq 0 ] || fail "exit status $status for the answers: $2"
}

# One whole dialogue: answers in, the console bytes and one output file's bytes checked.
dialogue() {  # what, dir, answers, expected console, [output name, expected output]
    run "$2" "$3"
    expectBytes "$1: console" "$4" "$2/.console"
    if [ $# -ge 6 ]; then expectBytes "$1: $5" "$6" "$2/$5"; fi
}

attrib() {  # dir, flags and names
    (cd "$1" && wine "$cmdExe" /c attrib "${@:2}" </dev/null >/dev/null 2>&1)
}

# --- the dialogue, as on every platform ----------------------------------------

echo "== dialogues"
while IFS='|' read -r answers console outputName output; do
    dir="$(folder)"
    printf 'a,b,c\n' >"$dir/Data.TXT"
    printf -v expectedOutput "$output"
    eval "console=\"$console\""
    dialogue "option row '$answers'" "$dir" "$answers" "$title$askInput$console$pressKey" \
        "$outputName" "$expectedOutput"
    expectBytes "option row '$answers': input untouched" $'a,b,c\n' "$dir/Data.TXT"
done <<'ROWS'
Data.TXT 2 Report|$askOption$askOutput$(copying data.txt report.txt)$crlf|report.txt|a b c\r\n
Data.TXT 3 2x r|$askOption$askTabs$askOutput$(copying data.txt r.tsv)$crlf|r.tsv|a\t\tb\t\tc\r\n
Data.TXT 4 3 Report|$askOption$askTabs$askOutput$(copying data.txt report.tsv)$crlf|report.tsv|a,b,c\r\n
Data.TXT 5 r|$askOption$askOutput$(copying data.txt r.txt)$crlf|r.txt|a,b,c\r\n
Data.TXT 1 out.txt|$askOption$askOutput$(copying data.txt out.txt.csv)$crlf|out.txt.csv|a,b,c\r\n
Data.TXT 6 2|$askOption$askLineSpaces$(copying Data.TXT 2sp_Data.TXT)$crlf|2sp_Data.TXT|a,b,c\r\n\r\n\r\n
Data.TXT 6 3b|$askOption$askLineSpaces$(copying Data.TXT 3bsp_Data.TXT)$crlf|3bsp_Data.TXT|a,b,c\r\n\r\n\r\n\r\n
Data.TXT 7 0 a 12 r|$askOption$askOption$askOption$askOption$askOutput$(copying data.txt r.csv)$crlf|r.csv|a,b,c\r\n
ROWS

dir="$(folder)"
printf 'a b\tc\r\n  d  e\n' >"$dir/data.txt"
dialogue "a whole conversion" "$dir" $'data.txt\r\n1\r\nOut\r\n' \
    "$title$askInput$askOption$askOutput$(copying data.txt out.csv)$crlf$pressKey" out.csv $'a,b,c\r\nd,e\r\n'
dialogue "missing input" "$dir" $'Missing.TXT\n' "$title$askInput$crlf$(cantFind Missing.TXT)"
mkdir "$dir/folder"
dialogue "missing input, a folder" "$dir" $'folder\n' "$title$askInput$crlf$(cantFind folder)"

for answer in y Y ye n N no x; do
    dir="$(folder)"
    printf 'a b\n' >"$dir/data.txt"
    printf 'old\n' >"$dir/out.csv"
    if [[ $answer == [yY]* ]]; then
        dialogue "overwrite accepted: $answer" "$dir" "data.txt 1 out $answer" \
            "$title$askInput$askOption$askOutput$askOverwrite$(copying data.txt out.csv)$crlf$pressKey" \
            out.csv $'a,b\r\n'
    else
        dialogue "overwrite refused: $answer" "$dir" "data.txt 1 out $answer" \
            "$title$askInput$askOption$askOutput$askOverwrite$startAgain" out.csv $'old\n'
    fi
done

# Quoted and unquoted words: a name with a space in double quotes, the
# quotes not part of it; an unclosed quote takes the rest of the line.
while IFS='|' read -r answers name console output; do
    dir="$(folder)"
    printf 'a b\n' >"$dir/$name"
    printf -v answers "$answers"
    printf -v expectedOutput "$output"
    eval "console=\"$console\""
    dialogue "quoted words '$answers'" "$dir" "$answers" "$title$askInput$console"
    if [ -n "$expectedOutput" ]; then expectBytes "quoted words '$answers': the copy" "$expectedOutput" "$dir/o.csv"; fi
done <<'ROWS'
"My Data.txt" 1 o|My Data.txt|$askOption$askOutput$(copying 'my data.txt' o.csv)$crlf$pressKey|a,b\r\n
"My Data.txt"1 o|My Data.txt|$askOption$askOutput$(copying 'my data.txt' o.csv)$crlf$pressKey|a,b\r\n
"My Data.txt\r\n1 o|My Data.txt|$askOption$askOutput$(copying 'my data.txt' o.csv)$crlf$pressKey|a,b\r\n
"x" 2 "o.csv"|x|$askOption$askOutput$(copying x o.csv.txt)$crlf$pressKey|
My Data.txt|My Data.txt|$crlf$(cantFind My)|
"My Data.txt" 1" o|My Data.txt|$askOption$askOutput$(copying 'my data.txt' o.csv)$crlf$pressKey|a,b\r\n
ROWS

dir="$(folder)"
printf 'x y\n' >"$dir/DATA.TXT"
dialogue "clash" "$dir" $'DATA.TXT\n2\nData\ndata\nother\n' \
    "$title$askInput$askOption$askOutput$clash$askOutput$clash$askOutput$(copying data.txt other.txt)$crlf$pressKey" \
    other.txt $'x y\r\n'

dir="$(folder)"
printf 'a\n' >"$dir/data.txt"
printf 'old\n' >"$dir/out.csv"
while IFS='|' read -r answers console; do
    eval "console=\"$console\""
    dialogue "end of answers '$answers'" "$dir" "$(printf "$answers")" "$title$console$crlf" out.csv $'old\n'
done <<'ROWS'
|$askInput
data.txt|$askInput$askOption
data.txt 3|$askInput$askOption$askTabs
data.txt 6|$askInput$askOption$askLineSpaces
data.txt 1|$askInput$askOption$askOutput
data.txt 2 data|$askInput$askOption$askOutput$clash$askOutput
data.txt 1 out|$askInput$askOption$askOutput$askOverwrite
data.txt\x1a 1 new|$askInput$askOption
ROWS
[ ! -e "$dir/new.csv" ] || fail "end of answers: new.csv was made after a Ctrl-Z"

dir="$(folder)"
printf 'n\n' >"$dir/Notes.TXT"
printf 'old contents\n' >"$dir/2sp_Notes.TXT"
dialogue "option 6 rewrites without asking" "$dir" "Notes.TXT 6 2" \
    "$title$askInput$askOption$askLineSpaces$(copying Notes.TXT 2sp_Notes.TXT)$crlf$pressKey" \
    2sp_Notes.TXT $'n\r\n\r\n\r\n'

# --- what only Windows does -------------------------------------------------------

echo "== windows files"
# Letter case: names that differ only in it are one file.
dir="$(folder)"
printf 'p q\n' >"$dir/DATA.TXT"
printf 'old\n' >"$dir/X.CSV"
dialogue "letter case: the input and the existing output are found" "$dir" "data.txt 1 x y" \
    "$title$askInput$askOption$askOutput$askOverwrite$(copying data.txt x.csv)$crlf$pressKey" X.CSV $'p,q\r\n'
[ ! -e "$dir/x.csv" ] || fail "letter case: a second file x.csv was made beside X.CSV"

# The input under another name, found by the file's identity: a relative path,
# a path through a folder, and a hard link made on the Linux side.
dir="$(folder)"
printf 'keep me\n' >"$dir/data.csv"
mkdir "$dir/sub"
ln "$dir/data.csv" "$dir/hard.csv"
threeClashes="$askOutput$clash$askOutput$clash$askOutput$clash"
dialogue "the input under other names" "$dir" 'data.csv 1 .\DATA sub\..\Data hard new' \
    "$title$askInput$askOption$threeClashes$askOutput$(copying data.csv new.csv)$crlf$pressKey" \
    new.csv $'keep,me\r\n'
expectBytes "the input under other names: input untouched" $'keep me\n' "$dir/data.csv"
ln "$dir/data.csv" "$dir/0sp_data.csv"
dialogue "option 6 never empties its input" "$dir" "data.csv 6 0" \
    "$title$askInput$askOption$askLineSpaces$(cantOpen 0sp_data.csv)$crlf" 0sp_data.csv $'keep me\n'

# Folders: "\" ends them as "/" does, and so does a drive at the start.
# Option 6 puts its prefix before the last part of the input name; options 1
# to 5 lower-case only the last part of each name.
dir="$(folder)"
mkdir "$dir/Sub" "$dir/Proj"
printf 'm n\n' >"$dir/Sub/Mixed.TXT"
printf 'a b\n' >"$dir/Data.TXT"
drive="$(winepath -w "$dir" 2>/dev/null | cut -c1-2)"  # the folder's drive, whose current folder it is
while IFS='|' read -r answers console outputName output; do
    eval "answers=\"$answers\" console=\"$console\""
    printf -v expectedOutput "$output"
    dialogue "folders '$answers'" "$dir" "$answers" "$title$askInput$askOption$console$crlf$pressKey" \
        "$outputName" "$expectedOutput"
done <<'ROWS'
Sub\\Mixed.TXT 6 1|$askLineSpaces$(copying 'Sub\Mixed.TXT' 'Sub\1sp_Mixed.TXT')|Sub/1sp_Mixed.TXT|m n\r\n\r\n
Sub/Mixed.TXT 6 2|$askLineSpaces$(copying Sub/Mixed.TXT Sub/2sp_Mixed.TXT)|Sub/2sp_Mixed.TXT|m n\r\n\r\n\r\n
.\\Data.TXT 6 0|$askLineSpaces$(copying '.\Data.TXT' '.\0sp_Data.TXT')|0sp_Data.TXT|a b\r\n
${drive}Data.TXT 6 1|$askLineSpaces$(copying ${drive}Data.TXT ${drive}1sp_Data.TXT)|1sp_Data.TXT|a b\r\n\r\n
Sub\\Mixed.TXT 2 Proj\\Result|$askOutput$(copying 'Sub\mixed.txt' 'Proj\result.txt')|Proj/result.txt|m n\r\n
${drive}Sub/Mixed.TXT 1 ${drive}Proj\\OUT|$askOutput$(copying ${drive}Sub/mixed.txt ${drive}Proj\\out.csv)|Proj/out.csv|m,n\r\n
ROWS

# Marks set with attrib. Wine keeps them in extended attributes; where the
# file system has none they do not stick, and these cases cannot run.
dir="$(folder)"
printf 'a b\n' >"$dir/data.txt"
printf 'old\n' >"$dir/ro.csv"
printf 'old\n' >"$dir/hid.csv"
printf 'old\n' >"$dir/sys.csv"
attrib "$dir" +r ro.csv
attrib "$dir" +h hid.csv
attrib "$dir" +s sys.csv
dialogue "read-only: asked, then not opened" "$dir" "data.txt 1 RO y" \
    "$title$askInput$askOption$askOutput$askOverwrite$(cantOpen ro.csv)$crlf" ro.csv $'old\n'
dialogue "a wildcard matching a file: asked, then not opened" "$dir" "data.txt 1 r? y" \
    "$title$askInput$askOption$askOutput$askOverwrite$(cantOpen 'r?.csv')$crlf" ro.csv $'old\n'
mkdir "$dir/sub.csv"
dialogue "a folder: not asked about, not opened" "$dir" "data.txt 1 sub" \
    "$title$askInput$askOption$askOutput$(cantOpen sub.csv)$crlf"
marks="$(cd "$dir" && wine "$cmdExe" /c attrib </dev/null 2>/dev/null | tr -d '\r')"
if grep -q '^A *H .*hid.csv$' <<<"$marks" && grep -q '^A *S .*sys.csv$' <<<"$marks"; then
    for name in hid sys; do
        dialogue "$name: not counted, not opened" "$dir" "data.txt 1 $name" \
            "$title$askInput$askOption$askOutput$(cantOpen $name.csv)$crlf" $name.csv $'old\n'
    done
    # "h*" matches only the hidden file, "s*" the system file and a folder.
    for pattern in 'h*' 's*'; do
        dialogue "a wildcard matching only what is not counted: $pattern" "$dir" "data.txt 1 $pattern" \
            "$title$askInput$askOption$askOutput$(cantOpen "$pattern.csv")$crlf"
    done
else
    echo "skipped: hidden and system marks do not stick on this file system"
fi

# --- the command processor that clears --------------------------------------------

echo "== clearing through the command processor"
dir="$(folder)"
printf 'a b\n' >"$dir/data.txt"
whole="$title$askInput$askOption$askOutput$(copying data.txt o.csv)$crlf$pressKey"
runIn "$dir" "data.txt 1 o" "set COMSPEC=$mark&& $exe"
expectBytes "COMSPEC: console" "$whole" "$dir/.console"
expectBytes "COMSPEC: cls run through it at the start and the end" $'/c cls\n/c cls\n' "$dir/cls-calls.txt"
rm -f "$dir/cls-calls.txt"
runIn "$dir" "nothing.txt" "set COMSPEC=$mark&& $exe"
expectBytes "COMSPEC: a missing input clears after the key" $'/c cls\n/c cls\n' "$dir/cls-calls.txt"
rm -f "$dir/cls-calls.txt"
runIn "$dir" "data.txt 1 o n" "set COMSPEC=$mark&& $exe"
expectBytes "COMSPEC: an overwrite refused clears before its message" $'/c cls\n/c cls\n' "$dir/cls-calls.txt"
rm -f "$dir/cls-calls.txt"

cp "$build/mark.exe" "$dir/CMD.EXE"
runIn "$dir" "data.txt 1 o y" "set COMSPEC=&& $exe"
expectBytes "no COMSPEC: CMD.EXE in the current folder" $'/c cls\n/c cls\n' "$dir/cls-calls.txt"
rm -f "$dir/cls-calls.txt" "$dir/CMD.EXE"

mkdir "$dir/bin"
cp "$build/mark.exe" "$dir/bin/cmd.exe"
runIn "$dir" "data.txt 1 o y" "set COMSPEC=&& set PATH=;$(winepath -w "$dir/bin")\\;%PATH%&& $exe"
expectBytes "no COMSPEC: CMD.EXE along PATH" $'/c cls\n/c cls\n' "$dir/cls-calls.txt"
rm -f "$dir/cls-calls.txt"

runIn "$dir" "data.txt 1 o y" "set COMSPEC=C:\\no\\such.exe&& $exe"
expectBytes "COMSPEC naming nothing: the run goes on" \
    "$title$askInput$askOption$askOutput$askOverwrite$(copying data.txt o.csv)$crlf$pressKey" "$dir/.console"
runIn "$dir" "data.txt 1 o y" "set COMSPEC=&& set PATH=&& $exe"
expectBytes "no command processor at all: the run goes on" \
    "$title$askInput$askOption$askOutput$askOverwrite$(copying data.txt o.csv)$crlf$pressKey" "$dir/.console"

# --- the console and its keyboard, through a terminal ------------------------------

# Under a terminal Wine makes a console of it: the answers are typed, the last
# key is read from the keyboard in raw mode, and "cls" really clears. Wine
# leaves the terminal turning CR into LF, which its console takes for Ctrl+J
# rather than Enter, hence "stty -icrnl".
echo "== the console at a terminal"
if command -v tmux >/dev/null; then
    screen() { tmux -L "$tmuxSocket" capture-pane -p; }
    waitFor() {  # seconds, condition
        local tries=$(($1 * 10))
        while [ $tries -gt 0 ] && ! eval "$2"; do sleep 0.1; tries=$((tries - 1)); done
        eval "$2"
    }
    # x, Ctrl+C (an ordinary key while waiting: Wine's console signals it all
    # the same, and the program hands it to the wait), and keys that give no
    # character. Wine's console does not decode the Home key as tmux sends it.
    # Last, a console on code page 1252 (where the box bytes are letters): it
    # shows the box, and has its code page back after the run.
    # (Not through cmd for Ctrl+C: Wine signals it to cmd too.)
    for key in x C-c Up F5 DC 1252; do
        program="wine '$exe'"
        label="$key"
        if [ "$key" = 1252 ]; then
            key=x
            label="x on code page 1252"
            program="wine '$cmdExe' /c 'chcp 1252 >before.txt && $exe && chcp >after.txt'"
        fi
        dir="$(folder)"
        printf 'a b\n' >"$dir/data.txt"
        tmux -L "$tmuxSocket" -f /dev/null new-session -d -x 80 -y 25 \
            "cd '$dir' && stty -icrnl && $program; echo \$? >finished; sleep 60"
        if ! waitFor 30 'screen | grep -q "Enter input file name"'; then
            fail "terminal, $label: the first question never showed"
            screen
            tmux -L "$tmuxSocket" kill-server 2>/dev/null || true
            continue
        fi
        tmux -L "$tmuxSocket" send-keys data.txt Enter 1 Enter o Enter
        if waitFor 30 'screen | grep -q "Press any key to exit."'; then
            sleep 0.5
            if [ -e "$dir/finished" ]; then
                fail "terminal, $label: the run ended without a key"
            else
                passed=$((passed + 1))
            fi
            # The box bytes are code page 437: the console shows them as box characters.
            screen | grep -q '^ *╔═*╗$' && passed=$((passed + 1)) || fail "terminal, $label: no box on the screen"
            tmux -L "$tmuxSocket" send-keys "$key"
            if waitFor 30 '[ -s "$dir/finished" ]'; then
                expectBytes "terminal, $label: exit status" $'0\n' "$dir/finished"
                expectBytes "terminal, $label: the copy" $'a,b\r\n' "$dir/o.csv"
                if screen | grep -q '[^ ]'; then
                    fail "terminal, $label: the screen was not cleared"
                else
                    passed=$((passed + 1))
                fi
                if [ -e "$dir/before.txt" ]; then
                    expectBytes "terminal, code page 1252 before" $'Active code page: 1252\r\n' "$dir/before.txt"
                    expectBytes "terminal, code page 1252 after" $'Active code page: 1252\r\n' "$dir/after.txt"
                fi
            else
                fail "terminal, $label: the key did not end the wait"
            fi
        else
            fail "terminal, $label: the key prompt never showed"
            screen
        fi
        tmux -L "$tmuxSocket" kill-server 2>/dev/null || true
    done

    # Ctrl+C during a copy from a FIFO that a slow writer feeds: the copy stops
    # between pieces, the output keeps the start of the converted text, the
    # message says it is cut, and the program ends as Ctrl+C ends it by
    # default (0xC000013A, of which the shell sees the low byte, 58). A read
    # waiting on the FIFO is not cut short: the next bytes bring the stop.
    dir="$(folder)"
    mkfifo "$dir/pipe"
    tmux -L "$tmuxSocket" -f /dev/null new-session -d -x 80 -y 25 \
        "cd '$dir' && stty -icrnl && wine '$exe'; echo \$? >finished; sleep 60"
    if waitFor 30 'screen | grep -q "Enter input file name"'; then
        tmux -L "$tmuxSocket" send-keys pipe Enter 1 Enter out Enter
        chunk="$(printf 'a b\n%.0s' {1..2000})"
        (
            exec 3>"$dir/pipe"
            for _ in {1..600}; do
                printf '%s\n' "$chunk" >&3 2>/dev/null || exit 0
                sleep 0.1
            done
        ) &
        writer=$!
        if waitFor 30 '[ "$(stat -c %s "$dir/out.csv" 2>/dev/null || echo 0)" -gt 100000 ]'; then
            tmux -L "$tmuxSocket" send-keys C-c
            if waitFor 30 '[ -s "$dir/finished" ]'; then
                expectBytes "Ctrl+C during the copy: exit status" $'58\n' "$dir/finished"
                screen | grep -q "^ *Interrupted: out.csv is incomplete.$" && passed=$((passed + 1)) ||
                    fail "Ctrl+C during the copy: no message on the screen"
                size=$(stat -c %s "$dir/out.csv")
                if cmp -s -n "$size" "$dir/out.csv" <(yes $'a,b\r'); then passed=$((passed + 1)); else
                    fail "Ctrl+C during the copy: the output is not the start of the converted text"
                fi
            else
                fail "Ctrl+C during the copy: the program did not end"
            fi
        else
            fail "Ctrl+C during the copy: the copy did not start"
        fi
        kill "$writer" 2>/dev/null || true
        wait "$writer" 2>/dev/null || true
    else
        fail "Ctrl+C during the copy: the first question never showed"
    fi
    tmux -L "$tmuxSocket" kill-server 2>/dev/null || true

    # A long copy shows its progress on the line under the Copying line, and
    # the console's own erasing leaves the screen as a quick copy leaves it.
    # Wine does not wait for a FIFO's writer on opening, so the test holds the
    # writing end from the start; it opens it only once tmux has started, so
    # that the end goes away when the test closes it.
    startProgram() {  # dir
        tmux -L "$tmuxSocket" -f /dev/null new-session -d -x 80 -y 25 "cd '$1' && stty -icrnl && wine '$exe'; sleep 60"
        waitFor 30 'screen | grep -q "Enter input file name"' || fail "progress: the first question never showed"
    }
    typeAnswers() {  # answers, typed one after the other
        local answer
        for answer in "$@"; do tmux -L "$tmuxSocket" send-keys "$answer" Enter; done
    }
    lineAfterCopying() { screen | grep -A1 'Copying ' | tail -n 1; }
    chunk="$(for i in {1..700}; do printf 'one,two three\n'; done)"
    dir="$(folder)"
    printf '%s\n%s\n' "$chunk" "$chunk" >"$dir/pipe"
    startProgram "$dir"
    typeAnswers pipe 2 out
    waitFor 30 'screen | grep -q "Press any key to exit."' || fail "progress: the quick copy never ended"
    quickScreen="$(screen)"
    tmux -L "$tmuxSocket" kill-server 2>/dev/null || true

    dir="$(folder)"
    mkfifo "$dir/pipe"
    startProgram "$dir"
    exec {fifo}<>"$dir/pipe"
    typeAnswers pipe 2 out
    for _ in {1..25}; do
        printf '%s\n' "$chunk" >&"$fifo"
        sleep 0.1
    done
    midCopy="$(lineAfterCopying)"
    exec {fifo}>&-
    if [[ "$midCopy" =~ ^\ {24}[0-9]+\.[0-9]\ kB$ ]]; then passed=$((passed + 1)); else fail "progress: mid-copy the line shows '$midCopy'"; fi
    if waitFor 30 'screen | grep -q "Press any key to exit."'; then
        [ "$(screen)" = "$quickScreen" ] && passed=$((passed + 1)) || {
            fail "progress: the finished screen differs from the quick copy's"
            diff <(printf '%s\n' "$quickScreen") <(screen) || true
        }
    else
        fail "progress: the slow copy never ended"
    fi
    tmux -L "$tmuxSocket" kill-server 2>/dev/null || true

    # A file of known size (64 GiB of zero bytes taking no room, copied to
    # nowhere) shows the share read.
    dir="$(folder)"
    : >"$dir/big.txt"
    if truncate -s 64G "$dir/big.txt" 2>/dev/null; then
        ln -s /dev/null "$dir/out.txt"
        startProgram "$dir"
        typeAnswers big.txt 2 out
        # Keys typed before the overwrite question are dropped: it is answered
        # only by a line typed after it.
        waitFor 30 'screen | grep -q "Do you want to overwrite?"' || fail "progress: no overwrite question"
        typeAnswers y
        if waitFor 30 'lineAfterCopying | grep -q "%"'; then
            share="$(lineAfterCopying)"
            if [[ "$share" =~ ^\ {24}[0-9]{1,2}%\ \ \ [0-9.]+\ [kMG]?B\ of\ 68\.7\ GB$ ]]; then
                passed=$((passed + 1))
            else
                fail "progress: the share read shows as '$share'"
            fi
        else
            fail "progress: no share read on the screen"
            screen
        fi
        tmux -L "$tmuxSocket" kill-server 2>/dev/null || true
    else
        echo "skipped: no sparse file of 64 GiB here"
    fi
else
    echo "skipped: tmux is not installed"
fi

echo "windows tests: $passed passed, $failures failed, $((SECONDS - started)) s"
[ "$failures" -eq 0 ]
