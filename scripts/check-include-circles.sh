#!/usr/bin/env bash
# Fails when source files of the given folders reach each other in a circle through their includes,
# or include a header of src/ without naming its folder ("framework/stream.h", not "stream.h").
# A file and its header count as one unit (controls.cpp and controls.h). The application object and
# the forms are one module in spirit: that pair may include each other.
#     scripts/check-include-circles.sh [FOLDER...]    (default: every folder of src/)
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
folders=("$@")
((${#folders[@]} > 0)) || folders=(src/*/)
folders=("${folders[@]%/}")

bare=$(find "${folders[@]}" -name '*.cpp' -o -name '*.h' | xargs grep -Hn '^#include "[^"/]*"')
if [[ -n "$bare" ]]; then
    echo "includes that do not name their folder:" >&2
    echo "$bare" >&2
    exit 1
fi
allowed='^src/framework/(application src/framework/forms|forms src/framework/application)$'

edges=$(
    find "${folders[@]}" -name '*.cpp' -o -name '*.h' | xargs grep -Ho '^#include "[^"]*"' |
        awk -v headers="$(find src -name '*.h')" '
            BEGIN {
                n = split(headers, list, "\n")
                for (i = 1; i <= n; i++) {
                    name = list[i]; sub(/.*\//, "", name)
                    unit = list[i]; sub(/\.h$/, "", unit)
                    unit_of[name] = unit
                }
            }
            {
                split($0, part, ":")
                from = part[1]; sub(/\.[^.]*$/, "", from)
                included = part[2]; sub(/^#include "/, "", included); sub(/"$/, "", included)
                sub(/.*\//, "", included)
                to = unit_of[included]
                if (to != "" && to != from) print from, to
            }' |
        sort -u | grep -Ev "$allowed"
)
loop=$(tsort <<<"$edges" 2>&1 >/dev/null | grep -v 'input contains a loop' | sed 's/^tsort: //')
if [[ -n "$loop" ]]; then
    echo "include circle among: ${loop//$'\n'/ }" >&2
    exit 1
fi
