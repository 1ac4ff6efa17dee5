# Doxygen input filter for the public headers. Doxygen reads only /** and
# /**< comments, and the headers are written with plain C comments: this
# makes the first comment the file's description, a comment that ends right
# above a declaration that declaration's, and a comment after a macro or a
# field that member's. Section rulers and group notes stay plain comments.
# The line count stays the same, so Doxygen's line numbers stay right.
{ line[NR] = $0 }
END {
    i = 1
    while (i <= NR) {
        if (line[i] ~ /^\/\*/) {
            last = i
            while (last < NR && line[last] !~ /\*\//) last++
            if (i == 1) sub(/^\/\*/, "/** @file", line[i])
            else if (line[i] !~ /^\/\* --/ && line[last + 1] ~ /^(WEXO_API|typedef) /) sub(/^\/\*/, "/**", line[i])
            for (k = i; k <= last; k++) print line[k]
            i = last + 1
            continue
        }
        if (line[i] !~ /^ *\*/ && line[i] ~ /[^ ] +\/\* .*\*\/ *$/) sub(/\/\* /, "/**< ", line[i])
        print line[i]
        i++
    }
}
