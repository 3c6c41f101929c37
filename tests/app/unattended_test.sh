#!/usr/bin/env bash
# Unattended installations of tandrel-setup.exe under Wine, checked on disk, in the log and by
# their exit codes:
#     unattended_test.sh SETUP_EXE TANDREL_EXE PAYLOAD_DIR PAYLOAD_ZRV HOLD_EXE
# HOLD_EXE is the helper that holds a file open or keeps a program running meanwhile.
# Runs in $TANDREL_WINEPREFIX when set (the test run's prefix), otherwise in a prefix of its own.
# Every run has a time limit, so that a window waiting for somebody fails the test instead of
# hanging it.
set -uo pipefail
setup=$1 program=$2 payload=$3 payload_zrv=$4 hold=$5
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" unattended || exit 1
# What the runs make in the prefix, removed before and after.
made=("$drive_c/Unattended Test" "$drive_c/Unattended Plain" "$drive_c/Unattended Bad"
    "$drive_c/unattended-blocker" "$drive_c/Unattended Damaged" "$drive_c/Unattended Checks")
small_drive=
cleanup() {
    [[ -n "$small_drive" ]] && { umount "$small_drive"; rm -f "$prefix/dosdevices/t:"; }
    rm -rf "${made[@]}" "$drive_c"/unattended-*.log
    wine_test_done
}
trap cleanup EXIT
rm -rf "${made[@]}" "$drive_c"/unattended-*.log

names=(Tandrel.exe Tandrel.hlp readme.txt sites.ini whatsnew.txt)
source_of() { [[ "$1" == Tandrel.exe ]] && echo "$program" || echo "$payload/$1"; }
shortcuts=()
for folder in Programs SendTo; do
    dir=$(wine_shell_folder "$prefix" "$folder") || fail "no $folder folder in the registry"
    shortcuts+=("$dir/Tandrel.lnk")
done
remove_shortcuts() { rm -f "${shortcuts[@]}"; }

STATUS=
run_setup() {  # exe args...: runs it with a time limit; STATUS is its exit code (124: still running)
    local exe=$1
    shift
    timeout 120 "$scripts/wine-run.sh" "$exe" "$@" >"$work/last-run.log" 2>&1
    STATUS=$?
}
expect_status() {  # want what
    [[ "$STATUS" == "$1" ]] && ok "$2: exit code $1" || fail "$2: exit code $STATUS, expected $1"
}
log_lines() { tr -d '\r' <"$1"; }
expect_log() {  # log what lines...: each line is in the log, in this order
    local log=$1 what=$2
    shift 2
    if [[ ! -f "$log" ]]; then
        fail "$what: no log"
        return
    fi
    local expected actual
    expected=$(printf '%s\n' "$@")
    actual=$(log_lines "$log" | grep -x -F -f <(printf '%s\n' "$@"))
    [[ "$actual" == "$expected" ]] && ok "$what: log" ||
        fail "$what: log lines
--- expected
$expected
--- in the log
$(log_lines "$log")"
}
expect_installed() {  # folder what
    for name in "${names[@]}"; do
        check_same "$(source_of "$name")" "$1/$name" "$2: $name"
    done
}

# ---- A fresh installation: missing parents made, files byte for byte, both shortcuts, the log.
remove_shortcuts
dest='C:\Unattended Test\Nested\App'
installed="$drive_c/Unattended Test/Nested/App"
run_setup "$setup" /VERYSILENT "/DIR=$dest" '/LOG=C:\unattended-1.log'
expect_status 0 "fresh"
expect_installed "$installed" "fresh"
[[ -e "$installed/Backup" ]] && fail "fresh: a Backup folder with nothing replaced"
lnk_field() {  # lnk field: the value of one field as lnkinfo shows it
    lnkinfo "$1" 2>/dev/null | grep -m1 -E "^[[:space:]]*$2[[:space:]]*:" | sed -E 's/^[^:]*:[[:space:]]?//'
}
for lnk in "${shortcuts[@]}"; do
    target=$(lnk_field "$lnk" "Local path")
    [[ "$target" == "$dest\\TANDREL.EXE" ]] && ok "fresh: shortcut $lnk" ||
        fail "fresh: shortcut $lnk points at '$target'"
    # The program starts in its own folder, not in the folder the setup was started from.
    start_in=$(lnk_field "$lnk" "Working directory")
    [[ "$start_in" == "$dest" ]] && ok "fresh: shortcut $lnk starts in the destination" ||
        fail "fresh: shortcut $lnk starts in '$start_in'"
