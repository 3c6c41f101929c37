#!/usr/bin/env bash
# The registration for removal after unattended installations under Wine: the uninstall entry (read
# with Wine's reg and listed by Wine's uninstaller), the uninstaller and the record in the
# destination (checked against sha256sum), a second installation merged into the record, an
# installation elsewhere that moves the entry, a registration that fails without failing, and then
# the removals of what was installed (the registered QuietUninstallString, then an uninstaller run by
# hand), which take what the setup wrote and leave what is the user's:
#     registration_test.sh SETUP_EXE SHIPPED_UNINSTALL_EXE TANDREL_EXE PAYLOAD_DIR
# Runs in $TANDREL_WINEPREFIX when set (the test run's prefix), otherwise in a prefix of its own.
set -uo pipefail
setup=$1 uninstaller=$2 program=$3 payload=$4
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" registration || exit 1
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Tandrel'
made=("$drive_c/Registration Test" "$drive_c/Registration Other" "$drive_c/Registration Blocked")
cleanup() {
    rm -rf "${made[@]}" "$drive_c"/registration-*.log
    wine_as_user "$prefix" wine reg delete "HKLM\\$key" /f /reg:64 >/dev/null 2>&1
    wine_as_user "$prefix" wine reg delete "HKCU\\$key" /f >/dev/null 2>&1
    wine_test_done
}
trap cleanup EXIT
rm -rf "${made[@]}"

names=(Tandrel.exe Tandrel.hlp readme.txt sites.ini whatsnew.txt)
source_of() { [[ "$1" == Tandrel.exe ]] && echo "$program" || echo "$payload/$1"; }
shortcut_paths=("C:\\users\\$WINE_USER\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Tandrel.lnk"
    "C:\\users\\$WINE_USER\\AppData\\Roaming\\Microsoft\\Windows\\SendTo\\Tandrel.lnk")

STATUS=
run_setup() {  # args...: the setup with a time limit; STATUS is its exit code (124: still running)
    timeout 120 "$scripts/wine-run.sh" "$setup" "$@" >"$work/last-run.log" 2>&1
    STATUS=$?
}
expect_status() {  # want what
    [[ "$STATUS" == "$1" ]] && ok "$2: exit code $1" || fail "$2: exit code $STATUS, expected $1"
}

# Sets ENTRY to the entry's values as NAME=VALUE lines, from HKLM (64-bit view) or else HKCU, and
# WHERE to the root's full name; both empty when there is no entry.
ENTRY=
WHERE=
read_entry() {
    local out root
    ENTRY=
    WHERE=
    for root in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
        out=$(wine_reg "$prefix" query "$root\\$key" /reg:64)
        if grep -q 'DisplayName' <<<"$out"; then
            WHERE=$root
            ENTRY=$(sed -n -E 's/^ +([A-Za-z]+) +REG_[A-Z]+ +(.*)$/\1=\2/p' <<<"$out")
            return 0
        fi
    done
    return 1
}
expect_value() {  # entries name value what
    grep -q -x -F "$2=$3" <<<"$1" && ok "$4: $2" || fail "$4: $2 is not '$3' in
$1"
}
record_lines() { tr -d '\r' <"$1/Uninstall.dat"; }
# The record's line for a written file, made from the file on disk with sha256sum.
file_line() {  # folder name
    echo "file $(stat -c %s "$1/$2") $(sha256sum "$1/$2" | cut -d' ' -f1) $2"
}
expect_record() {  # folder what lines...: each line is in the record
    local folder=$1 what=$2 line
    shift 2
    for line in "$@"; do
        record_lines "$folder" | grep -q -x -F -- "$line" && ok "$what: record has '$line'" ||
            fail "$what: record lacks '$line'"
    done
}
# KiB of the recorded files and of the uninstaller and its record, rounded up.
estimated_size() {  # folder
    local total=0 name
    while read -r name; do
        total=$((total + $(stat -c %s "$1/$name")))
    done < <(record_lines "$1" | sed -n -E 's/^file [0-9]+ [0-9a-f]{64} (.*)$/\1/p' | tr '\\' '/')
    total=$((total + $(stat -c %s "$1/Uninstall.exe") + $(stat -c %s "$1/Uninstall.dat")))
    printf '0x%x' $(((total + 1023) / 1024))
}

