#!/usr/bin/env bash
# Removals by the built Uninstall.exe under Wine, of installations that fabricate.exe records as the
# setup does (files, created folders, shortcuts, the uninstall entry), checked on disk, in the
# registry, in the log and by their exit codes; the interactive run driven with real keys, with
# screenshots of its question, its in-use message and its closing message:
#     uninstall_test.sh UNINSTALL_EXE FABRICATE_EXE WINDOW_WAIT_EXE PROGRESS_WINDOW_EXE [SCREENSHOT_DIR]
# Runs in $TANDREL_WINEPREFIX when set (the test run's prefix), otherwise in a prefix of its own.
# Every run has a time limit, so that a window waiting for somebody fails the test instead of
# hanging it.
set -uo pipefail
uninstaller=$1 fabricate=$2 waiter=$3 progress_window=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
shots=${5:-$here/../../build/screenshots/uninstall}
source "$here/../../scripts/lib/wine-test.sh" uninstall || exit 1
display_ensure || exit 1
mkdir -p "$shots"
rm -f "$shots"/*.png

made=("$drive_c"/Remove* "$drive_c/link-target" "$drive_c/windows/Uninstall.exe" "$drive_c/windows/Uninstall.dat"
    "$drive_c/windows/victim.txt" "$drive_c/Uninstall.exe" "$drive_c/Uninstall.dat" "$drive_c/victim.txt")
sleeper=
cleanup() {
    if [[ -n "$sleeper" ]]; then  # the stand-in Tandrel.exe ends when released
        touch "$drive_c/release-busy"
        wait_process_exit "$sleeper" 10 || kill "$sleeper" 2>/dev/null
    fi
    rm -rf "$drive_c"/Remove* "$drive_c/link-target" "$drive_c/release-busy" "$drive_c"/uninstall*.log "${made[@]}"
    display_stop
    wine_test_done
}
trap cleanup EXIT
rm -rf "${made[@]}" "$drive_c"/uninstall*.log

programs=$(wine_shell_folder "$prefix" Programs) || fail "no Programs folder in the registry"
temp_dir=$drive_c/users/$WINE_USER/Temp

run() { wine_run_limited "$@"; }  # exe args...: STATUS is its exit code (124: still running)
expect_status() {  # want what
    [[ "$STATUS" == "$1" ]] && ok "$2: exit code $1" || fail "$2: exit code $STATUS, expected $1"
}
log_has() {  # log what lines...: each line is in the log
    local log=$1 what=$2 line
    shift 2
    for line in "$@"; do
        tr -d '\r' <"$log" 2>/dev/null | grep -q -x -F -- "$line" || fail "$what: no line '$line' in the log
$(tr -d '\r' <"$log" 2>/dev/null)"
    done
}

# An installation in C:\<name>: Tandrel.exe (the helper, which can also run as a stand-in that
# stays running), texts, a subfolder, the uninstaller, recorded with a shortcut of its own.
names=(Tandrel.exe readme.txt sites.ini sub/notes.txt Uninstall.exe Uninstall.dat)
make_installation() {  # name [fabricate options...]
    local name=$1 dir=$drive_c/$1
    shift
    mkdir -p "$dir/sub"
    cp "$fabricate" "$dir/Tandrel.exe"
    printf 'Read me\r\n' >"$dir/readme.txt"
    printf '[Tandrel]\r\nHost=ftp.example.com\r\n' >"$dir/sites.ini"
    printf 'notes of %s\r\n' "$name" >"$dir/sub/notes.txt"
    cp "$uninstaller" "$dir/Uninstall.exe"
    chown -R "$WINE_USER" "$dir"
    run "$fabricate" "C:\\$name" --shortcut Programs "$@"
    expect_status 0 "$name recorded"
}
snapshot() { (cd "$drive_c/$1" && find . -print0 | sort -z | xargs -0 sha256sum 2>/dev/null; find . | sort); }
expect_gone() {  # name
    [[ -e "$drive_c/$1" ]] && fail "$1: the folder is still there: $(cd "$drive_c/$1" && find .)" || ok "$1: folder gone"
}
# Tandrel.lnk in Programs, where every installation writes its shortcut: the last one made starts
# its program.
shortcut="$programs/Tandrel.lnk"
shortcut_win="C:\\users\\$WINE_USER\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Tandrel.lnk"
expect_shortcut_gone() {  # what
    [[ -e "$shortcut" ]] && fail "$1: the shortcut is still there" || ok "$1: shortcut gone"
}
expect_whole() {  # name what
    local n
    for n in "${names[@]}"; do
        [[ -f "$drive_c/$1/$n" ]] || fail "$2: $1/$n is gone"
    done
    [[ -f "$shortcut" ]] || fail "$2: the shortcut is gone"
}
# The InstallLocation and the quiet removal command of the entry (machine, then user).
entry_location() { wine_entry_value "$prefix" InstallLocation; }
registered_quiet_command() { wine_entry_value "$prefix" QuietUninstallString; }
# The uninstaller's folders in TEMP: none left, or each one scheduled for deletion at restart.
expect_temp_clean() {  # what
    wine_wait_server "$prefix" || fail "a program was left running (named above)"
    local folder base
    for folder in "$temp_dir"/Tandrel-Uninstall-*; do
        [[ -e "$folder" ]] || continue
        base=$(basename "$folder")
        grep -A2 'PendingFileRenameOperations' "$prefix/system.reg" | grep -q -F "$base\\0" &&
            ok "$1: $base scheduled for deletion at restart" || fail "$1: $base left in TEMP"
    done
}

# ---- Two installations (listed by Wine's own reader of the entries): removing the first leaves the
# second's files and entry, and the shortcut, which starts the second now (named as kept).
make_installation Remove-One
make_installation Remove-Two
wine_uninstaller() { timeout 120 bash -c 'source "$1/lib/wine.sh"; wine_init_user; shift; wine_as_user "$@"' _ "$scripts" "$prefix" wine uninstaller "$@"; }
listed() { wine_uninstaller --list 2>/dev/null | tr -d '\r' | grep -c -F 'Tandrel 2.11'; }
[[ "$(listed)" == 1 ]] && ok "wine uninstaller --list shows Tandrel 2.11" || fail "wine uninstaller --list: $(listed)"
run "$drive_c/Remove-One/Uninstall.exe" /VERYSILENT '/LOG=C:\uninstall-one.log'
expect_status 0 "first of two"
expect_gone Remove-One
expect_whole Remove-Two "first of two"
[[ "$(entry_location)" == 'C:\Remove-Two' ]] && ok "first of two: the second's entry stays" ||
    fail "first of two: entry names '$(entry_location)'"
log_has "$drive_c/uninstall-one.log" "first of two" "Destination: C:\\Remove-One" "Removed: Tandrel.exe" \
    "Removed: sub\\notes.txt" "Kept: $shortcut_win (it starts another program now)" \
    "Removed: Uninstall.dat" "Removed: Uninstall.exe" "Removed: C:\\Remove-One" "Result: removed (exit code 0)"
tr -d '\r' <"$drive_c/uninstall-one.log" | grep -q '^Removed: the entry' && fail "first of two removed the entry"
expect_temp_clean "first of two"

# ---- The registered QuietUninstallString, run as it stands: nothing left, the entry gone.
quiet=$(registered_quiet_command)
[[ "$quiet" == '"C:\Remove-Two\Uninstall.exe" /VERYSILENT' ]] && ok "quiet command registered" ||
    fail "quiet command is '$quiet'"
quiet_exe=$(sed -E 's/^"([^"]*)".*/\1/' <<<"$quiet")
read -r -a quiet_args <<<"${quiet#\"$quiet_exe\"}"
quiet_unix=${quiet_exe#C:\\}
run "$drive_c/${quiet_unix//\\//}" "${quiet_args[@]}"
expect_status 0 "quiet command"
expect_gone Remove-Two
expect_shortcut_gone "quiet command"
[[ -z "$(entry_location)" ]] && ok "quiet command: entry gone" || fail "quiet command: entry still names $(entry_location)"
[[ "$(listed)" == 0 ]] && ok "wine uninstaller --list: gone" || fail "wine uninstaller --list still shows Tandrel"
expect_temp_clean "quiet command"

# ---- Changed, added and kept files and Backup stay, with the folders that hold them.
mkdir -p "$drive_c/Remove Kept/Backup"
printf 'old readme\r\n' >"$drive_c/Remove Kept/Backup/readme.txt"
make_installation "Remove Kept" --skip Backup
printf '[Mine]\r\nHost=ftp.example.net\r\n' >>"$drive_c/Remove Kept/sites.ini"
printf 'mine\r\n' >"$drive_c/Remove Kept/sub/mine.txt"
run "$drive_c/Remove Kept/Uninstall.exe" /SILENT '/LOG=C:\uninstall kept.log'
expect_status 0 "kept items"
for n in sites.ini Backup/readme.txt sub/mine.txt; do
    [[ -f "$drive_c/Remove Kept/$n" ]] && ok "kept items: $n stays" || fail "kept items: $n is gone"
done
for n in Tandrel.exe readme.txt sub/notes.txt Uninstall.exe Uninstall.dat; do
    [[ -e "$drive_c/Remove Kept/$n" ]] && fail "kept items: $n is still there"
done
expect_shortcut_gone "kept items"
log_has "$drive_c/uninstall kept.log" "kept items" "Mode: silent" \
    "Kept: sites.ini (changed since it was installed)" "Kept: Backup (the files that installations replaced)" \
    "Kept: sub\\mine.txt (not installed by Setup)" "Result: removed (exit code 0)"
[[ -z "$(entry_location)" ]] && ok "kept items: entry gone" || fail "kept items: entry still there"

# ---- A folder above the destination goes, once empty, only while it is the folder the setup made:
# the record names the identity it had then (under Wine, the inode). Without one (a record written
# before identities were recorded, or one naming a folder the setup did not make), or with another,
# it stays.
outer="$drive_c/Remove-Outer"
for made_with in none another its-own; do
    rm -rf "$outer"
    mkdir -p "$outer/App"
    cp "$fabricate" "$outer/App/Tandrel.exe"
    printf 'Read me\r\n' >"$outer/App/readme.txt"
    cp "$uninstaller" "$outer/App/Uninstall.exe"
    chown -R "$WINE_USER" "$outer"
    run "$fabricate" 'C:\Remove-Outer\App'
    expect_status 0 "folder above, $made_with identity: recorded"
    case $made_with in
        none) parent='parent C:\Remove-Outer' ;;
        another) parent="parent $(($(stat -c %i "$outer") + 1)) C:\\Remove-Outer" ;;
        its-own) parent="parent $(stat -c %i "$outer") C:\\Remove-Outer" ;;
    esac
    printf '%s\r\n' "$parent" >>"$outer/App/Uninstall.dat"
    run "$outer/App/Uninstall.exe" /VERYSILENT '/LOG=C:\uninstall-outer.log'
    expect_status 0 "folder above, $made_with identity"
    [[ -e "$outer/App" ]] && fail "folder above, $made_with identity: the destination stays"
    if [[ $made_with == its-own ]]; then
        [[ ! -e "$outer" ]] && ok "folder above, its own identity: removed" ||
            fail "folder above, its own identity: kept"
        log_has "$drive_c/uninstall-outer.log" "folder above, its own identity" "Removed: C:\\Remove-Outer"
    else
        [[ -d "$outer" ]] && ok "folder above, $made_with identity: kept" ||
            fail "folder above, $made_with identity: removed"
    fi