done
log_lines "$drive_c/unattended-1.log" | grep -q -E '^Time: [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$' ||
    fail "fresh: no time in the log"
log_lines "$drive_c/unattended-1.log" | grep -q -E '^Command line: .*tandrel-setup\.exe.* /VERYSILENT' ||
    fail "fresh: no command line in the log"
expect_log "$drive_c/unattended-1.log" "fresh" \
    "Tandrel Setup 2.11" "Mode: very silent" "Destination: $dest" "Backups: yes" "Shortcuts: yes" \
    "Tandrel.exe: written" "Tandrel.hlp: written" "readme.txt: written" "sites.ini: written" \
    "whatsnew.txt: written" \
    "Shortcut: C:\\users\\$WINE_USER\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Tandrel.lnk" \
    "Shortcut: C:\\users\\$WINE_USER\\AppData\\Roaming\\Microsoft\\Windows\\SendTo\\Tandrel.lnk" \
    "Result: installed (exit code 0)"

# ---- Again over it, with the progress window: the user's site database kept (and copied to
# Backup), the readme the user changed moved into Backup, the files that are already the new ones
# left untouched (nothing of them in Backup).
printf '\n[My own site]\nHost=ftp.example.net\n' >>"$installed/sites.ini"
printf '\nread by the user\n' >>"$installed/readme.txt"
cp "$installed/sites.ini" "$work/sites-user.ini"
cp "$installed/readme.txt" "$work/readme-user.txt"
run_setup "$setup" /silent "/dir=$dest" '/log=C:\unattended-2.log'
expect_status 0 "again"
check_same "$work/sites-user.ini" "$installed/sites.ini" "again: the user's sites.ini kept"
check_same "$work/sites-user.ini" "$installed/Backup/sites.ini" "again: sites.ini copied into Backup"
check_same "$work/readme-user.txt" "$installed/Backup/readme.txt" "again: the user's readme.txt in Backup"
for name in Tandrel.exe Tandrel.hlp readme.txt whatsnew.txt; do
    check_same "$(source_of "$name")" "$installed/$name" "again: $name written anew"
done
for name in Tandrel.exe Tandrel.hlp whatsnew.txt; do
    [[ -e "$installed/Backup/$name" ]] && fail "again: $name, the same as the new one, in Backup"
done
expect_log "$drive_c/unattended-2.log" "again" "Mode: silent" \
    "Tandrel.exe: already the new version, left as it was" "readme.txt: moved to Backup, written" \
    "sites.ini: kept, copied to Backup" "Result: installed (exit code 0)"

# ---- /NOBACKUP and /NOICONS: replaced files deleted, no Backup folder, no shortcut.
remove_shortcuts
plain="$drive_c/Unattended Plain"
mkdir -p "$plain"
printf 'old readme' >"$plain/readme.txt"
printf 'old sites' >"$plain/sites.ini"
wine_own "$plain"
# /S as deployment tools write it: no window (a window would still be open at the time limit).
run_setup "$setup" /S /NOBACKUP /NOICONS '/DIR=C:\Unattended Plain' '/LOG=C:\unattended-3.log'
expect_status 0 "/S /NOBACKUP /NOICONS"
check_same "$payload/readme.txt" "$plain/readme.txt" "/NOBACKUP: readme.txt replaced"
[[ "$(cat "$plain/sites.ini")" == "old sites" ]] && ok "/NOBACKUP: sites.ini kept" ||
    fail "/NOBACKUP: sites.ini replaced"
[[ -e "$plain/Backup" ]] && fail "/NOBACKUP made a Backup folder"
for lnk in "${shortcuts[@]}"; do
    [[ -e "$lnk" ]] && fail "/NOICONS wrote $lnk"
done
expect_log "$drive_c/unattended-3.log" "/NOBACKUP /NOICONS" "Backups: no" "Shortcuts: no" \
    "readme.txt: written" "sites.ini: kept" "Result: installed (exit code 0)"
log_lines "$drive_c/unattended-3.log" | grep -q '^Shortcut:' && fail "/NOICONS logged a shortcut"
expect_log "$drive_c/unattended-3.log" "/S" "Mode: very silent"
# The other words of deployment tools over it: no window, and the switches that ask for no restart
# and no message box are taken.
run_setup "$setup" /quiet /NORESTART /SUPPRESSMSGBOXES /NOICONS '/DIR=C:\Unattended Plain' '/LOG=C:\unattended-3q.log'
expect_status 0 "/quiet /NORESTART /SUPPRESSMSGBOXES"
expect_log "$drive_c/unattended-3q.log" "/quiet" "Mode: very silent" "Result: installed (exit code 0)"
run_setup "$setup" /qn /NOICONS '/DIR=C:\Unattended Plain'
expect_status 0 "/qn"

