#!/usr/bin/env bash
# Who may change an installation made with administrator rights, under Wine (where the programs run
# as administrator):
#     protection_test.sh SETUP_EXE FABRICATE_EXE FLIP_EXE UNINSTALL_EXE SQUAT_EXE UNINSTALL_FAULTS_EXE
# - a record with a shortcut line on a network path, a device path or with another file name is
#   refused whole by the uninstaller: exit code 1, nothing removed, the entry stays;
# - a destination that is a link to another program's folder is refused before the first change;
# - another program's Uninstall.exe and Uninstall.dat in the destination go into Backup byte for
#   byte (and stay there after the removal); with /NOBACKUP the run is refused, nothing changed;
# - a destination that other accounts can change (a 0777 folder, one owned by root) is refused while
#   it holds anything, and taken once emptied; the uninstaller refuses an installation whose folder
#   or record other accounts can change, and one holding a planted journal before it reads it;
# - a new destination under a folder that other accounts can change is refused before anything is
#   made, the folder and the account named; one under a link, by the folder the link leads to;
# - a squatter holding the names of the former lock (and others like them) blocks no setup;
# - two installations with shortcuts: the shortcuts start the second; removing the first keeps them;
# - a journal whose shortcut step names the installation's shortcut through a link: its roll back
#   keeps the shortcut;
# - a folder of the installation flipped between the real folder and a link to an outside folder
#   while the uninstaller runs (by a Windows program, and by a Unix loop that Wine's sharing rules
#   cannot stop): nothing outside is ever removed; and, deterministically, the same folder swapped
#   for the link at each point where the removal has checked an item's path and not yet opened it
#   (the test build of the uninstaller waits there): the item is kept or the removal refused.
# Runs in $TANDREL_WINEPREFIX when set, otherwise in a prefix of its own. Every run has a time limit.
set -uo pipefail
setup=$1 fabricate=$2 flip=$3 uninstaller=$4 squat=$5 uninstall_faults=$6
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" protection || exit 1
programs=$(wine_shell_folder "$prefix" Programs) || fail "no Programs folder in the registry"
sendto=$(wine_shell_folder "$prefix" SendTo) || fail "no SendTo folder in the registry"
shortcuts=("$programs/Tandrel.lnk" "$sendto/Tandrel.lnk")
flipper=
squatter=
made=("$drive_c"/Prot-* "$drive_c"/prot-*.log "$sendto/victim.lnk" "${shortcuts[@]}")
cleanup() {
    [[ -n "$flipper" ]] && kill "$flipper" 2>/dev/null
    [[ -n "$squatter" ]] && kill "$squatter" 2>/dev/null
    rm -rf "${made[@]}" "$drive_c"/Prot-* "$drive_c"/prot-*.log
    wine_test_done
}
trap cleanup EXIT
rm -rf "${made[@]}"

log_text() { tr -d '\r' <"$drive_c/$1" 2>/dev/null; }
log_matches() {  # log what pattern: a line of the log matches the extended regular expression
    log_text "$1" | grep -q -E -- "$3" && ok "$2: the log says why" ||
        fail "$2: no line like '$3' in the log
$(log_text "$1")"
}
# Every name, kind and content under a folder (links listed, never followed).
snapshot() { (cd "$1" && find . -printf '%y %p %l\n' | sort && find . -type f -print0 | sort -z | xargs -0 -r sha256sum); }
unchanged() {  # folder before what
    [[ "$(snapshot "$1")" == "$2" ]] && ok "$3: nothing changed" || fail "$3: $1 changed
$(diff <(echo "$2") <(snapshot "$1"))"
}
journal() {  # file line...: a journal of whole records after its heading, as a run writes it
    local file=$1 check=00000000 line
    shift
    : >"$file"
    for line in 'Tandrel install journal 2' "$@"; do
        check=$(printf '%s %s' "$check" "$line" | sha256sum | cut -c1-8)
        printf '%s %s\r\n' "$check" "$line" >>"$file"
    done
    wine_own "$file"
}
refused_new_destination() {  # folder watched what pattern: a setup into the new folder is refused with
    # exit code 4, nothing changes under watched, and a line of its log matches pattern
    local before
    before=$(snapshot "$2")
    wine_run_limited "$setup" /VERYSILENT /NOICONS "/DIR=$1" '/LOG=C:\prot-new.log'
    expect_exit 4 "$3"
    unchanged "$2" "$before" "$3"
    log_matches prot-new.log "$3" "$4"
}
# The InstallLocation of the entry (machine, then user).
entry_location() { wine_entry_value "$prefix" InstallLocation; }
shortcut_target() {  # lnk: the local path the shortcut starts
    lnkinfo "$1" 2>/dev/null | grep -m1 -E '^[[:space:]]*Local path[[:space:]]*:' | sed -E 's/^[^:]*:[[:space:]]?//'
}
install() {  # name what [switches...]: an unattended installation into C:\<name>, logged to C:\prot-<name>.log
    local name=$1 what=$2
    shift 2
    wine_run_limited "$setup" /VERYSILENT "/DIR=C:\\$name" "/LOG=C:\\prot-$name.log" "$@"
}
remove() {  # name: the unattended removal of C:\<name>, logged to C:\prot-remove-<name>.log
    wine_run_limited "$drive_c/$1/Uninstall.exe" /VERYSILENT "/LOG=C:\\prot-remove-$1.log"
}

