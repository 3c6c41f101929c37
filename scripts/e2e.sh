#!/usr/bin/env bash
# End-to-end installation: tandrel-setup.exe under Xvfb and Wine, driven with real keyboard and
# mouse input (xdotool), a screenshot at every step (build/screenshots/e2e/), then the result on
# disk is checked. Four runs into the same folder, its removal, then one run into another folder:
#   1. a new folder (created on request), backups off, shortcuts yes, readme no: the five files
#      equal the payload with its time stamps; Tandrel.lnk in the Programs and SendTo folders,
#      read back with lnkinfo;
#   2. backups on, keep the site database: the old sites.ini stays and a copy is in Backup, the
#      readme.txt that the user changed is moved into Backup, and the three files that already hold
#      the new bytes are not touched (nothing of them goes into Backup);
#   3. backups on again, readme yes: Backup holds the newest replaced readme.txt beside the older
#      backup of it, never over it, and Notepad is started on the installed readme.txt;
#   4. a copy of the setup whose archive header has one byte of its TotalSize changed, backups on:
#      the damaged-file message comes before anything is touched, the installation stays byte for
#      byte as it was, and the program stays up until its window is closed;
#   5. the removal as Apps & features starts it (Wine's list of installed programs runs the
#      registered uninstaller): its question, its closing message; the kept sites.ini and the Backup
#      folder stay, everything else that the setup put there goes, the entry included;
#   6. /VERYSILENT into another folder with a log: no window, nobody presses a key, exit code 0.
# Every run must end with exit code 0.
#     scripts/e2e.sh [SETUP.exe]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
source "$here/lib/wine.sh"
CHECK_PREFIX=e2e
source "$here/lib/checks.sh"

exe=$(realpath "${1:-$root/build/windows/src/app/tandrel-setup.exe}")
program=$root/build/windows/tools/tandrel/Tandrel.exe
payload=$root/resources/payload
shots=$root/build/screenshots/e2e
# The time that the build gives every packed file (SOURCE_DATE_EPOCH of the payload).
packed_time=881505440
for f in "$exe" "$program" "$root/build/windows/tests/e2e/window_wait.exe"; do
    [[ -f "$f" ]] || { echo "e2e: $f not found (build the windows preset first)" >&2; exit 2; }
done
rm -rf "$shots"
mkdir -p "$shots"

# Local time is UTC for Wine too, so that the restored time stamps can be compared exactly.
export TZ=UTC
wine_init_user
unset DISPLAY
display_ensure || exit 1
work=$(mktemp -d /tmp/tandrel-e2e.XXXXXX)
chmod 755 "$work"
app_pid=
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null
    "$here/wine-prefix.sh" destroy "$work" >/dev/null 2>&1
    display_stop
}
trap cleanup EXIT
"$here/wine-prefix.sh" create "$work" >/dev/null || { echo "e2e: no Wine prefix" >&2; exit 1; }
prefix=$work/prefix
export TANDREL_WINEPREFIX=$prefix


# Screen geometry of the maximised main window at 120 DPI in the 1024x768 virtual desktop: the
# client area starts under the title bar; the panels stand where the window put them at creation.
caption=${CAPTION_HEIGHT:-25}
click_client() {  # x y (client coordinates)
    xdotool mousemove "$1" $((caption + $2)) click 1
}
step=0
shot() {
    step=$((step + 1))
    local name
    name=$(printf '%02d-%s.png' "$step" "$1")
    import -window root "$shots/$name"
    echo "e2e: screenshot $name"
}
pause() { sleep "${1:-1.5}"; }

