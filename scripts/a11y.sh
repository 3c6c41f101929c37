#!/usr/bin/env bash
# Accessibility end to end: an interactive installation and its removal under Xvfb and Wine, driven
# by the keyboard alone (no mouse event at all), each screen read as a screen reader reads it
# (tests/e2e/a11y_read.cpp: the window tree and the accessible objects) and photographed:
#   - every text shown is read with its text; the edit box, the directory list and the drive list
#     carry the name of the label above them, and every row of both lists is read as a list item; the message dialogs answer as dialogs with their
#     message; the progress bar announces its progress by value-change events during the
#     extraction and the removal;
#   - the in-use message of the removal opens with the focus on its default button (Retry), which
#     Enter presses once the program that held the file has ended;
#   - the installed files equal the payload; the removal leaves nothing of them.
#     scripts/a11y.sh [options] [SETUP.exe]
#       --shots DIR        where the screenshots go (default build/screenshots/a11y)
#       --dpi N            the prefix's pixels per inch (default 120)
#       --no-read          drive and photograph only (the same screens of another build)
#       --high-contrast    a high-contrast theme switched on in the prefix; checks that the
#                          gradient's colours are no longer drawn
set -uo pipefail
CHECK_PREFIX=a11y
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/lib/checks.sh"
source "$here/lib/wine.sh"
root=$(cd "$here/.." && pwd)

shots=$root/build/screenshots/a11y
dpi=120
read_screens=1
high_contrast=
while (($# > 0)); do
    case "$1" in
        --shots) shots=$2; shift 2 ;;
        --dpi) dpi=$2; shift 2 ;;
        --no-read) read_screens=; shift ;;
        --high-contrast) high_contrast=1; shift ;;
        *) break ;;
    esac
done
exe=$(realpath "${1:-$root/build/windows/src/app/tandrel-setup.exe}")
tests=$root/build/windows/tests/e2e
reader=$tests/a11y_read.exe
waiter=$tests/window_wait.exe
program=$root/build/windows/tools/tandrel/Tandrel.exe
payload=$root/resources/payload
for f in "$exe" "$reader" "$waiter" "$program"; do
    [[ -f "$f" ]] || { echo "a11y: $f not found (build the windows preset first)" >&2; exit 2; }
done
rm -rf "$shots"
mkdir -p "$shots"

unset DISPLAY TANDREL_WINEPREFIX  # a display and a prefix of this run's own
wine_test_prefix a11y || exit 1
display_ensure || exit 1
app_pid=
holder=
stop_all() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null
    [[ -n "$holder" ]] && kill "$holder" 2>/dev/null
    wine_test_done
    display_stop
}
trap stop_all EXIT

# The screen's pixels per inch; a caret that does not blink, so that two runs photograph the same
# pixels; the high-contrast theme (black, as the system's "High Contrast Black") when asked for.
settings=$work/a11y.reg
{
    echo 'REGEDIT4'
    echo
    echo '[HKEY_CURRENT_USER\Control Panel\Desktop]'
    printf '"LogPixels"=dword:%08x\n' "$dpi"
    echo '"CursorBlinkRate"="-1"'
    echo
    echo '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts]'
    printf '"LogPixels"=dword:%08x\n' "$dpi"
    if [[ -n "$high_contrast" ]]; then
        echo
        echo '[HKEY_CURRENT_USER\Control Panel\Accessibility\HighContrast]'
        echo '"Flags"="127"'
        echo '"High Contrast Scheme"="High Contrast Black"'
        echo
        echo '[HKEY_CURRENT_USER\Control Panel\Colors]'
        for pair in "ButtonFace=0 0 0" "ButtonText=255 255 255" "Window=0 0 0" "WindowText=255 255 255" \
            "Highlight=0 255 255" "HighlightText=0 0 0" "GrayText=0 255 0" "ButtonShadow=128 128 128" \
            "ButtonHilight=255 255 255" "WindowFrame=255 255 255" "ActiveTitle=128 0 128" \
            "TitleText=255 255 255"; do
            echo "\"${pair%%=*}\"=\"${pair#*=}\""
        done
    fi
} >"$settings"
chmod a+r "$settings"
wine_as_user "$prefix" wine regedit /S "$settings" >/dev/null 2>&1
wine_wait_server "$prefix"