# ---- A record with a shortcut line that is not Tandrel.lnk in a local Programs or SendTo folder:
# refused whole, nothing removed, the entry stays.
install Prot-Record "record"
expect_exit 0 "record: installed"
printf 'a shortcut of another program\r\n' >"$sendto/victim.lnk"
wine_own "$sendto/victim.lnk"
cp "$drive_c/Prot-Record/Uninstall.dat" "$work/record"
sendto_win="C:\\users\\$WINE_USER\\AppData\\Roaming\\Microsoft\\Windows\\SendTo"
programs_win="C:\\users\\$WINE_USER\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"
for line in '\\host\share\Programs\Tandrel.lnk' "\\\\?\\$programs_win\\Tandrel.lnk" "$sendto_win\\victim.lnk"; do
    { cat "$work/record"; printf 'shortcut %s\r\n' "$line"; } >"$drive_c/Prot-Record/Uninstall.dat"
    before=$(snapshot "$drive_c/Prot-Record")
    links_before=$(sha256sum "${shortcuts[@]}" "$sendto/victim.lnk" 2>&1)
    remove Prot-Record
    expect_exit 1 "shortcut $line"
    unchanged "$drive_c/Prot-Record" "$before" "shortcut $line"
    [[ "$(sha256sum "${shortcuts[@]}" "$sendto/victim.lnk" 2>&1)" == "$links_before" ]] &&
        ok "shortcut $line: the shortcuts and victim.lnk stay" || fail "shortcut $line: a shortcut was removed"
    [[ "$(entry_location)" == 'C:\Prot-Record' ]] && ok "shortcut $line: the entry stays" ||
        fail "shortcut $line: the entry names '$(entry_location)'"
    log_matches prot-remove-Prot-Record.log "shortcut $line" '^Error: The record .* is damaged: Line .*shortcut'
done
cp "$work/record" "$drive_c/Prot-Record/Uninstall.dat"

# ---- The destination is a link to another program's folder: refused before the first change.
mkdir -p "$drive_c/Prot-Other"
printf 'the other program\r\n' >"$drive_c/Prot-Other/Other.exe"
printf 'its uninstaller\r\n' >"$drive_c/Prot-Other/Uninstall.exe"
printf 'its own record\r\n' >"$drive_c/Prot-Other/Uninstall.dat"
ln -s Prot-Other "$drive_c/Prot-Link"
wine_own "$drive_c/Prot-Other"
[[ $(id -u) -eq 0 ]] && chown -h "$WINE_USER" "$drive_c/Prot-Link"
before=$(snapshot "$drive_c/Prot-Other")
install Prot-Link "link"
expect_exit 4 "destination is a link"
unchanged "$drive_c/Prot-Other" "$before" "destination is a link: the other folder"
[[ -L "$drive_c/Prot-Link" ]] && ok "destination is a link: the link stays" || fail "destination is a link: the link is gone"
log_matches prot-Prot-Link.log "destination is a link" '^Error: .*(link.*C:\\Prot-Link|C:\\Prot-Link.*link)'
[[ "$(entry_location)" == 'C:\Prot-Record' ]] && ok "destination is a link: the entry stays" ||
    fail "destination is a link: the entry names '$(entry_location)'"

