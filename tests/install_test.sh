#!/usr/bin/env bash
# Installs the built program into a temporary prefix and runs it from there,
# renders its manual page, and builds the Debian package, looks inside and has
# the distribution's package checker (lintian) check it.
# Usage: install_test.sh BUILD_DIR VERSION
set -uo pipefail

build="$(cd "$1" && pwd)"
version="$2"
source="$(cd "$(dirname "$0")/.." && pwd)"
source "$source/tests/console_texts.sh"  # what the program writes at the console
cmake="${CMAKE:-cmake}"
cpack="${CPACK:-cpack}"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# Runs PROGRAM in DIRECTORY with ANSWERS piped in and no controlling terminal,
# so the last key is not awaited; the console goes to DIRECTORY/console.
run() {
    local program="$1" directory="$2" answers="$3"
    (cd "$directory" && printf '%s' "$answers" | setsid -w "$program" >console)
}

# A whole conversion by the installed program: the bytes of the copy, what the
# console said, and the exit status.
check_conversion() {
    local program="$1" directory="$tmp/run-$2"
    mkdir -p "$directory"
    printf 'one two\t three\n' >"$directory/data.txt"
    run "$program" "$directory" $'data.txt\n1\nOut\n'
    local status=$?
    [ "$status" -eq 0 ] || fail "$program: exit status $status"
    printf 'one,two,three\r\n' | cmp -s - "$directory/out.csv" || fail "$program: wrong out.csv"
    grep -qF "$(consoleText copying data.txt out.csv)" "$directory/console" || fail "$program: no Copying line"
}

# Renders a manual page file (compressed or not): groff in its strictest
# warnings must have nothing to say, and man must show the page.
check_manual() {
    local page="$1" warnings
    warnings="$(zcat -f "$page" | groff -ww -man -Tutf8 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
    warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "man warns about $page: $warnings"
}

# --- installing -------------------------------------------------------------
prefix="$tmp/prefix"
"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
    fail "cmake --install: $(cat "$tmp/install.log")"
[ -x "$prefix/bin/zorven" ] || fail "no executable bin/zorven"
[ -f "$prefix/share/man/man1/zorven.1.gz" ] || fail "no manual page share/man/man1/zorven.1.gz"
for file in copyright changelog.gz; do
    [ -f "$prefix/share/doc/zorven/$file" ] || fail "no share/doc/zorven/$file"
done

check_conversion "$prefix/bin/zorven" installed
check_manual "$prefix/share/man/man1/zorven.1.gz"
# man finds the page where it was installed.
MANWIDTH=80 man -M "$prefix/share/man" zorven 2>/dev/null | grep -q '^NAME' || fail "man -M does not find zorven"

# --- what the manual says ---------------------------------------------------
# Rendered wide and unhyphenated so that no text of the program is broken.
manual="$tmp/manual.txt"
groff -man -Tutf8 -rLL=300n -rHY=0 "$source/doc/zorven.1" 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g; s/.\x08//g' >"$manual"

# Every prompt and message of the dialogue, and every option of the menu,
# appears in the manual as the program writes it: each part of a text around
# its file names that holds a letter. The manual shows the menu, not the
# banner above it.
consoleTextEntries | while IFS=$'\t' read -r name indent text; do
    case "$name" in banner | heading) continue ;; esac
    printf '%s\n' "${text//%s/$'\n'}"
done | sed -E 's/^ +//; s/ +$//' | grep '[A-Za-z]' | sort -u >"$tmp/texts"
[ "$(grep -c '^[1-6]\. ' "$tmp/texts")" -eq 6 ] || fail "the six options not found in tests/console_texts.txt"
[ -s "$tmp/texts" ] || fail "no prompts found in tests/console_texts.txt"
while IFS= read -r text; do
    grep -qF -- "$text" "$manual" || fail "the manual lacks \"$text\""
done <"$tmp/texts"