done
rm -rf "$outer"

# ---- A record that names something outside the destination is refused whole: nothing removed.
make_installation Remove-Bad
printf 'victim\r\n' >"$drive_c/victim.txt"
digest=$(sha256sum "$drive_c/victim.txt" | cut -d' ' -f1)
cp "$drive_c/Remove-Bad/Uninstall.dat" "$work/record"
for bad in "..\\victim.txt" "C:\\victim.txt"; do
    { cat "$work/record"; printf 'file 8 %s %s\r\n' "$digest" "$bad"; } >"$drive_c/Remove-Bad/Uninstall.dat"
    before=$(snapshot Remove-Bad)
    run "$drive_c/Remove-Bad/Uninstall.exe" /VERYSILENT '/LOG=C:\uninstall-bad.log'
    expect_status 1 "record naming $bad"
    [[ "$(snapshot Remove-Bad)" == "$before" && -f "$drive_c/victim.txt" ]] && ok "record naming $bad: nothing removed" ||
        fail "record naming $bad: something was removed"
    tr -d '\r' <"$drive_c/uninstall-bad.log" | grep -q '^Error: The record .* is damaged: Line ' ||
        fail "record naming $bad: no error in the log: $(cat "$drive_c/uninstall-bad.log")"
done
cp "$work/record" "$drive_c/Remove-Bad/Uninstall.dat"