# ---- Another program's Uninstall.exe and Uninstall.dat in the destination: with /NOBACKUP refused
# with nothing changed; otherwise moved into Backup byte for byte, where they stay after the removal.
mkdir -p "$drive_c/Prot-Tools"
cp "$flip" "$drive_c/Prot-Tools/Uninstall.exe"
printf '[Tools]\r\nremove=C:\\Prot-Tools\r\n' >"$drive_c/Prot-Tools/Uninstall.dat"
printf 'a tool\r\n' >"$drive_c/Prot-Tools/tool.txt"
wine_own "$drive_c/Prot-Tools"
cp "$drive_c/Prot-Tools/Uninstall.exe" "$drive_c/Prot-Tools/Uninstall.dat" "$work/"
before=$(snapshot "$drive_c/Prot-Tools")
install Prot-Tools "foreign /NOBACKUP" /NOBACKUP
expect_exit 4 "foreign uninstaller, /NOBACKUP"
unchanged "$drive_c/Prot-Tools" "$before" "foreign uninstaller, /NOBACKUP"
log_matches prot-Prot-Tools.log "foreign uninstaller, /NOBACKUP" '^Error: Cannot replace .*Uninstall\.(exe|dat): it was not written by this setup'
install Prot-Tools "foreign"
expect_exit 0 "foreign uninstaller"
for name in Uninstall.exe Uninstall.dat; do
    check_same "$work/$name" "$drive_c/Prot-Tools/Backup/$name" "foreign uninstaller: $name in Backup"
done
cmp -s "$work/Uninstall.exe" "$drive_c/Prot-Tools/Uninstall.exe" && fail "foreign uninstaller: the other one stays in place"
grep -q -a -F '[Tools]' "$drive_c/Prot-Tools/Uninstall.dat" && fail "foreign uninstaller: the other record was merged"
remove Prot-Tools
expect_exit 0 "foreign uninstaller: removal"
for name in Uninstall.exe Uninstall.dat; do
    check_same "$work/$name" "$drive_c/Prot-Tools/Backup/$name" "foreign uninstaller: $name still in Backup after the removal"
done
[[ -f "$drive_c/Prot-Tools/tool.txt" ]] && ok "foreign uninstaller: tool.txt stays" || fail "foreign uninstaller: tool.txt is gone"