# ---- A fresh installation: the entry with every value, listed by Wine, the uninstaller as built and
# a record of every file with its size and digest, the destination made and both shortcuts.
today=$(date +%Y%m%d)
dest='C:\Registration Test\App'
installed="$drive_c/Registration Test/App"
run_setup /VERYSILENT "/DIR=$dest" '/LOG=C:\registration-1.log'
expect_status 0 "fresh"
read_entry || fail "fresh: no uninstall entry"
entry=$ENTRY
expect_value "$entry" DisplayName "Tandrel 2.11" "fresh"
expect_value "$entry" DisplayVersion "2.11" "fresh"
expect_value "$entry" Publisher "Ornavik, Inc." "fresh"
expect_value "$entry" InstallLocation "$dest" "fresh"
expect_value "$entry" DisplayIcon "$dest\\Tandrel.exe,0" "fresh"
expect_value "$entry" UninstallString "\"$dest\\Uninstall.exe\"" "fresh"
expect_value "$entry" QuietUninstallString "\"$dest\\Uninstall.exe\" /VERYSILENT" "fresh"
expect_value "$entry" NoModify 0x1 "fresh"
expect_value "$entry" NoRepair 0x1 "fresh"
grep -q -x -E "InstallDate=($today|$(date +%Y%m%d))" <<<"$entry" && ok "fresh: InstallDate" ||
    fail "fresh: InstallDate is not $today in
$entry"
expect_value "$entry" EstimatedSize "$(estimated_size "$installed")" "fresh"
wine_as_user "$prefix" wine uninstaller --list 2>/dev/null | tr -d '\r' | grep -q -F '|||Tandrel 2.11' &&
    ok "fresh: listed by Wine's uninstaller" || fail "fresh: not listed by Wine's uninstaller"
grep -q -x -F "Registered for removal: $WHERE\\$key" <(tr -d '\r' <"$drive_c/registration-1.log") &&
    ok "fresh: log" || fail "fresh: no registration in the log"
check_same "$uninstaller" "$installed/Uninstall.exe" "fresh: Uninstall.exe as built"
[[ "$(record_lines "$installed" | head -2)" == $'Tandrel install record 1\ndestination '"$dest" ]] &&
    ok "fresh: record heading" || fail "fresh: record heading"
# The folders made carry the identity the file system gave them (under Wine, the inode).
made_lines=("folder $(stat -c %i "$installed") ." "parent $(stat -c %i "$drive_c/Registration Test") C:\\Registration Test")
# Nothing replaced yet: no file went into Backup.
lines=("${made_lines[@]}" "backups no" "${shortcut_paths[@]/#/shortcut }")
for name in "${names[@]}"; do
    check_same "$(source_of "$name")" "$installed/$name" "fresh: $name installed"
    lines+=("$(file_line "$installed" "$name")")