# ---- A bad command line, and an uninstaller without its record: exit code 1, nothing removed. A
# refused command line leaves an existing log as it was, as the setup does.
printf 'an older log\r\n' >"$drive_c/uninstall-bad.log"
run "$drive_c/Remove-Bad/Uninstall.exe" /VERYSILENT /BOGUS '/LOG=C:\uninstall-bad.log'
expect_status 1 "bad command line"
[[ "$(cat "$drive_c/uninstall-bad.log")" == $'an older log\r' ]] && ok "bad command line: the log untouched" ||
    fail "bad command line: the log was changed"
[[ -f "$drive_c/Remove-Bad/Tandrel.exe" ]] && ok "bad command line: nothing removed" ||
    fail "bad command line: removed"
mv "$drive_c/Remove-Bad/Uninstall.dat" "$work/record"
run "$drive_c/Remove-Bad/Uninstall.exe" /VERYSILENT '/LOG=C:\uninstall-bad.log'
expect_status 1 "missing record"
[[ -f "$drive_c/Remove-Bad/Tandrel.exe" ]] && ok "missing record: nothing removed" || fail "missing record: removed"
tr -d '\r' <"$drive_c/uninstall-bad.log" | grep -q '^Error: The record .*Uninstall.dat is missing$' ||
    fail "missing record: no error in the log: $(cat "$drive_c/uninstall-bad.log")"
