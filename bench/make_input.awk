# Writes about `bytes` bytes of text with CR LF line ends: words of 1 to 12
# letters and digits, separated by runs of spaces, tabs and commas, with some
# empty and blank-only lines. The same seed gives the same text.
BEGIN {
    srand(seed)
    chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-"
    seps[0] = " "; seps[1] = "  "; seps[2] = "\t"; seps[3] = ","; seps[4] = " \t "
    seps[5] = ", "; seps[6] = "    "; seps[7] = " "
    written = 0
    while (written < bytes) {
        kind = rand()
        if (kind < 0.04) { line = "" }
        else if (kind < 0.07) { line = substr("      \t  ", 1, 1 + int(rand() * 8)) }
        else {
            line = (rand() < 0.2) ? seps[int(rand() * 8)] : ""
            words = 1 + int(rand() * 12)
            for (w = 0; w < words; w++) {
                length_ = 1 + int(rand() * 12)
                word = ""
                for (i = 0; i < length_; i++) word = word substr(chars, 1 + int(rand() * 64), 1)
                line = line word
                if (w < words - 1 || rand() < 0.1) line = line seps[int(rand() * 8)]
            }
        }
        printf "%s\r\n", line
        written += length(line) + 2
    }
}