# The program's windows are waited for by a helper in the same Wine desktop, so that each key goes
# to the window meant for it however busy the machine is. The helper is killed should it outlive its
# own limit (a hung Wine start), so that a step fails instead of waiting for it for ever.
waiter=$root/build/windows/tests/e2e/window_wait.exe
WINDOW=
WINDOW_TEXT=
wait_window() {  # caption: sets WINDOW to the handle of the visible window with that caption, WINDOW_TEXT to its message
    local found
    found=$(TANDREL_RUN_LIMIT=90 "$here/wine-run.sh" "$waiter" "$1" 60 2>/dev/null | tr -d '\r')
    WINDOW=$(grep -E '^[0-9]+$' <<<"$found" | tail -1)
    WINDOW_TEXT=$(sed -n 's/^text: //p' <<<"$found" | tail -1)
    [[ -n "$WINDOW" ]] || { fail "no window \"$1\" appeared"; return 1; }
    sleep 0.5  # let its modal loop settle and paint
}
wait_gone() {  # waits until the window WINDOW has gone
    TANDREL_RUN_LIMIT=90 "$here/wine-run.sh" "$waiter" --gone "$WINDOW" 60 >/dev/null 2>&1 || fail "window $WINDOW stayed up"
}
answer() {  # caption screenshot-name key: waits for the window, takes a screenshot, presses key
    wait_window "$1" || return 1
    shot "$2"
    xdotool key "$3"
    wait_gone
}

start_setup() {
    "$here/wine-run.sh" "$exe" >"$work/setup-$1.log" 2>&1 &
    app_pid=$!
    wine_wait_desktop || { fail "run $1: no Wine desktop appeared"; return 1; }
}

wait_exit() {  # run [expected exit code, 0 by default]
    local want=${2:-0}
    wait_process_exit "$app_pid" 30
    local status=$PROCESS_STATUS
    app_pid=
    if [[ -z "$status" ]]; then
        fail "run $1: the program did not end"
        wine_stop_prefix "$prefix"
    elif [[ "$status" -ne "$want" ]]; then
        fail "run $1: exit code $status, expected $want"
    else
        ok "run $1 ended with exit code $want"
    fi
}

wait_edit() {  # text seconds: the main window shows an edit box holding text ("*": any)
    EDIT_SEEN=$(TANDREL_RUN_LIMIT=$(($2 + 30)) "$here/wine-run.sh" "$waiter" --edit "Tandrel Setup" "$1" "$2" 2>/dev/null | tr -d '\r')
    [[ $? -eq 0 && "$EDIT_SEEN" != *"edit boxes:"* ]]
}

# Welcome panel's Continue, then the destination typed into the edit box. Each step waits for what
# the one before it brought up, so that a slow machine never has a click or a key land on the
# wrong panel.
choose_destination() {  # run
    wait_window "Tandrel Setup" || return 1
    shot "run$1-welcome"
    click_client $((190 + 35 + 45)) $((111 + 129 + 14))  # WelcomePanel (190,111), btnContinue
    wait_edit '*' 60 || { fail "run $1: the destination panel did not come up"; return 1; }
    pause 0.5
    shot "run$1-destination"
    local attempt
    for attempt in 1 2; do
        click_client $((180 + 16 + 140)) $((77 + 44 + 12))  # PathPanel (180,77), txtDestPath
        xdotool key End shift+Home BackSpace
        xdotool type --delay 20 "$destination"
        wait_edit "$destination" 20 && break
        # Keys that the X server lost under load are the driver's fault, not the program's: the
        # box is cleared and typed again once, and the run stops if it still does not hold it.
        echo "e2e: run $1: typing attempt $attempt left the box with $EDIT_SEEN"
        ((attempt == 2)) && { fail "run $1: the destination box does not hold $destination"; return 1; }
    done
    shot "run$1-typed"
    xdotool key Return  # the panel's Continue is the default button
}

destination='C:\Tandrel Test\App'
installed="$prefix/drive_c/Tandrel Test/App"
backup="$installed/Backup"
names=(Tandrel.exe Tandrel.hlp readme.txt sites.ini whatsnew.txt)
source_of() { [[ "$1" == Tandrel.exe ]] && echo "$program" || echo "$payload/$1"; }