cp "$work/record" "$drive_c/Remove-Bad/Uninstall.dat"

# ---- A destination that is a folder of the system is refused: nothing removed, exit code 4.
for place in windows root; do
    if [[ $place == root ]]; then
        folder=$drive_c dest='C:\'
    else
        folder=$drive_c/$place dest="C:\\$place"
    fi
    printf 'victim\r\n' >"$folder/victim.txt"
    printf 'Tandrel install record 1\r\ndestination %s\r\nfolder .\r\nfile 8 %s victim.txt\r\n' "$dest" "$digest" \
        >"$folder/Uninstall.dat"
    cp "$uninstaller" "$folder/Uninstall.exe"
    chown "$WINE_USER" "$folder/victim.txt" "$folder/Uninstall.dat" "$folder/Uninstall.exe"
    run "$folder/Uninstall.exe" /VERYSILENT '/LOG=C:\uninstall-system.log'
    expect_status 4 "destination $dest"
    [[ -f "$folder/victim.txt" && -f "$folder/Uninstall.exe" && -f "$folder/Uninstall.dat" ]] &&
        ok "destination $dest: nothing removed" || fail "destination $dest: something was removed"
    tr -d '\r' <"$drive_c/uninstall-system.log" | grep -q '^Error: Tandrel is never removed from' ||
        fail "destination $dest: no error in the log: $(cat "$drive_c/uninstall-system.log")"
    rm -f "$folder/victim.txt" "$folder/Uninstall.dat" "$folder/Uninstall.exe"