# ---- Bad command lines: exit code 1 at once, no window beside any silent switch (a box would
# still be open at the time limit), nothing installed. An unknown switch is logged when /LOG is
# usable; any other fault leaves even an existing log as it is. Without a silent switch a message
# box says why: see tests/lifecycle/safety_test.sh.
printf 'an earlier log\r\n' >"$drive_c/unattended-bad.log"
chmod a+rw "$drive_c/unattended-bad.log"
cp "$drive_c/unattended-bad.log" "$work/earlier.log"
for args in "/VERYSILENT /DIR" "/VERYSILENT /LOG=" "/S /LOG=" "/VERYSILENT /DIR=relative" "/quiet /DIR=relative /FOO"; do
    read -r -a argv <<<"$args"
    run_setup "$setup" '/DIR=C:\Unattended Bad' '/LOG=C:\unattended-bad.log' "${argv[@]}"
    expect_status 1 "$args"
    [[ -e "$drive_c/Unattended Bad" ]] && fail "$args: the destination was made"
    check_same "$work/earlier.log" "$drive_c/unattended-bad.log" "$args: the log untouched"
done
for silent in /VERYSILENT /S /quiet /QN /SILENT /SUPPRESSMSGBOXES; do
    rm -f "$drive_c/unattended-bad.log"
    run_setup "$setup" '/DIR=C:\Unattended Bad' '/LOG=C:\unattended-bad.log' "$silent" /FOO
    expect_status 1 "$silent /FOO"
    [[ -e "$drive_c/Unattended Bad" ]] && fail "$silent /FOO: the destination was made"
    if [[ "$silent" == /SUPPRESSMSGBOXES ]]; then
        # Not an unattended run: no log, and no box either.
        [[ -e "$drive_c/unattended-bad.log" ]] && fail "$silent /FOO: a log without a silent switch"
    else
        expect_log "$drive_c/unattended-bad.log" "$silent /FOO" "Error: Unknown switch /FOO" \
            "Result: bad command line (exit code 1)"
    fi
done
# A 250-character destination: refused before anything is made, the limit named (the longest
# entry, whatsnew.txt, leaves room for its numbered backup with a temporary suffix).
long_dest="C:\\$(printf 'L%.0s' $(seq 246))"
run_setup "$setup" /VERYSILENT "/DIR=$long_dest"
expect_status 1 "250 characters"
grep -q -F "/DIR is too long: at most 224 characters" "$work/last-run.log" && ok "250 characters: the limit named" ||
    fail "250 characters: no limit named: $(tr -d '\r' <"$work/last-run.log")"
[[ -e "$drive_c/$(printf 'L%.0s' $(seq 246))" ]] && fail "250 characters: the destination was made"
run_setup "$setup" /VERYSILENT /?
expect_status 0 "/? under /VERYSILENT"

# ---- A damaged setup file over an installation: exit code 4, not one byte changed.
damage_setup "$setup" "$payload_zrv" "$work/damaged-setup.exe" || fail "could not damage the setup"
rm -rf "$work/before"
cp -a "$installed" "$work/before"
run_setup "$work/damaged-setup.exe" /VERYSILENT "/DIR=$dest" '/LOG=C:\unattended-4.log'
expect_status 4 "damaged"
diff -r "$work/before" "$installed" >/dev/null && ok "damaged: the installation as it was" ||
    fail "damaged: the installation changed"
expect_log "$drive_c/unattended-4.log" "damaged" \
    "Error: The setup file is damaged. Please download it again." "Result: failed (exit code 4)"
log_lines "$drive_c/unattended-4.log" | grep -q ': written$' && fail "damaged: an entry was written"

# ---- Damage outside the packed data, each in a copy of the setup run over a copy of the
# installation (side by side): exit code 4, the installation byte for byte as it was, nothing
# logged as written.
fields=(total-top size:3 name:4 date:5 attributes:2 total-zero method:1)
damaged_root="$drive_c/Unattended Damaged"
mkdir -p "$damaged_root"
pids=()
for field in "${fields[@]}"; do
    tag=${field/:/-}
    damage_field "$setup" "$payload_zrv" "$work/setup-$tag.exe" "$field" || fail "could not damage $field"
    cp -a "$installed" "$damaged_root/$tag"
    (
        timeout 120 "$scripts/wine-run.sh" "$work/setup-$tag.exe" /VERYSILENT "/DIR=C:\\Unattended Damaged\\$tag" \
            "/LOG=C:\\unattended-damaged-$tag.log" >"$work/run-$tag.log" 2>&1
        echo $? >"$work/status-$tag"
    ) &
    pids+=($!)