step=0
shot() {
    step=$((step + 1))
    local name
    name=$(printf '%02d-%s.png' "$step" "$1")
    import -window root "$shots/$name"
}

WINDOW=
wait_window() {  # caption: sets WINDOW to the handle of the visible window with that caption
    WINDOW=$(TANDREL_RUN_LIMIT=90 "$here/wine-run.sh" "$waiter" "$1" 60 2>/dev/null | tr -d '\r' | grep -E '^[0-9]+$' | tail -1)
    [[ -n "$WINDOW" ]] || { fail "no window \"$1\" appeared"; return 1; }
    sleep 0.7  # let its modal loop settle and paint
}
wait_gone() {
    TANDREL_RUN_LIMIT=90 "$here/wine-run.sh" "$waiter" --gone "$WINDOW" 60 >/dev/null 2>&1 || fail "window $WINDOW stayed up"
}

READ=
read_window() {  # caption screen: reads the window as a screen reader does into READ (and a file)
    [[ -n "$read_screens" ]] || return 0
    READ=$(TANDREL_RUN_LIMIT=60 "$here/wine-run.sh" "$reader" "$1" 30 2>&1 | tr -d '\r')
    echo "$READ" >"$shots/read-$2.txt"
}
reads() {  # screen lines...: each line is in READ
    [[ -n "$read_screens" ]] || return 0
    local screen=$1 line
    shift
    for line in "$@"; do
        if grep -q -F -x -- "$line" <<<"$(sed -E 's/^ +//' <<<"$READ")"; then
            ok "$screen: $line"
        else
            fail "$screen: no '$line' (see $shots/read-$screen.txt)"
        fi
    done
}
# A message dialog: a dialog with its caption, its message (which starts with message) as static
# text, its buttons by name (the system's objects of the buttons; their role is Wine's to give).
reads_dialog() {  # screen caption message buttons...
    [[ -n "$read_screens" ]] || return 0
    local screen=$1 caption=$2 message=$3 button flat
    shift 3
    flat=$(sed -E 's/^ +//' <<<"$READ")
    grep -q -x -F "object dialog \"$caption\" value=\"\" state=0x0" <<<"$flat" && ok "$screen: a dialog \"$caption\"" ||
        fail "$screen: no dialog \"$caption\" (see $shots/read-$screen.txt)"
    grep -q -F "object statictext \"$message" <<<"$flat" && ok "$screen: its message \"$message...\"" ||
        fail "$screen: no message \"$message...\" (see $shots/read-$screen.txt)"
    for button in "$@"; do
        grep -q -E "^object [a-z]+ \"$button\" " <<<"$flat" && ok "$screen: a button \"$button\"" ||
            fail "$screen: no button \"$button\" (see $shots/read-$screen.txt)"
    done
}
# The button of the dialog that has the focus: its accessible object says so (STATE_SYSTEM_FOCUSED).
focused_button() {
    sed -E 's/^ +//' <<<"$READ" | grep -E '^object [a-z]+ "[^"]*" value="[^"]*" state=0x[0-9a-f]*[4-7cdef]$' |
        grep -v -E '^object (dialog|client "Tandrel Setup")' | sed -E 's/^object [a-z]+ "([^"]*)".*/\1/' | head -1
}