# ---- Run 1: new folder, no backups, shortcuts, no readme.
if start_setup 1; then
    choose_destination 1
    answer Confirm run1-create-question Return  # Yes: create the folder
    answer Confirm run1-backup-question Escape  # No backups
    answer Confirm run1-shortcut-question Return  # Yes: shortcuts
    answer Information run1-readme-question Escape  # No readme
    answer Setup run1-complete Return
    wait_exit 1
fi

for name in "${names[@]}"; do
    check_same "$(source_of "$name")" "$installed/$name" "run 1 installed $name"
    mtime=$(stat -c %Y "$installed/$name" 2>/dev/null)
    [[ "$mtime" == "$packed_time" ]] && ok "$name time stamp" ||
        fail "$name time stamp $mtime, expected $packed_time"
done
[[ -e "$backup" ]] && fail "run 1 made a Backup folder with backups off"

for folder in Programs SendTo; do
    dir=$(wine_shell_folder "$prefix" "$folder") || { fail "no $folder folder in the registry"; continue; }
    lnk="$dir/Tandrel.lnk"
    if [[ ! -f "$lnk" ]]; then
        fail "no shortcut $lnk"
        continue
    fi
    info=$(lnkinfo "$lnk" 2>&1)
    echo "$info" >"$shots/lnkinfo-$folder.txt"
    # Each field as the install sequence fills it: the installed program as target, description
    # and icon, the destination folder as working directory (never the folder the setup ran from).
    target='C:\Tandrel Test\App\TANDREL.EXE'
    for field in "Local path:$target" "Description:$target" "Icon location:$target" \
        "Working directory:C:\Tandrel Test\App" "Icon index:0"; do
        name=${field%%:*}
        want=${field#*:}
        got=$(grep -m1 -E "^[[:space:]]*$name[[:space:]]*:" <<<"$info" | sed -E 's/^[^:]*:[[:space:]]?//')
        if [[ "$got" == "$want" ]]; then
            ok "$folder shortcut $name = $want"
        else
            fail "$folder shortcut $name is '$got', expected '$want' (see $shots/lnkinfo-$folder.txt)"
        fi
    done
done

# ---- Run 2: the user changed two files; backups on, keep the site database.
printf '\n[My own site]\nHost=ftp.example.net\n' >>"$installed/sites.ini"
printf '\nread by the user\n' >>"$installed/readme.txt"
cp "$installed/sites.ini" "$work/sites-user.ini"
cp "$installed/readme.txt" "$work/readme-user.txt"
declare -A inode_before
for name in Tandrel.exe Tandrel.hlp whatsnew.txt; do
    inode_before[$name]=$(stat -c %i "$installed/$name")
done
if start_setup 2; then
    choose_destination 2
    answer Confirm run2-backup-question Return  # Yes: backups
    if wait_window Confirm; then
        # Drag the question down by its title bar so that the progress window behind it shows.
        xdotool mousemove 500 327 mousedown 1 mousemove 500 450 mousemove 500 600 mouseup 1
        pause 1
        shot run2-keep-question  # the progress window stands behind the question
        xdotool key Return       # Yes: keep the existing site database
        wait_gone
    fi
    answer Confirm run2-shortcut-question Escape
    answer Information run2-readme-question Escape
    answer Setup run2-complete Return
    wait_exit 2
fi
check_same "$work/sites-user.ini" "$installed/sites.ini" "run 2 kept the user's sites.ini"
check_same "$work/sites-user.ini" "$backup/sites.ini" "run 2 copied sites.ini into Backup"
check_same "$work/readme-user.txt" "$backup/readme.txt" "run 2 moved the old readme.txt into Backup"
for name in Tandrel.exe Tandrel.hlp readme.txt whatsnew.txt; do
    check_same "$(source_of "$name")" "$installed/$name" "run 2 installed $name anew"
done
# A file that already held the new bytes is the same file as before, and no copy of it is in Backup.
for name in Tandrel.exe Tandrel.hlp whatsnew.txt; do
    [[ "$(stat -c %i "$installed/$name")" == "${inode_before[$name]}" ]] && ok "run 2 left $name untouched" ||
        fail "run 2 replaced $name, which already held the new bytes"
    [[ -e "$backup/$name" ]] && fail "run 2 put $name, identical to the new one, into Backup"
done

# ---- Run 3: backups on again; the newest replaced files end up in Backup.
printf '\nread again\n' >>"$installed/readme.txt"
cp "$installed/readme.txt" "$work/readme-user2.txt"
if start_setup 3; then
    choose_destination 3
    answer Confirm run3-backup-question Return  # Yes: backups
    answer Confirm run3-keep-question Return    # keep
    answer Confirm run3-shortcut-question Escape
    answer Information run3-readme-question Return  # Yes: the readme
    wait_window Setup
    pause 2
    shot run3-readme
    # Notepad runs inside the virtual desktop; its process carries the command that started it
    # (the Notepad of the system folder, its quotation marks dropped).
    readme_command='C:\windows\system32\notepad.exe C:\Tandrel Test\App\readme.txt'
    if pgrep -a -f -i notepad | cut -d' ' -f2- | grep -q -i -x -F "$readme_command"; then
        ok "run 3 started: $readme_command"
    else
        fail "run 3: no '$readme_command' among: $(pgrep -a -f -i notepad)"
    fi
    # The viewer shows the file: its window is named after it (a viewer that could not open the
    # file shows an error and an untitled window instead).
    wait_window "readme.txt - Notepad" && ok "run 3: the viewer opened readme.txt"
    pkill -f -i '^C:\\windows\\system32\\notepad\.exe '
    answer Setup run3-complete Return
    wait_exit 3
fi
# The user's readme.txt again: no run wrote it, so it never replaces the older backup of that name;
# both stay.
check_same "$work/readme-user.txt" "$backup/readme.txt" "run 3 kept the older backup of readme.txt"
check_same "$work/readme-user2.txt" "$backup/readme (2).txt" "run 3 put the newest replaced readme.txt beside it"
[[ -e "$backup/Tandrel.exe" ]] && fail "run 3 put Tandrel.exe, identical to the new one, into Backup"
check_same "$work/sites-user.ini" "$installed/sites.ini" "run 3 kept the user's sites.ini"

# ---- Run 4: a damaged setup file over the installation: nothing of it may change.
damaged=$work/damaged-setup.exe
if damage_field "$exe" "$root/build/windows/payload.zrv" "$damaged" total-top; then
    rm -rf "$work/before"
    cp -a "$installed" "$work/before"
    exe_saved=$exe
    exe=$damaged
    if start_setup 4; then
        choose_destination 4
        answer Confirm run4-backup-question Return  # Yes: backups
        answer Setup run4-damaged-error Return      # OK
        [[ "$WINDOW_TEXT" == "The setup file is damaged. Please download it again." ]] &&
            ok "run 4 said that the setup file is damaged" || fail "run 4 said: $WINDOW_TEXT"
        pause
        shot run4-after-error  # the progress window stays on the main window, still up
        xdotool mousemove 1010 10 click 1  # the main window's close box
        answer Warning run4-close-question Return  # Yes: end the setup
        wait_exit 4 4  # a failed installation is no success for whoever started it
    fi
    exe=$exe_saved
    if diff -r "$work/before" "$installed" >"$work/run4.diff"; then
        ok "run 4 left the installation as it was"
    else
        fail "run 4 changed the installation: $(head -5 "$work/run4.diff")"
    fi
else
    fail "run 4: could not make the damaged setup file"
fi

# ---- Run 5: the installation removed through Wine's list of installed programs, as Apps & features
# removes it. The list waits for the uninstaller, always ends with 0 and leaves the entry to it.
wine_uninstaller() { wine_as_user "$prefix" wine uninstaller "$@"; }
listed() { wine_uninstaller --list 2>/dev/null | tr -d '\r' | grep -c -F 'Tandrel 2.11'; }
[[ "$(listed)" == 1 ]] && ok "run 5: Wine lists Tandrel 2.11" || fail "run 5: Wine lists Tandrel $(listed) times"
# The uninstaller's windows take the focus themselves: the desktop is not focused for them.
wine_uninstaller --remove Tandrel >"$work/remove-5.log" 2>&1 &
app_pid=$!
answer Confirm run5-remove-question Return  # Yes: remove
answer Information run5-removed Return      # the closing message: OK
wait_exit 5
for name in Tandrel.exe Tandrel.hlp readme.txt whatsnew.txt Uninstall.exe Uninstall.dat; do
    [[ -e "$installed/$name" ]] && fail "run 5 left $name"
done
for folder in Programs SendTo; do
    [[ -e "$(wine_shell_folder "$prefix" "$folder")/Tandrel.lnk" ]] && fail "run 5 left the $folder shortcut"
done
[[ -f "$installed/sites.ini" && -d "$backup" ]] && ok "run 5 kept the user's sites.ini and the Backup folder" ||
    fail "run 5 removed the kept sites.ini or the Backup folder"
[[ "$(listed)" == 0 ]] && ok "run 5: Wine no longer lists Tandrel" || fail "run 5: Tandrel still listed"

# ---- Run 6: unattended, no window at all; nobody presses a key.
silent="$prefix/drive_c/Silent Test"
"$here/wine-run.sh" "$exe" /VERYSILENT '/DIR=C:\Silent Test' '/LOG=C:\silent.log' >"$work/setup-6.log" 2>&1 &
app_pid=$!
sleep 2
shot run6-very-silent  # the empty desktop: no window of the setup
wait_exit 6
for name in "${names[@]}"; do
    check_same "$(source_of "$name")" "$silent/$name" "run 6 installed $name"
done
grep -q -x -F $'Result: installed (exit code 0)\r' "$prefix/drive_c/silent.log" && ok "run 6 logged its result" ||
    fail "run 6: no result in the log: $(cat "$prefix/drive_c/silent.log" 2>&1)"

# ---- Run 7: a destination this account cannot write (a folder of another account's, as Program
# Files is for a standard user): said before any question, in the failure's box, and the program
# ends with a failure's exit code; nothing is made there.
locked="$prefix/drive_c/Locked"
mkdir -p "$locked"
chmod 755 "$locked"
[[ "$(stat -c %U "$locked")" == "$WINE_USER" ]] && chown root "$locked"
destination='C:\Locked\Tandrel'
if start_setup 7; then
    choose_destination 7
    if answer Setup run7-not-writable Return; then
        [[ "$WINDOW_TEXT" == "You cannot install into $destination with this account ("*"). Choose a folder of your own, or start the setup as an administrator." ]] &&
            ok "run 7 said that the account cannot write there" || fail "run 7 said: $WINDOW_TEXT"
    fi
    wait_exit 7 4
fi
[[ -z "$(ls -A "$locked")" ]] && ok "run 7 made nothing" || fail "run 7 made $(ls -A "$locked")"

# ---- Run 8: a folder too long for the names the run makes there: said before any question, with
# the limit; the user may choose another (here: closes the setup, which then ends with 0).
destination="C:\\$(printf 'L%.0s' $(seq 246))"
if start_setup 8; then
    choose_destination 8
    if answer Setup run8-too-long Return; then
        [[ "$WINDOW_TEXT" == "The folder name is too long: at most 224 characters, so that every file and its backup fit the system's limit of 260." ]] &&
            ok "run 8 named the limit" || fail "run 8 said: $WINDOW_TEXT"
    fi
    pause
    xdotool mousemove 1010 10 click 1         # the main window's close box
    answer Warning run8-close-question Return # Yes: end the setup
    wait_exit 8
fi
[[ -e "$prefix/drive_c/$(printf 'L%.0s' $(seq 246))" ]] && fail "run 8 made the folder"

echo "e2e: screenshots in $shots"
checks_summary
