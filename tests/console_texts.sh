# The program's console texts for the shell tests, from console_texts.txt
# beside this file (sourced, not run).

consoleTextsFile="$(dirname "${BASH_SOURCE[0]}")/console_texts.txt"

# Every text, one a line: its name, a TAB, its indent, a TAB, the text.
consoleTextEntries() {
    sed -n 's/^\([A-Za-z]\{1,\}\) \{1,\}\([0-9]\{1,\}\) \{1,\}"\(.*\)"$/\1\t\2\t\3/p' "$consoleTextsFile"
}

# consoleText NAME [FILE NAME...]: the text as the program writes it, its
# indent included, each %s replaced by the next file name.
consoleText() {
    local name indent text
    while IFS=$'\t' read -r name indent text; do
        if [ "$name" = "$1" ]; then
            # The texts hold no backslash and no % but their %s.
            # shellcheck disable=SC2059
            printf "%${indent}s$text" '' "${@:2}"
            return
        fi
    done < <(consoleTextEntries)
    echo "consoleText: no text named $1" >&2
    return 1
}
