#!/bin/sh
# Non-blank lines of tests (tests/, and fuzz/ on its own) against code (src/, resources/, bench/),
# counting the files git tracks or would track. Run from anywhere inside the repository.
cd "$(git rev-parse --show-toplevel)" || exit 1
count() {
    git ls-files -z --cached --others --exclude-standard -- "$@" |
        xargs -0 -r grep -Ichv '^[[:space:]]*$' 2>/dev/null | awk '{ total += $1 } END { print total + 0 }'
}
tests=$(count tests)
fuzz=$(count fuzz)
code=$(count src resources bench)
awk -v t="$tests" -v f="$fuzz" -v c="$code" 'BEGIN {
    printf "code %d, tests %d (%.1f %%), with fuzz %d (%.1f %%)\n", c, t, 100 * t / c, t + f, 100 * (t + f) / c
}'