# ---- A destination that other accounts can change, holding a planted record with extra lines:
# refused (the log names the folder and why); emptied, it is taken and the record starts afresh.
printf 'planted\r\n' >"$drive_c/prot-victim.txt"
victim_digest=$(sha256sum "$drive_c/prot-victim.txt" | cut -d' ' -f1)
for kind in everyone root; do
    dir=$drive_c/Prot-Open-$kind
    mkdir -p "$dir"
    printf 'Tandrel install record 1\r\ndestination C:\\Prot-Open-%s\r\nfolder .\r\nfile 9 %s prot-planted.txt\r\nshortcut %s\\Tandrel.lnk\r\n' \
        "$kind" "$victim_digest" "$sendto_win" >"$dir/Uninstall.dat"
    printf 'planted\r\n' >"$dir/prot-planted.txt"
    if [[ $kind == everyone ]]; then
        wine_own "$dir"
        chmod 0777 "$dir"
        why='Everyone may'
    else
        chown -R root "$dir"
        why='ANONYMOUS LOGON'
    fi
    before=$(snapshot "$dir")
    install "Prot-Open-$kind" "open"
    expect_exit 4 "changeable by others ($kind)"
    unchanged "$dir" "$before" "changeable by others ($kind)"
    log_matches "prot-Prot-Open-$kind.log" "changeable by others ($kind)" \
        "^Error: C:\\\\Prot-Open-$kind can be changed by accounts other than the administrators \\($why"
    # Emptied, it is protected like a new folder and taken. Wine keeps no access list on a folder
    # that exists (its owner and mode stay), so there the protection cannot take and the folder
    # must still be refused, with nothing made in it.
    rm -f "$dir"/*
    install "Prot-Open-$kind" "emptied"
    if [[ "$STATUS" == 0 ]]; then
        ok "changeable by others ($kind), emptied: protected and taken"
        [[ -f "$dir/Tandrel.exe" ]] || fail "changeable by others ($kind), emptied: not installed"
        grep -q -a -F 'prot-planted.txt' "$dir/Uninstall.dat" && fail "changeable by others ($kind): a planted line in the record"
    else
        expect_exit 4 "changeable by others ($kind), emptied, the protection not taken"
        [[ -z "$(ls -A "$dir")" ]] && ok "changeable by others ($kind), emptied and refused: nothing made" ||
            fail "changeable by others ($kind), emptied and refused: $(ls -A "$dir")"
        log_matches "prot-Prot-Open-$kind.log" "changeable by others ($kind), emptied" \
            "^Error: C:\\\\Prot-Open-$kind can be changed by accounts other than the administrators"
    fi
done

# ---- The uninstaller refuses an installation whose record or folder others can change.
install Prot-Exposed "exposed"
expect_exit 0 "exposed: installed"
for change in "0666 Uninstall.dat" "0777 ." "0666 Uninstall.exe"; do
    read -r mode what <<<"$change"
    old=$(stat -c %a "$drive_c/Prot-Exposed/$what")
    chmod "$mode" "$drive_c/Prot-Exposed/$what"
    before=$(snapshot "$drive_c/Prot-Exposed")
    remove Prot-Exposed
    expect_exit 1 "exposed $what ($mode)"
    unchanged "$drive_c/Prot-Exposed" "$before" "exposed $what ($mode)"
    log_matches prot-remove-Prot-Exposed.log "exposed $what ($mode)" 'can be changed by accounts other than the administrators'
    chmod "$old" "$drive_c/Prot-Exposed/$what"
done
remove Prot-Exposed
expect_exit 0 "exposed, protected again: removed"

# ---- A journal planted in an installation's folder that others can change: the uninstaller
# refuses before it reads it. The entry, a shortcut of another program and the files stay.
install Prot-Journal "journal" /NOICONS
expect_exit 0 "journal: installed"
printf 'a shortcut of another program\r\n' >"$sendto/victim.lnk"
wine_own "$sendto/victim.lnk"
chmod 0777 "$drive_c/Prot-Journal"
# A journal that reads well: rolled back, it would point the entry elsewhere and delete readme.txt.
printf 'Tandrel install journal 1\r\ndestination C:\\Prot-Journal\r\nentry machine C:\\Evil\r\nput readme.txt.~new>readme.txt\r\ndone 1\r\n' \
    >"$drive_c/Prot-Journal/Uninstall.jnl"
wine_own "$drive_c/Prot-Journal/Uninstall.jnl"
before=$(snapshot "$drive_c/Prot-Journal")
victim_before=$(sha256sum "$sendto/victim.lnk")
# The uninstaller in the folder, and the removal it hands to its copy, run by itself.
for how in uninstaller copy; do
    if [[ $how == uninstaller ]]; then
        remove Prot-Journal
    else
        wine_run_limited "$uninstaller" /VERYSILENT '/ORIGINAL=C:\Prot-Journal' '/LOG=C:\prot-remove-Prot-Journal.log'
    fi
    expect_exit 1 "planted journal ($how)"
    unchanged "$drive_c/Prot-Journal" "$before" "planted journal ($how)"
    [[ "$(sha256sum "$sendto/victim.lnk" 2>&1)" == "$victim_before" ]] && ok "planted journal ($how): victim.lnk stays" ||
        fail "planted journal ($how): victim.lnk was removed"
    [[ "$(entry_location)" == 'C:\Prot-Journal' ]] && ok "planted journal ($how): the entry stays" ||
        fail "planted journal ($how): the entry names '$(entry_location)'"
    log_matches prot-remove-Prot-Journal.log "planted journal ($how)" \
        '^Error: C:\\Prot-Journal can be changed by accounts other than the administrators \(Everyone may'
done
rm -f "$drive_c/Prot-Journal/Uninstall.jnl" "$sendto/victim.lnk"
chmod 0755 "$drive_c/Prot-Journal"
remove Prot-Journal
expect_exit 0 "planted journal, taken away and protected again: removed"

# ---- A new destination under a folder that others can change: refused before anything is made,
# whether the folder is its parent or further up; taken once the folder is protected.
apps=$drive_c/Prot-Apps
mkdir -p "$apps"
wine_own "$apps"
chmod 0777 "$apps"
for target in 'Tandrel' 'Sub\Tandrel'; do
    target_re=${target//\\/\\\\}
    refused_new_destination "C:\\Prot-Apps\\$target" "$apps" "new destination in a changeable folder ($target)" \
        "^Error: C:\\\\Prot-Apps\\\\${target_re} can be changed by accounts other than the administrators \\(Everyone may .*: C:\\\\Prot-Apps\\)"
done
chmod 0755 "$apps"
wine_run_limited "$setup" /VERYSILENT /NOICONS '/DIR=C:\Prot-Apps\Sub\Tandrel' '/LOG=C:\prot-apps.log'
expect_exit 0 "new destination in a protected folder"
wine_run_limited "$apps/Sub/Tandrel/Uninstall.exe" /VERYSILENT
expect_exit 0 "new destination in a protected folder: removed"

# ---- A new destination under a link (a Unix symbolic link, which Wine shows as a reparse point; no
# Windows program makes a junction or a symbolic link here): judged by the folder the link leads to.
# That folder changeable by others: refused before anything is made; a protected one: installed.
targets=$drive_c/Prot-Targets
mkdir -p "$targets/Open" "$targets/Sound"
wine_own "$targets"
chmod 0777 "$targets/Open"
for kind in Open Sound; do
    ln -s "Prot-Targets/$kind" "$drive_c/Prot-Via-$kind"
    [[ $(id -u) -eq 0 ]] && chown -h "$WINE_USER" "$drive_c/Prot-Via-$kind"
done
refused_new_destination 'C:\Prot-Via-Open\Tandrel' "$targets" "new destination through a link to a changeable folder" \
    '^Error: C:\\Prot-Via-Open\\Tandrel can be changed by accounts other than the administrators \(Everyone may '
wine_run_limited "$setup" /VERYSILENT /NOICONS '/DIR=C:\Prot-Via-Sound\Tandrel' '/LOG=C:\prot-via.log'
expect_exit 0 "new destination through a link to a protected folder"
[[ -f "$targets/Sound/Tandrel/Tandrel.exe" ]] && ok "new destination through a link to a protected folder: installed" ||
    fail "new destination through a link to a protected folder: nothing in the folder the link leads to"
wine_run_limited "$drive_c/Prot-Via-Sound/Tandrel/Uninstall.exe" /VERYSILENT  # as the entry names it
expect_exit 0 "new destination through a link to a protected folder: removed"
rm -rf "$drive_c/Prot-Via-Open" "$drive_c/Prot-Via-Sound" "$targets"

# ---- A squatter holding the names of the former lock, in every session's space and in its own,
# is in no setup's way.
old_name=$(printf '%s' 'c:\prot-squat' | sha256sum | cut -c1-32)
rm -f "$drive_c/Prot-Squat-Stop"
timeout 150 "$scripts/wine-run.sh" "$squat" 'C:\Prot-Squat-Stop' "Global\\Tandrel-Installation-$old_name" \
    "Local\\Tandrel-Installation-$old_name" >"$work/squat.log" 2>&1 &
squatter=$!
for _ in $(seq 1 300); do
    grep -q '^holding' "$work/squat.log" 2>/dev/null && break
    sleep 0.2
done
grep -q '^holding 2' "$work/squat.log" && ok "squatter: holds both names" || fail "squatter: $(cat "$work/squat.log")"
install Prot-Squat "squatted" /NOICONS
expect_exit 0 "squatter holding the former lock's names: installed"
remove Prot-Squat
expect_exit 0 "squatter holding the former lock's names: removed"
touch "$drive_c/Prot-Squat-Stop"
wait "$squatter"
squatter=

# ---- Two installations with shortcuts: both shortcuts start the second; the first's removal keeps
# them and says so, the second's takes them.
install Prot-First "first"
expect_exit 0 "first installation"
install Prot-Second "second"
expect_exit 0 "second installation"
for lnk in "${shortcuts[@]}"; do
    [[ "$(shortcut_target "$lnk")" == 'C:\Prot-Second\TANDREL.EXE' ]] && ok "two installations: $lnk starts the second" ||
        fail "two installations: $lnk starts '$(shortcut_target "$lnk")'"
done
remove Prot-First
expect_exit 0 "two installations: the first removed"
[[ -e "$drive_c/Prot-First" ]] && fail "two installations: C:\\Prot-First is still there"
for lnk in "${shortcuts[@]}"; do
    [[ "$(shortcut_target "$lnk")" == 'C:\Prot-Second\TANDREL.EXE' ]] && ok "two installations: $lnk kept" ||
        fail "two installations: $lnk is gone or changed"
done
for folder in "$programs_win" "$sendto_win"; do
    log_text prot-remove-Prot-First.log | grep -q -x -F "Kept: $folder\\Tandrel.lnk (it starts another program now)" &&
        ok "two installations: the log names $folder\\Tandrel.lnk as kept" ||
        fail "two installations: $folder\\Tandrel.lnk not named as kept
$(log_text prot-remove-Prot-First.log)"
done
remove Prot-Second
expect_exit 0 "two installations: the second removed"
for lnk in "${shortcuts[@]}"; do
    [[ -e "$lnk" ]] && fail "two installations: $lnk stays after the second's removal" ||
        ok "two installations: $lnk removed with the second"
done

# ---- A journal left in an installation whose shortcut step names the installation's own shortcut
# through a link (the Start Menu reached by another path): the next run rolls it back and keeps the
# shortcut, which only a path without a link may remove.
install Prot-Third "shortcut step through a link"
expect_exit 0 "shortcut step through a link: installed"
ln -s "$(dirname "$programs")" "$drive_c/Prot-Menu"
[[ $(id -u) -eq 0 ]] && chown -h "$WINE_USER" "$drive_c/Prot-Menu"
[[ -e "$drive_c/Prot-Menu/Programs/Tandrel.lnk" ]] || fail "shortcut step through a link: the link leads nowhere"
journal "$drive_c/Prot-Third/Uninstall.jnl" 'destination C:\Prot-Third' 'shortcut C:\Prot-Menu\Programs\Tandrel.lnk'
links_before=$(sha256sum "${shortcuts[@]}" 2>&1)
install Prot-Third "shortcut step through a link" /NOICONS
expect_exit 0 "shortcut step through a link: the next run"
[[ "$(sha256sum "${shortcuts[@]}" 2>&1)" == "$links_before" ]] && ok "shortcut step through a link: the shortcuts stay" ||
    fail "shortcut step through a link: a shortcut was removed"
[[ -e "$drive_c/Prot-Third/Uninstall.jnl" ]] && fail "shortcut step through a link: the journal is left"
log_text prot-Prot-Third.log | grep -q -F 'Removed C:\Prot-Menu' &&
    fail "shortcut step through a link: the log says it was removed
$(log_text prot-Prot-Third.log)"
rm -f "$drive_c/Prot-Menu"
remove Prot-Third
expect_exit 0 "shortcut step through a link: removed"
rm -f "${shortcuts[@]}"

# ---- The race: a folder of the installation flipped between the real folder and a link to an
# outside folder whose notes.txt has the recorded digest. Nothing outside is ever removed; each run
# ends removed (exit code 0) or refused (1 or 4).
outside=$drive_c/Prot-Outside
mkdir -p "$outside/empty"
printf 'notes of the race\r\n' >"$outside/notes.txt"
printf 'other\r\n' >"$outside/other.txt"
wine_own "$outside"
outside_before=$(snapshot "$outside")
race_dir=$drive_c/Prot-Race
make_race_installation() {  # [uninstaller]
    rm -rf "$race_dir"
    mkdir -p "$race_dir/sub/empty"
    cp "$fabricate" "$race_dir/Tandrel.exe"
    cp "${1:-$uninstaller}" "$race_dir/Uninstall.exe"
    cp "$outside/notes.txt" "$race_dir/sub/notes.txt"
    wine_own "$race_dir"
    wine_run_limited "$fabricate" 'C:\Prot-Race'
    [[ "$STATUS" == 0 ]] || fail "race: not recorded (exit code $STATUS)"
}
race_outcome() {  # flipper run: exit code and what is left, counted in the totals
    local run=$1
    case "$STATUS" in
        0 | 1 | 4) ;;
        *) fail "race $run: exit code $STATUS, expected 0, 1 or 4" ;;
    esac
    if [[ "$(snapshot "$outside")" != "$outside_before" ]]; then
        fail "race $run: the outside folder changed (exit code $STATUS)
$(diff <(echo "$outside_before") <(snapshot "$outside"))"
        rm -rf "$outside"/* && mkdir -p "$outside/empty"
        printf 'notes of the race\r\n' >"$outside/notes.txt"
        printf 'other\r\n' >"$outside/other.txt"
        wine_own "$outside"
    fi
    if [[ -e "$race_dir" ]]; then
        echo "protection: race $run: exit code $STATUS, left: $(cd "$race_dir" && find . -mindepth 1 | sort | tr '\n' ' ')"
        outcomes+=("$STATUS:left")
    else
        outcomes+=("$STATUS:gone")
    fi
}
summary() {  # flipper
    printf '%s\n' "${outcomes[@]}" | sort | uniq -c | tr '\n' ' ' | sed "s/^/protection: race, $1 flipper: /"
    echo
}

# The Unix flipper: renames and links as the Unix user that owns the files, beneath Wine, whose
# sharing rules it does not meet. The Windows one (flip.exe) meets them.
stop=$drive_c/Prot-Stop
unix_flip() {
    local sub=$race_dir/sub
    while [[ ! -e "$stop" ]]; do
        mv -T "$sub" "$sub.real" 2>/dev/null && ln -s ../Prot-Outside "$sub" 2>/dev/null
        sleep 0.005
        [[ -L "$sub" ]] && rm -f "$sub"
        [[ -e "$sub.real" && ! -e "$sub" ]] && mv -T "$sub.real" "$sub"
    done
}
for side in Windows Unix; do
    outcomes=()
    for run_number in $(seq 1 10); do
        make_race_installation
        rm -f "$stop"
        if [[ $side == Windows ]]; then
            timeout 60 "$scripts/wine-run.sh" "$flip" 'C:\Prot-Race\sub' 'C:\Prot-Outside' 'C:\Prot-Stop' \
                >"$work/flip.log" 2>&1 &
        else
            unix_flip &
        fi
        flipper=$!
        sleep "0.$((run_number - 1))"
        remove Prot-Race
        touch "$stop"
        wait "$flipper"
        flipper=
        [[ $side == Windows ]] && grep -m1 '^renamed' "$work/flip.log" | tr -d '\r' |
            sed "s/^/protection: race $run_number (Windows): /"
        race_outcome "$run_number ($side)"
    done
    summary $side
done

# ---- The swap at a chosen moment: the test build of the uninstaller waits at the K-th point where
# an item's path has been checked and the item is not opened yet; the folder sub is swapped for a
# link to the outside folder there, by Unix, which Wine's sharing rules do not stop. Every such point
# of the removal is tried.
points_file=$drive_c/prot-points.log
go=$drive_c/prot-go
make_race_installation "$uninstall_faults"
rm -f "$points_file"
TANDREL_OPEN_LOG='C:\prot-points.log' wine_run_limited "$race_dir/Uninstall.exe" /VERYSILENT
expect_exit 0 "swap: the removal without a swap"
mapfile -t swap_points < <(tr -d '\r' <"$points_file" 2>/dev/null | cut -d' ' -f1)
((${#swap_points[@]} >= 2)) && ok "swap: ${#swap_points[@]} points between a check and an opening" ||
    fail "swap: only ${#swap_points[@]} points between a check and an opening"
kept_inside=0
outcomes=()
for k in "${swap_points[@]}"; do
    make_race_installation "$uninstall_faults"
    rm -f "$points_file" "$go"
    TANDREL_OPEN_AT=$k TANDREL_OPEN_LOG='C:\prot-points.log' TANDREL_FAULT_WAIT='C:\prot-go' \
        timeout 150 "$scripts/wine-run.sh" "$race_dir/Uninstall.exe" /VERYSILENT '/LOG=C:\prot-swap.log' \
        >"$work/swap.log" 2>&1 &
    remover=$!
    wait_for_lines "$points_file" "$k" || fail "swap at $k: the point was not reached"
    mv -T "$race_dir/sub" "$race_dir/sub.real" && ln -s ../Prot-Outside "$race_dir/sub"
    touch "$go"
    wait "$remover"
    STATUS=$?
    rm -f "$race_dir/sub"
    [[ -d "$race_dir/sub.real" ]] && mv -T "$race_dir/sub.real" "$race_dir/sub"
    [[ -f "$race_dir/sub/notes.txt" ]] && kept_inside=$((kept_inside + 1))
    race_outcome "swap at $k"
done
((kept_inside >= 1)) && ok "swap: the item behind the swapped folder was kept ($kept_inside of ${#swap_points[@]} points)" ||
    fail "swap: no swap met the item behind the swapped folder"
summary swap
rm -f "$points_file" "$go" "$drive_c/prot-swap.log"

if ((FAILURES > 0)); then
    echo "protection: $FAILURES check(s) failed"
    exit 1
fi
echo "protection: all checks passed"