done
wine_own "$damaged_root"
wait "${pids[@]}"
for field in "${fields[@]}"; do
    tag=${field/:/-}
    STATUS=$(cat "$work/status-$tag" 2>/dev/null)
    expect_status 4 "damaged $field"
    diff -r "$installed" "$damaged_root/$tag" >/dev/null && ok "damaged $field: the installation as it was" ||
        fail "damaged $field: the installation changed"
    expect_log "$drive_c/unattended-damaged-$tag.log" "damaged $field" \
        "Error: The setup file is damaged. Please download it again." "Result: failed (exit code 4)"
    log_lines "$drive_c/unattended-damaged-$tag.log" | grep -q ': written$' &&
        fail "damaged $field: an entry was logged as written"
done

# ---- What the destination holds stops the run before the first change: exit code 4 (5 for a file
# in use), the installation byte for byte as it was. Each case starts from a copy of the installation.
checks="$drive_c/Unattended Checks"
checks_dest='C:\Unattended Checks\App'
fresh_copy() {  # a copy of the installation at $checks/App, writable by the Wine user
    rm -rf "$checks"
    mkdir -p "$checks"
    cp -a "$installed" "$checks/App"
    # The record of this folder, as if installed here: a record of another folder is no record
    # of this installation (its uninstaller would be another program's).
    sed -i -E -e 's/^destination .*\r$/destination C:\\Unattended Checks\\App\r/' -e '/^parent /d' \
        "$checks/App/Uninstall.dat"
    wine_own "$checks"
    rm -rf "$work/before"
    cp -a "$checks/App" "$work/before"
}
expect_unchanged() {  # what
    diff -r "$work/before" "$checks/App" >/dev/null && ok "$1: the installation as it was" ||
        fail "$1: the installation changed: $(diff -r "$work/before" "$checks/App" 2>&1 | head -3)"
}
HOLDER=
start_holder() {  # args...: the helper, until it holds; HOLDER is its process
    rm -f "$work/stop"
    "$scripts/wine-run.sh" "$hold" "$@" 'Z:\'"${work//\//\\}"'\stop' >"$work/hold.log" 2>&1 &
    HOLDER=$!
    local _
    for _ in $(seq 1 120); do
        grep -q holding "$work/hold.log" && return 0
        kill -0 "$HOLDER" 2>/dev/null || break
        sleep 0.25
    done
    fail "the helper did not get hold: $(cat "$work/hold.log")"
    return 1
}
stop_holder() {
    touch "$work/stop"
    wait "$HOLDER"
}

# The last entry's file held open by another program, without sharing.
fresh_copy
if start_holder "$checks_dest\\whatsnew.txt"; then
    run_setup "$setup" /VERYSILENT "/DIR=$checks_dest" '/LOG=C:\unattended-held.log'
    stop_holder
    expect_status 5 "held open"
    expect_unchanged "held open"
    expect_log "$drive_c/unattended-held.log" "held open" \
        "Error: Cannot move $checks_dest\\whatsnew.txt into the backup folder $checks_dest\\Backup." \
        "Result: a file is in use (exit code 5)"
    log_lines "$drive_c/unattended-held.log" | grep -q ': written$' && fail "held open: an entry was logged as written"
fi

# A Backup folder that is a link to another program's folder: nothing is written through it.
fresh_copy
rm -rf "$checks/App/Backup"
mkdir -p "$checks/Other"
printf 'the other program' >"$checks/Other/readme.txt"
wine_own "$checks/Other"
ln -s "$checks/Other" "$checks/App/Backup"
rm -rf "$work/before"
cp -a "$checks/App" "$work/before"
run_setup "$setup" /VERYSILENT "/DIR=$checks_dest" '/LOG=C:\unattended-link.log'
expect_status 4 "Backup a link"
expect_unchanged "Backup a link"
[[ "$(cat "$checks/Other/readme.txt")" == "the other program" && $(ls "$checks/Other" | wc -l) == 1 ]] &&
    ok "Backup a link: nothing written through it" || fail "Backup a link: written through: $(ls "$checks/Other")"
expect_log "$drive_c/unattended-link.log" "Backup a link" \
    "Error: Cannot write through the link $checks_dest\\Backup." "Result: failed (exit code 4)"