answer() {  # caption screen key [message buttons...]: reads and photographs the window, presses key
    local caption=$1 screen=$2 key=$3
    shift 3
    wait_window "$caption" || return 1
    read_window "$caption" "$screen"
    if (($# > 0)); then
        reads_dialog "$screen" "$caption" "$@"
    fi
    shot "$screen"
    xdotool key "$key"
    wait_gone
}

# Every thread of the process tree under pid, and the threads they start from now on: on the
# processor the reader runs on, at the lowest priority (as root; otherwise as it is).
behind_the_reader() {  # pid
    local pid task
    for pid in $1 $(descendants "$1"); do
        for task in /proc/"$pid"/task/*; do
            task=${task##*/}
            taskset -p 1 "$task" >/dev/null 2>&1 || true
            renice -n 19 -p "$task" >/dev/null 2>&1 || true
        done
    done
}
descendants() {  # pid
    local child
    for child in $(ps -o pid= --ppid "$1"); do
        echo "$child"
        descendants "$child"
    done
}

progress_watch() {  # name: records the progress bar's values from its first appearance
    [[ -n "$read_screens" ]] || return 0
    # A screen reader keeps up with the program it reads; on a machine busy with other tests this
    # one would lose the race with an extraction of a fraction of a second. It runs ahead of them
    # (as root; otherwise as it is), and the program's windows still go when they go.
    #
    # Ahead alone is not enough when the reader and the program run on two processors at once: a
    # short extraction can end between two of the reader's questions. So the reader and the
    # program share one processor, the program far below the reader: the program goes on only
    # while the reader waits for an answer, and it answers at its next percentage.
    TANDREL_RUN_LIMIT=100 taskset -c 0 nice -n -10 "$here/wine-run.sh" "$reader" --progress 90 \
        >"$work/progress-$1.txt" 2>&1 &
    PROGRESS_PID=$!
    behind_the_reader "$app_pid"
    local _
    for _ in $(seq 1 60); do  # the work starts once the reader listens
        grep -q '^listening' "$work/progress-$1.txt" && return 0
        sleep 0.5
    done
    fail "$1: the reader does not listen"
}
# The bar announces each new percentage. The extraction answers a reader at each new percentage, so
# a reader hears the bar's name and at least one percentage while the files are expanded; a short
# removal's window may go before the reader asks. The values themselves are read in the Windows
# tests (tests/widgets/accessible_test.cpp); here, those read in time must rise in order.
progress_check() {  # name
    [[ -n "$read_screens" ]] || return 0
    wait_process_exit "$PROGRESS_PID" 110 || kill "$PROGRESS_PID" 2>/dev/null
    local log=$work/progress-$1.txt values events
    tr -d '\r' <"$log" >"$shots/progress-$1.txt"
    if grep -q -E "^bar progressbar " "$shots/progress-$1.txt"; then
        ok "$1: a progress bar sends the value changes"
    elif grep -q -x "bar gone" "$shots/progress-$1.txt" ||
        { [[ "$1" == remove ]] && grep -q -E "^unread " "$shots/progress-$1.txt"; }; then
        # On a busy machine the events can reach the reader after the window has closed (a short
        # removal's often do); the gauge's role is read in the widgets' own tests, the events are
        # counted below.
        echo "a11y: note: $1: the window had closed before the reader could ask for its role"
    else
        fail "$1: no progress bar sent value changes (see $shots/progress-$1.txt)"
    fi
    events=$(sed -n 's/^events //p' "$shots/progress-$1.txt")
    ((${events:-0} >= $2)) && ok "$1: $events value-change events" || fail "$1: ${events:-no} value-change events"
    values=$(sed -n 's/^value \([0-9]*\)%$/\1/p' "$shots/progress-$1.txt")
    sort -n -c <<<"$values" 2>/dev/null && ok "$1: the values read rise in order ($(tr '\n' ' ' <<<"$values"))" ||
        fail "$1: values out of order: $(tr '\n' ' ' <<<"$values")"
    if [[ "$1" == install ]]; then
        grep -q -E '^bar progressbar "[^"]+"$' "$shots/progress-$1.txt" && ok "$1: the bar's name is read at its event" ||
            fail "$1: the bar's name is not read at its event (see $shots/progress-$1.txt)"
        [[ -n "$values" ]] && ok "$1: a percentage is read at its event" ||
            fail "$1: no percentage read during the extraction (see $shots/progress-$1.txt)"
    fi
}

destination='C:\Tandrel A11y\App'
installed="$prefix/drive_c/Tandrel A11y/App"
names=(Tandrel.exe Tandrel.hlp readme.txt sites.ini whatsnew.txt)
source_of() { [[ "$1" == Tandrel.exe ]] && echo "$program" || echo "$payload/$1"; }
label='Select a directory  for installation:'

# ---- The installation.
"$here/wine-run.sh" "$exe" >"$work/setup.log" 2>&1 &
app_pid=$!
wine_wait_desktop || fail "no Wine desktop appeared"
wait_window "Tandrel Setup"
read_window "Tandrel Setup" welcome
reads welcome 'object client "Tandrel Setup" value="" state=0x0' \
    'object statictext "Tandrel 2.11" value="" state=0x40' \
    'object statictext "by: Ornavik, Inc." value="" state=0x40' \
    'object statictext "Welcome to Tandrel Setup!" value="" state=0x40' \
    'object statictext "This program will install Tandrel on your system." value="" state=0x40' \
    'object statictext "Click Cancel to abort." value="" state=0x40'
if [[ -n "$read_screens" ]]; then
    # The heading and its drop shadow are one text to a reader.
    [[ "$(grep -c -F '"Tandrel 2.11"' <<<"$READ")" == 1 ]] && ok "welcome: the heading is read once" ||
        fail "welcome: the heading is read $(grep -c -F '"Tandrel 2.11"' <<<"$READ") times"
    [[ "$(focused_button)" == Continue ]] && ok "welcome: the focus is on Continue" ||
        fail "welcome: the focus is on '$(focused_button)'"
fi
shot welcome
xdotool key Return  # Continue, the focused default button
sleep 1.5
read_window "Tandrel Setup" destination
reads destination "object statictext \"$label\" value=\"\" state=0x40" \
    "object text \"$label\" value=\"C:\\Program Files\\Tandrel\" state=0x100004"
if [[ -n "$read_screens" ]]; then
    # The label, the edit box, the directory list and the drive list: four objects of that name.
    [[ "$(grep -c -F "\"$label\"" <<<"$READ")" == 4 ]] && ok "destination: the edit box and both lists are named '$label'" ||
        fail "destination: $(grep -c -F "\"$label\"" <<<"$READ") objects named '$label', expected 4"
    # Every row of the directory list and of the drive list is read as a list item with its text,
    # and each list's value is its selected row.
    items=$(sed -E 's/^ +//' <<<"$READ" | grep -E '^object listitem ')
    grep -q -E '^object listitem "[A-Za-z]:\\"' <<<"$items" && ok "destination: the directory list's rows are read" ||
        fail "destination: no drive root row read in the directory list"
    grep -q -E '^object listitem "c: ' <<<"$items" && ok "destination: the drive list's rows are read" ||
        fail "destination: no drive row read"
    grep -q -E '^object listitem ""' <<<"$items" && fail "destination: a list row without its text"
    lists=$(grep -c -E "^ *object [a-z]+ \"$label\" value=\"[^\"]+\" state=0x1[0-9a-f]{5}$" <<<"$READ")
    [[ "$lists" == 3 ]] && ok "destination: the edit box and both lists have their text or selected row as value" ||
        fail "destination: $lists of the edit box and the lists have a value, expected 3"
fi
shot destination
xdotool key End shift+Home BackSpace
xdotool type --delay 20 "$destination"
sleep 0.5
read_window "Tandrel Setup" typed
reads typed "object text \"$label\" value=\"$destination\" state=0x100004"
shot typed
xdotool key Return  # the panel's Continue is the default button
answer Confirm create-question Return "The directory $destination does not exist. Create it?" Yes No
progress_watch install
answer Confirm backup-question Escape 'Do you want to backup replaced files ?' Yes No
answer Confirm shortcut-question Return 'Add a shortcut to the Start Menu?' Yes No
progress_check install 5
answer Information readme-question Escape 'Do you want to view the README file now?' Yes No
answer Setup complete Return 'Tandrel Setup Complete.' OK
wait_process_exit "$app_pid" 30
status=$PROCESS_STATUS
app_pid=
[[ "$status" == 0 ]] && ok "the installation ended with exit code 0" || fail "the installation: exit code '$status'"
for name in "${names[@]}"; do
    check_same "$(source_of "$name")" "$installed/$name" "installed $name"
done

# ---- Again into the same folder: the site database question comes during the extraction, the
# extraction window behind it. The user has added a site of their own, which is kept.
printf '\r\n[My own site]\r\nHost=ftp.example.net\r\n' >>"$installed/sites.ini"
"$here/wine-run.sh" "$exe" >"$work/setup-again.log" 2>&1 &
app_pid=$!
wine_wait_desktop || fail "no Wine desktop appeared"
wait_window "Tandrel Setup"
xdotool key Return
sleep 1.5
xdotool key End shift+Home BackSpace
xdotool type --delay 20 "$destination"
xdotool key Return
answer Confirm again-backup-question Escape 'Do you want to backup replaced files ?' Yes No
answer Confirm again-keep-question Return 'There is currently a site database file.' Yes No
answer Confirm again-shortcut-question Escape 'Add a shortcut to the Start Menu?' Yes No
answer Information again-readme-question Escape 'Do you want to view the README file now?' Yes No
answer Setup again-complete Return 'Tandrel Setup Complete.' OK
wait_process_exit "$app_pid" 30
status=$PROCESS_STATUS
app_pid=
[[ "$status" == 0 ]] && ok "the second installation ended with exit code 0" ||
    fail "the second installation: exit code '$status'"

# ---- The removal, while the installed Tandrel.exe runs: the in-use message first.
"$here/wine-run.sh" "$installed/Tandrel.exe" >/dev/null 2>&1 &
holder=$!
sleep 2
"$here/wine-run.sh" "$installed/Uninstall.exe" >"$work/uninstall.log" 2>&1 &
app_pid=$!
wine_focus_desktop || fail "no Wine desktop appeared"
answer Confirm remove-question Return "" Yes No
wait_window Warning
read_window Warning in-use
if [[ -n "$read_screens" ]]; then
    grep -q -E '^ *object dialog "Warning"' <<<"$READ" && ok "in-use: a dialog" || fail "in-use: not a dialog"
    grep -q -E '^ *object statictext "Cannot remove .*Tandrel\.exe.*choose Retry' <<<"$READ" &&
        ok "in-use: its message is read" || fail "in-use: its message is not read"
    [[ "$(focused_button)" == Retry ]] &&
        ok "in-use: the focus is on Retry, the default button" || fail "in-use: the focus is on '$(focused_button)'"
fi
shot in-use
wine_as_user "$prefix" wine taskkill /f /im Tandrel.exe >/dev/null 2>&1
wait_process_exit "$holder" 30 || fail "the running Tandrel.exe did not end"
holder=
progress_watch remove
if [[ -n "$read_screens" ]]; then
    xdotool key Return  # Retry, the default button
else
    xdotool key r  # Retry by its letter, wherever the focus stands (another build)
fi
wait_gone
progress_check remove 1
answer Information removed Return "" OK
wait_process_exit "$app_pid" 30
status=$PROCESS_STATUS
app_pid=
[[ "$status" == 0 ]] && ok "the removal ended with exit code 0" || fail "the removal: exit code '$status'"
for name in Tandrel.exe Tandrel.hlp readme.txt whatsnew.txt Uninstall.exe Uninstall.dat; do
    [[ -e "$installed/$name" ]] && fail "the removal left $name"
done
[[ -f "$installed/sites.ini" ]] && ok "the removal kept the site database that the user changed" ||
    fail "the removal took the changed sites.ini"

# ---- High contrast: the background is the theme's, without the gradient's bands.
if [[ -n "$high_contrast" ]]; then
    colours=$(convert "$shots/01-welcome.png" -crop 1x700+1010+40 +repage -unique-colors -format '%w' info:)
    [[ "$colours" == 1 ]] && ok "high contrast: one background colour, no gradient" ||
        fail "high contrast: $colours colours down the background, the gradient is drawn"
fi

echo "a11y: screenshots and reads in $shots"
checks_summary