done

# ---- A created folder that is now a link: nothing removed through it, the link itself stays.
make_installation Remove-Link
mkdir -p "$drive_c/link-target"
mv "$drive_c/Remove-Link/sub/notes.txt" "$drive_c/link-target/notes.txt"
rmdir "$drive_c/Remove-Link/sub"
ln -s ../link-target "$drive_c/Remove-Link/sub"
chown -R "$WINE_USER" "$drive_c/link-target"
chown -h "$WINE_USER" "$drive_c/Remove-Link/sub"
run "$drive_c/Remove-Link/Uninstall.exe" /VERYSILENT '/LOG=C:\uninstall-link.log'
expect_status 0 "linked folder"
[[ -f "$drive_c/link-target/notes.txt" && -L "$drive_c/Remove-Link/sub" ]] &&
    ok "linked folder: nothing removed through the link" || fail "linked folder: the link or its target was touched"
[[ -e "$drive_c/Remove-Link/Tandrel.exe" ]] && fail "linked folder: Tandrel.exe is still there"
log_has "$drive_c/uninstall-link.log" "linked folder" "Kept: sub\\notes.txt (a link: not followed)"

# ---- Tandrel.exe running from the destination: nothing removed; unattended exit code 5, and the
# interactive in-use message, whose Cancel leaves everything and whose Retry goes on once the
# program has ended.
make_installation Remove-Busy
before=$(snapshot Remove-Busy)
rm -f "$drive_c/release-busy"
"$scripts/wine-run.sh" "$drive_c/Remove-Busy/Tandrel.exe" --hold 'C:\release-busy' 120 >/dev/null 2>&1 &
sleeper=$!
sleep 2
run "$drive_c/Remove-Busy/Uninstall.exe" /VERYSILENT '/LOG=C:\uninstall-busy.log'
expect_status 5 "running Tandrel.exe"
[[ "$(snapshot Remove-Busy)" == "$before" ]] && ok "running Tandrel.exe: nothing removed" ||
    fail "running Tandrel.exe: something was removed"
log_has "$drive_c/uninstall-busy.log" "running Tandrel.exe" 'Cannot remove: C:\Remove-Busy\Tandrel.exe: it is in use (nothing removed)' \
    "Result: a file is in use (exit code 5)"

WINDOW=
wait_window() {  # caption: sets WINDOW to the handle of the visible window with that caption
    WINDOW=$("$scripts/wine-run.sh" "$waiter" "$1" 60 2>/dev/null | tr -d '\r' | grep -E '^[0-9]+$' | tail -1)
    [[ -n "$WINDOW" ]] || { fail "no window \"$1\" appeared"; return 1; }
    sleep 0.7  # let its modal loop settle and paint
}
# A round of the interactive removal: started by start_round, answered window by window, ended by
# interactive_status. A round whose window does not come, or does not go at its key, is given up:
# what it left running (the removal's copy at a dialog, which no signal to the run reaches) is
# stopped with the prefix's server. The rounds after it build on what it should have done, so they
# are not run; each says so.
ROUND_LOST=
GAVE_UP=
give_up_round() {
    ROUND_LOST=1
    GAVE_UP=1
    wine_stop_programs "$prefix" "uninstall: the round is given up; stopped with:"
}
answer() {  # caption screenshot key: waits for the window, takes a screenshot, presses key (if any)
    [[ -z "$ROUND_LOST" ]] || return 1
    wait_window "$1" || { give_up_round; return 1; }
    [[ -n "$2" ]] && import -window root "$shots/$2"
    [[ -n "$3" ]] || return 0
    xdotool key "$3"
    "$scripts/wine-run.sh" "$waiter" --gone "$WINDOW" 60 >/dev/null 2>&1 ||
        { fail "window $1 stayed up"; give_up_round; return 1; }
}
start_round() {  # command...: starts it in the background
    app=
    ROUND_LOST=$GAVE_UP
    [[ -z "$GAVE_UP" ]] || return 0
    "$@" >"$work/interactive.log" 2>&1 &
    app=$!
    wine_focus_desktop || fail "no Wine desktop appeared"
}
interactive() { start_round "$scripts/wine-run.sh" "$drive_c/$1/Uninstall.exe"; }  # name: of C:\<name>
interactive_status() {  # want what
    if [[ -z "$app" ]]; then
        PROCESS_STATUS="none (not run: an earlier round was given up)"
    elif ! wait_process_exit "$app" 60; then
        give_up_round
        wait_process_exit "$app" 30 || kill "$app" 2>/dev/null
        PROCESS_STATUS=timeout
    fi
    STATUS=$PROCESS_STATUS
    expect_status "$@"
}