# Every example of a conversion converts as the manual says, by the installed
# program. An example reads: [With N tabs|line spaces, ]"input" gives "output".
option=""
examples=0
while IFS= read -r line; do
    if [[ "$line" =~ ^\ +([1-6])\.\  ]]; then
        option="${BASH_REMATCH[1]}"
    elif [[ "$line" =~ ^\ +(With\ ([0-9])\ [a-z ]+,\ )?\"(.*)\"\ gives\ \"(.*)\"$ ]]; then
        parameter="${BASH_REMATCH[2]:-}"
        directory="$tmp/example-$option"
        mkdir -p "$directory"
        printf '%b' "${BASH_REMATCH[3]}" >"$directory/in.txt"
        printf '%b' "${BASH_REMATCH[4]}" >"$directory/expected"
        if [ "$option" = 6 ]; then
            run "$prefix/bin/zorven" "$directory" "in.txt 6 $parameter"
            output="${parameter}sp_in.txt"
        else
            run "$prefix/bin/zorven" "$directory" "in.txt $option $parameter out"
            output="$(cd "$directory" && ls out.*)"
        fi
        cmp -s "$directory/expected" "$directory/$output" ||
            fail "option $option: the manual's example gives something else"
        examples=$((examples + 1))
    fi
done < <(sed -n '/^CONVERSIONS/,/^[A-Z]/p' "$manual")
[ "$examples" -eq 6 ] || fail "found $examples examples of conversions in the manual, not 6"

# --- the Debian package ------------------------------------------------------
# lintian runs in the background while the rest is checked: it takes several
# seconds. --no-cfg and a named profile keep a local configuration or the
# machine's vendor from changing what it checks and shows; TMPDIR keeps its
# unpacked copy of the package in this test's directory.
start_lintian() {
    TMPDIR="$tmp" lintian --no-cfg --profile debian --display-info "$1" >"$tmp/lintian.out" 2>"$tmp/lintian.err" &
    lintianPid=$!
}

# I: tags that do not apply to this package, each with the reason why: none
# so far. Any other tag fails the test: every E:, W: and I: one.
allowedInfo=()

# Tags are matched by name, so a lintian that knows more or fewer tags only
# changes what it reports; what it writes besides tags (such as its notes on
# stderr) is ignored unless it also fails without a tag to say why.
check_lintian() {
    wait "$lintianPid"
    local status=$? tagged=false line
    while IFS= read -r line; do
        [[ "$line" =~ ^([A-Z]):\ zorven[^:]*:\ ([^ ]+) ]] || continue
        if [ "${BASH_REMATCH[1]}" = I ] && [[ " ${allowedInfo[*]} " == *" ${BASH_REMATCH[2]} "* ]]; then
            continue
        fi
        fail "lintian: $line"
        tagged=true
    done <"$tmp/lintian.out"
    [ "$status" -eq 0 ] || $tagged || fail "lintian failed (status $status): $(cat "$tmp/lintian.err")"
}

# Built with a umask that lets the group write, as many systems have: the
# package's directories must be 0755 all the same.
(umask 0002 && "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/package") >"$tmp/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$tmp/cpack.log")"
deb="$(ls "$tmp"/package/zorven_"$version"_*.deb 2>/dev/null | head -n 1)"
if [ -z "$deb" ]; then
    fail "no zorven_${version}_*.deb built"
else
    start_lintian "$deb"
    contents="$(dpkg-deb -c "$deb")"
    grep -qE '^-rwxr-xr-x root/root .* \./usr/bin/zorven$' <<<"$contents" || fail "the package lacks usr/bin/zorven"
    for file in usr/share/man/man1/zorven.1.gz usr/share/doc/zorven/copyright usr/share/doc/zorven/changelog.gz; do
        grep -qE "^-rw-r--r-- root/root .* \./${file//./\\.}\$" <<<"$contents" || fail "the package lacks $file"
    done

    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = zorven ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
    [ "$(field Section)" = utils ] || fail "Section: $(field Section)"
    grep -qE '^.+ <[^ >]+@[^ >]+>$' <<<"$(field Maintainer)" || fail "Maintainer: $(field Maintainer)"
    # A short description on the first line, a long one below it.
    [ "$(field Description | head -n 1)" = "make a converted copy of a plain text file" ] ||
        fail "short Description: $(field Description | head -n 1)"
    [ "$(field Description | wc -l)" -gt 2 ] || fail "no long Description"
    grep -q 'libc6 (>= ' <<<"$(field Depends)" || fail "Depends not computed: $(field Depends)"
    grep -qE '(^|, )libedit2( |,|$)' <<<"$(field Depends)" || fail "Depends lacks the line editor: $(field Depends)"

    # The packaged files work: the program converts, the page renders and is
    # the one in the source, with the version in its footer (the .TH line).
    dpkg-deb -x "$deb" "$tmp/unpacked"
    check_conversion "$tmp/unpacked/usr/bin/zorven" packaged
    page="$tmp/unpacked/usr/share/man/man1/zorven.1.gz"
    check_manual "$page"
    cmp -s <(zcat "$page" | grep -v '^\.TH ') <(grep -v '^\.TH ' "$source/doc/zorven.1") ||
        fail "the packaged manual page is not doc/zorven.1"

    # The version, stated once (the project version in CMakeLists.txt), is the
    # package's, the manual page's and the newest changelog entry's.
    footer="$(MANWIDTH=80 man -l "$page" 2>/dev/null | tail -n 1)"
    [[ "$footer" == "zorven $version "* ]] || fail "the manual page's footer reads \"$footer\", not zorven $version"
    zcat "$tmp/unpacked/usr/share/doc/zorven/changelog.gz" >"$tmp/changelog"
    newest="$(dpkg-parsechangelog -l "$tmp/changelog" -S Version 2>&1)"
    [ "$newest" = "$version" ] || fail "the newest entry of doc/changelog is for $newest, not $version"
    head -n 1 "$tmp/unpacked/usr/share/doc/zorven/copyright" |
        grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        fail "the copyright file is not in Debian's machine-readable format 1.0"

    check_lintian
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed, converted, manual rendered, package checked and passed by lintian"
