#!/usr/bin/env bash
# Runs tandrel-setup.exe under Wine in a virtual display, drives it with real input and saves a
# screenshot of each state of the main window:
#     scripts/screenshot-main.sh [SETUP.exe] [OUTPUT-DIR]
#   01-welcome.png       after start: maximised window, product name, welcome panel
#   02-destination.png   after Enter (Continue is the default button): the destination panel
#   03-confirm.png       after a click on the destination panel's Cancel: the warning question
#   04-kept.png          after "n" (No): the destination panel as it was
#   05-confirm-close.png after Alt+F4: the warning question again
# then "y" (Yes) ends the program; the script fails unless its exit code is 0.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
source "$here/lib/wine.sh"

exe=${1:-$root/build/windows/src/app/tandrel-setup.exe}
out=${2:-$root/build/screenshots}
mkdir -p "$out"
[[ -f "$exe" ]] || { echo "screenshot-main.sh: $exe not found" >&2; exit 2; }

# Always a display of our own, so that input goes nowhere else.
unset DISPLAY
display_ensure || exit 1
trap 'kill "$app_pid" 2>/dev/null; display_stop' EXIT

"$here/wine-run.sh" "$exe" &
app_pid=$!

shot() {
    import -window root "$out/$1"
    echo "saved $out/$1"
}

wine_wait_desktop || { echo "screenshot-main.sh: no Wine desktop appeared" >&2; exit 1; }
shot 01-welcome.png

xdotool key Return
sleep 1.5
shot 02-destination.png

# The destination panel's Cancel button: panel at (180, 77) of the client area, button at
# (208, 117) in the panel, 89 x 29. The client area starts below the title bar of the maximised
# window; take its height from the screenshot-free estimate of Wine's default metrics.
caption=${CAPTION_HEIGHT:-25}
xdotool mousemove $((180 + 208 + 44)) $((caption + 77 + 117 + 14)) click 1
sleep 1.5
shot 03-confirm.png

xdotool key n
sleep 1.5
shot 04-kept.png

xdotool key alt+F4
sleep 1.5
shot 05-confirm-close.png

xdotool key y
wait_process_exit "$app_pid" 20 || {
    echo "screenshot-main.sh: the program did not end after Yes" >&2
    exit 1
}
echo "exit code $PROCESS_STATUS"
exit "$PROCESS_STATUS"