# The old Tandrel.exe running from the destination, backups off: it is renamed aside, the new one is
# written, and the old one is removed at the end or, still in use, at the next restart.
fresh_copy
# An older version of the program (a file that already held the new bytes would not be touched).
printf ' (an older version)' >>"$checks/App/Tandrel.exe"
if start_holder --run "$checks_dest\\Tandrel.exe"; then
    run_setup "$setup" /VERYSILENT /NOBACKUP /NOICONS "/DIR=$checks_dest" '/LOG=C:\unattended-running.log'
    stop_holder
    expect_status 0 "running program"
    for name in Tandrel.exe Tandrel.hlp readme.txt whatsnew.txt; do
        check_same "$(source_of "$name")" "$checks/App/$name" "running program: $name written"
    done
    expect_log "$drive_c/unattended-running.log" "running program" "Tandrel.exe: written" \
        "Result: installed (exit code 0)"
    diff -r "$work/before/Backup" "$checks/App/Backup" >/dev/null && ok "running program: Backup untouched" ||
        fail "running program: Backup changed with backups off"
    # The old version went at the end of the run or, still in use, stays named in the committed
    # journal, whose next run removes it.
    for aside in "$checks/App"/Tandrel.exe.*; do
        [[ -e "$aside" ]] || continue
        tr -d '\r' <"$checks/App/Uninstall.jnl" 2>/dev/null | grep -q -F "$(basename "$aside")" &&
            ok "running program: $(basename "$aside") is named in the journal for the next run" ||
            fail "running program: $(basename "$aside") left behind"
    done
    # The program has ended: the next run removes what is left of the old version, and the journal.
    run_setup "$setup" /VERYSILENT /NOBACKUP /NOICONS "/DIR=$checks_dest"
    expect_status 0 "running program, the next run"
    left=$(cd "$checks/App" && ls -d Tandrel.exe.* Uninstall.jnl 2>/dev/null)
    [[ -z "$left" ]] && ok "running program: the next run removed the old version and the journal" ||
        fail "running program: the next run left" $left
fi

# A drive without room for the new files beside the old ones, which stay until the run completes:
# a tmpfs of the old Tandrel.exe's pages and two more, mapped as drive T:. Exit code 6, nothing
# changed.
small_mount="$work/small"
mkdir -p "$small_mount"
small_pages=$((($(stat -c %s "$program") + 5 + 4095) / 4096 + 2))
if mount -t tmpfs -o "size=$((small_pages * 4))k,mode=0755" tmpfs "$small_mount" 2>/dev/null; then
    small_drive=$small_mount
    ln -sfn "$small_mount" "$prefix/dosdevices/t:"
    mkdir -p "$small_mount/App"
    cp "$program" "$small_mount/App/Tandrel.exe"
    printf 'older' >>"$small_mount/App/Tandrel.exe"  # an older one, a little larger
    wine_own "$small_mount"
    rm -rf "$work/before"
    cp -a "$small_mount/App" "$work/before"
    run_setup "$setup" /VERYSILENT /NOBACKUP /NOICONS '/DIR=T:\App' '/LOG=C:\unattended-small.log'
    expect_status 6 "small drive"
    diff -r "$work/before" "$small_mount/App" >/dev/null && ok "small drive: the installation as it was" ||
        fail "small drive: the installation changed: $(ls -l "$small_mount/App")"
    log_lines "$drive_c/unattended-small.log" | grep -q -E '^Error: Not enough disk space to expand T:\\App\\[^ ]+\.$' &&
        ok "small drive: not enough disk space" || fail "small drive: $(log_lines "$drive_c/unattended-small.log" | grep Error)"
else
    echo "unattended: SKIP: small drive: a tmpfs cannot be mounted here (needs root)"
fi

# ---- A destination that cannot be made (a file stands where a folder must go): exit code 4.
printf 'in the way' >"$drive_c/unattended-blocker"
chmod a+r "$drive_c/unattended-blocker"
run_setup "$setup" /VERYSILENT '/DIR=C:\unattended-blocker\App' '/LOG=C:\unattended-5.log'
expect_status 4 "unwritable"
[[ -f "$drive_c/unattended-blocker" && "$(cat "$drive_c/unattended-blocker")" == "in the way" ]] &&
    ok "unwritable: the file in the way untouched" || fail "unwritable: the file in the way changed"
expect_log "$drive_c/unattended-5.log" "unwritable" "Result: failed (exit code 4)"

checks_summary