done
expect_record "$installed" "fresh" "${lines[@]}"
[[ $(record_lines "$installed" | wc -l) == $((2 + ${#lines[@]})) ]] && ok "fresh: nothing else recorded" ||
    fail "fresh: the record has more lines
$(record_lines "$installed")"
[[ -e "$installed/Uninstall.dat.new" || -e "$installed/Uninstall.exe.new" ]] && fail "fresh: a .new file left"

# ---- Again into the same folder, the user's sites.ini changed: kept, and still recorded as the
# file the first run wrote (so that a removal tells it changed since it was installed), the replaced
# files recorded anew, Backup recorded as made, the first run's folders and shortcuts kept.
first_sites=$(file_line "$installed" sites.ini)
printf '\n[Mine]\nHost=ftp.example.net\n' >>"$installed/sites.ini"
run_setup /VERYSILENT /NOICONS "/DIR=$dest" '/LOG=C:\registration-2.log'
expect_status 0 "again"
lines=("${made_lines[@]}" "folder Backup" "backups yes" "$first_sites" "${shortcut_paths[@]/#/shortcut }")
for name in Tandrel.exe Tandrel.hlp readme.txt whatsnew.txt; do
    lines+=("$(file_line "$installed" "$name")")
done
expect_record "$installed" "again" "${lines[@]}"
record_lines "$installed" | grep -q -E '^kept sites\.ini$' && fail "again: sites.ini recorded as the user's"
[[ $(record_lines "$installed" | wc -l) == $((2 + ${#lines[@]})) ]] && ok "again: merged once" ||
    fail "again: the record has other lines
$(record_lines "$installed")"
read_entry
entry=$ENTRY
expect_value "$entry" InstallLocation "$dest" "again"
expect_value "$entry" EstimatedSize "$(estimated_size "$installed")" "again"

# ---- Into another folder that is already there, with a damaged record in it: the entry moves there,
# the damaged record (no record of ours: another program's file) goes into Backup, the folder is
# not recorded as made; the first folder stays as it was.
other='C:\Registration Other'
other_dir="$drive_c/Registration Other"
mkdir -p "$other_dir"
printf 'Tandrel install record 1\r\ndestination C:\\Registration Other\r\nfile 1 xx ..\\evil\r\n' \
    >"$other_dir/Uninstall.dat"
wine_own "$other_dir"
cp "$installed/Uninstall.dat" "$work/first-record"
cp "$other_dir/Uninstall.dat" "$work/damaged-record"
run_setup /VERYSILENT /NOICONS "/DIR=$other" '/LOG=C:\registration-3.log'
expect_status 0 "elsewhere"
check_same "$work/damaged-record" "$other_dir/Backup/Uninstall.dat" "elsewhere: the damaged record kept in Backup"
read_entry
entry=$ENTRY
expect_value "$entry" InstallLocation "$other" "elsewhere"
expect_value "$entry" UninstallString "\"$other\\Uninstall.exe\"" "elsewhere"
[[ $(wine_as_user "$prefix" wine uninstaller --list 2>/dev/null | grep -c -F '|||Tandrel 2.11') == 1 ]] &&
    ok "elsewhere: one entry listed" || fail "elsewhere: not exactly one entry listed"
lines=("backups yes")  # the damaged record
for name in "${names[@]}"; do
    lines+=("$(file_line "$other_dir" "$name")")
done
expect_record "$other_dir" "elsewhere" "destination $other" "${lines[@]}"
[[ $(record_lines "$other_dir" | wc -l) == $((2 + ${#lines[@]})) ]] && ok "elsewhere: damaged record replaced" ||
    fail "elsewhere: the record has other lines
$(record_lines "$other_dir")"
check_same "$work/first-record" "$installed/Uninstall.dat" "elsewhere: the first record untouched"

# ---- A registration that cannot be written (a folder stands where the uninstaller goes): an
# installation that could not be removed is no installation for a deployment tool: rolled back,
# exit code 4, the failure in the log, the folder as it was, the entry left where it was.
blocked='C:\Registration Blocked'
blocked_dir="$drive_c/Registration Blocked"
mkdir -p "$blocked_dir/Uninstall.exe/inside"
wine_own "$blocked_dir"
run_setup /VERYSILENT /NOICONS "/DIR=$blocked" '/LOG=C:\registration-4.log'
expect_status 4 "blocked"
[[ "$(cd "$blocked_dir" && find . | sort | tr '\n' ' ')" == ". ./Uninstall.exe ./Uninstall.exe/inside " ]] &&
    ok "blocked: the folder as it was" || fail "blocked: the folder holds $(cd "$blocked_dir" && find .)"
tr -d '\r' <"$drive_c/registration-4.log" | grep -q '^Registration failed: .*Uninstall\.exe' &&
    ok "blocked: failure logged" || fail "blocked: no failure in the log
$(tr -d '\r' <"$drive_c/registration-4.log")"
tr -d '\r' <"$drive_c/registration-4.log" | grep -q '^Rolled back' && ok "blocked: roll back logged" ||
    fail "blocked: no roll back in the log"
tr -d '\r' <"$drive_c/registration-4.log" | grep -q -x -F 'Result: failed (exit code 4)' &&
    ok "blocked: result logged" || fail "blocked: no result in the log"
read_entry
entry=$ENTRY
expect_value "$entry" InstallLocation "$other" "blocked"

# ---- Without /DIR, an unattended run installs over the registered installation of its scope, never
# into the default folder beside it.
default_dir="$drive_c/Program Files/Tandrel"
default_before=$([[ -e "$default_dir" ]] && echo yes)
run_setup /VERYSILENT /NOICONS /NOBACKUP '/LOG=C:\registration-6.log'
expect_status 0 "upgrade"
tr -d '\r' <"$drive_c/registration-6.log" | grep -q -x -F "Destination: $other" && ok "upgrade: into $other" ||
    fail "upgrade: not into $other:
$(tr -d '\r' <"$drive_c/registration-6.log")"
[[ -z "$default_before" && -e "$default_dir" ]] && fail "upgrade: the default folder was made"
read_entry
expect_value "$ENTRY" InstallLocation "$other" "upgrade"

# ---- /CURRENTUSER: the user's own folder, the entry under HKEY_CURRENT_USER, the machine's entry as
# it was; again without /DIR it upgrades that one; its removal leaves nothing of it.
user_dest="C:\\users\\$WINE_USER\\AppData\\Local\\Programs\\Tandrel"
user_dir="$drive_c/users/$WINE_USER/AppData/Local/Programs/Tandrel"
made+=("$user_dir")
user_entry() {  # the user's entry as NAME=VALUE lines
    wine_reg "$prefix" query "HKEY_CURRENT_USER\\$key" |
        sed -n -E 's/^ +([A-Za-z]+) +REG_[A-Z]+ +(.*)$/\1=\2/p'
}
for run in 1 2; do
    run_setup /VERYSILENT /NOICONS /NOBACKUP /CURRENTUSER "/LOG=C:\\registration-user-$run.log"
    expect_status 0 "/CURRENTUSER $run"
    for name in "${names[@]}"; do
        check_same "$(source_of "$name")" "$user_dir/$name" "/CURRENTUSER $run: $name"
    done
    expect_value "$(user_entry)" InstallLocation "$user_dest" "/CURRENTUSER $run: the user's entry"
    expect_value "$(user_entry)" UninstallString "\"$user_dest\\Uninstall.exe\"" "/CURRENTUSER $run: the user's entry"
    tr -d '\r' <"$drive_c/registration-user-$run.log" | grep -q -x -F "Scope: current user" &&
        ok "/CURRENTUSER $run: scope logged" || fail "/CURRENTUSER $run: no scope in the log"
    read_entry
    [[ "$WHERE" == HKEY_LOCAL_MACHINE ]] && expect_value "$ENTRY" InstallLocation "$other" "/CURRENTUSER $run: the machine's entry"
done
timeout 120 "$scripts/wine-run.sh" "$user_dir/Uninstall.exe" /VERYSILENT '/LOG=C:\registration-user-removal.log' \
    >"$work/remove-user.log" 2>&1
STATUS=$?
expect_status 0 "/CURRENTUSER removed"
[[ -e "$user_dir" ]] && fail "/CURRENTUSER removed: left $(ls -A "$user_dir")"
[[ -n "$(user_entry)" ]] && fail "/CURRENTUSER removed: the user's entry is still there"

# ---- Both programs ship stripped, their symbols and debugging sections beside them in the build.
objdump=x86_64-w64-mingw32-objdump
if command -v "$objdump" >/dev/null; then
    for exe in "$setup" "$installed/Uninstall.exe"; do
        sections=$("$objdump" -h "$exe" 2>/dev/null)
        symbols=$("$objdump" -t "$exe" 2>/dev/null | grep -c '^\[')
        if grep -q 'debug_' <<<"$sections" || ((symbols > 0)); then
            fail "stripped: $(basename "$exe") has debugging sections or symbols"
        else
            ok "stripped: $(basename "$exe")"
        fi
        grep -q '\.gnu_debuglink' <<<"$sections" || fail "stripped: $(basename "$exe") does not name its symbols"
    done
    for debug in "$setup.debug" "$uninstaller.debug"; do
        "$objdump" -h "$debug" 2>/dev/null | grep -q 'debug_info' && ok "symbols: $(basename "$debug")" ||
            fail "symbols: no $debug with debugging sections"
    done
else
    fail "no $objdump to look at the programs"
fi

# ---- Removal, as a package manager runs it: the registered QuietUninstallString, which names the
# installation in "Registration Other". All of it goes but its folder, which was there before; the
# entry goes; the first installation is untouched.
read_entry
quiet=$(sed -n 's/^QuietUninstallString=//p' <<<"$ENTRY")
quiet_program=${quiet#\"}
quiet_program=${quiet_program%%\"*}
quiet_switch=${quiet##*\" }
cp -a "$installed" "$work/first-installation"
timeout 120 bash -c 'source "$1/lib/wine.sh"; wine_init_user; shift; wine_as_user "$@"' _ "$scripts" "$prefix" \
    wine "$quiet_program" "$quiet_switch" >"$work/quiet.log" 2>&1
STATUS=$?
expect_status 0 "removed as registered ($quiet)"
[[ -d "$other_dir" && "$(ls -A "$other_dir")" == Backup ]] &&
    ok "removed as registered: nothing left in the folder but the Backup of what it replaced" ||
    fail "removed as registered: left $(ls -A "$other_dir" 2>&1)"
check_same "$work/damaged-record" "$other_dir/Backup/Uninstall.dat" "removed as registered: the replaced record still in Backup"
read_entry && fail "removed as registered: the entry still names $(sed -n 's/^InstallLocation=//p' <<<"$ENTRY")"
diff -r "$work/first-installation" "$installed" >/dev/null && ok "removed as registered: the first installation whole" ||
    fail "removed as registered: the first installation changed"

# ---- The first installation, installed twice (so with a Backup of the changed sites.ini), a file
# added, removed by its own uninstaller: the user's files and Backup stay, the rest goes, shortcuts
# included.
printf 'mine\r\n' >"$installed/notes.txt"
shortcut_files=()
for shortcut in "${shortcut_paths[@]}"; do
    unix="$drive_c/${shortcut#C:\\}"
    shortcut_files+=("${unix//\\//}")
done
for file in "${shortcut_files[@]}"; do
    [[ -f "$file" ]] || fail "before the removal: no shortcut $file"
done
timeout 120 "$scripts/wine-run.sh" "$installed/Uninstall.exe" /VERYSILENT '/LOG=C:\registration-5.log' \
    >"$work/remove.log" 2>&1
STATUS=$?
expect_status 0 "removed"
for name in Tandrel.exe Tandrel.hlp readme.txt whatsnew.txt Uninstall.exe Uninstall.dat; do
    [[ -e "$installed/$name" ]] && fail "removed: $name is still there"
done
[[ -f "$installed/sites.ini" && -f "$installed/notes.txt" && -f "$installed/Backup/sites.ini" ]] &&
    ok "removed: the user's sites.ini, the added file and Backup stay" || fail "removed: a file of the user's is gone"
for file in "${shortcut_files[@]}"; do
    [[ -e "$file" ]] && fail "removed: the shortcut $file is still there"
done

checks_summary
