#!/usr/bin/env bash
# Photographs every screen of a keyboard-driven installation and removal (scripts/a11y.sh
# --no-read) for two builds of the setup at 96, 120 and 192 pixels per inch, and compares the
# pictures pixel by pixel (ImageMagick's compare, absolute error count):
#     scripts/compare-screens.sh OTHER_SETUP.exe [SETUP.exe]
# Prints one line a picture: "same" or the number of differing pixels; exits 1 when any differs.
#   DPIS   the resolutions, default "96 120 192"
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
other=$(realpath "$1")
this=$(realpath "${2:-$root/build/windows/src/app/tandrel-setup.exe}")
out=$root/build/screenshots/compare
status=0
for dpi in ${DPIS:-96 120 192}; do
    # Both runs side by side, each with its own display and prefix.
    "$here/a11y.sh" --no-read --dpi "$dpi" --shots "$out/$dpi/other" "$other" >"$out-$dpi-other.log" 2>&1 &
    first=$!
    sleep 10  # the first has its display by then; the second takes the next free one
    "$here/a11y.sh" --no-read --dpi "$dpi" --shots "$out/$dpi/this" "$this" >"$out-$dpi-this.log" 2>&1
    wait "$first"
    for picture in "$out/$dpi/other"/*.png; do
        name=$(basename "$picture")
        if [[ ! -f "$out/$dpi/this/$name" ]]; then
            echo "$dpi dpi $name: missing"
            status=1
            continue
        fi
        differing=$(compare -metric AE "$picture" "$out/$dpi/this/$name" "$out/$dpi/diff-$name" 2>&1 >/dev/null)
        if [[ "$differing" == 0 ]]; then
            echo "$dpi dpi $name: same"
        else
            echo "$dpi dpi $name: $differing pixels differ"
            status=1
        fi
    done
done
exit $status