# Every way a keyboard user answers Cancel: Escape, Alt+F4 and the letter of Cancel.
for key in Escape alt+F4 c; do
    interactive Remove-Busy
    answer Confirm "" Return
    answer Warning "$([[ "$key" == Escape ]] && echo 04-in-use.png)" "$key"
    interactive_status 5 "in use, Cancel by $key"
    [[ "$(snapshot Remove-Busy)" == "$before" ]] && ok "in use, Cancel by $key: nothing removed" ||
        fail "in use, Cancel by $key: something was removed"
done

# ---- No to the question: exit code 2, nothing changed. Yes: the in-use message, Retry once the
# program has ended, the closing message, then nothing left but the user's file.
interactive Remove-Busy
answer Confirm "" Escape
interactive_status 2 "No"
[[ "$(snapshot Remove-Busy)" == "$before" ]] && ok "No: nothing removed" || fail "No: something was removed"

printf 'mine\r\n' >"$drive_c/Remove-Busy/mine.txt"
# Through Wine's own list of installed programs, as Apps & features starts it. It waits for the
# uninstaller, always ends with 0 and leaves the entry to it.
start_round wine_uninstaller --remove Tandrel
answer Confirm 01-question.png Return
answer Warning 04-in-use.png "" || true
touch "$drive_c/release-busy"
wait_process_exit "$sleeper" 30 && ok "the running Tandrel.exe ended" || fail "the running Tandrel.exe did not end"
sleeper=
answer Warning "" Return  # Retry: the default button has the focus
answer Information 03-closing-message.png Return
interactive_status 0 "Yes"
for n in Tandrel.exe readme.txt sites.ini sub Uninstall.exe Uninstall.dat; do
    [[ -e "$drive_c/Remove-Busy/$n" ]] && fail "Yes: $n is still there"
done
expect_shortcut_gone "Yes"
[[ -z "$(entry_location)" ]] && ok "Yes: entry gone" || fail "Yes: entry still names $(entry_location)"
[[ -f "$drive_c/Remove-Busy/mine.txt" ]] && ok "Yes: the user's file stays" || fail "Yes: the user's file is gone"
expect_temp_clean "interactive"

# The progress window, held at one step by a helper (a removal passes too quickly to catch it).
"$scripts/wine-run.sh" "$progress_window" Tandrel.exe 40 6 >/dev/null 2>&1 &
shown=$!
wait_window "Uninstall progress" && import -window root "$shots/02-progress.png"
wait_process_exit "$shown" 30 || kill "$shown" 2>/dev/null

# Nothing is left running for the next test in the shared prefix.
wine_wait_server "$prefix" 60 || fail "a program was left running at the end (named above)"
echo "uninstall: screenshots in $shots"
checks_summary
