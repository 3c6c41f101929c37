#!/usr/bin/env bash
# Installations and removals whose names hold letters that the system's code page (1252 here, from
# the locale en_US.UTF-8) cannot represent: destinations in Cyrillic and in Chinese, shortcut folders
# and a TEMP folder in Cyrillic and Chinese. The files, the record, the entry, the log and the
# shortcuts are read back; the removal leaves nothing.
#     names_test.sh SETUP_EXE TANDREL_EXE PAYLOAD_DIR
# Always in a prefix of its own: it changes the user's shell folders and TEMP.
set -uo pipefail
setup=$1 program=$2 payload=$3
unset TANDREL_WINEPREFIX
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" names || exit 1
[[ -n "${KEEP_NAMES_PREFIX:-}" ]] || trap wine_test_done EXIT

# Wine takes its code page from the locale, which must exist: without it a non-ASCII command line
# arrives garbled.
if ! locale -a 2>/dev/null | grep -q -i -x 'en_US\.utf-\?8'; then
    export LOCPATH=$work/locales
    mkdir -p "$LOCPATH"
    localedef -i en_US -f UTF-8 "$LOCPATH/en_US.UTF-8" >/dev/null 2>&1 || fail "cannot make the locale en_US.UTF-8"
    chmod -R a+rX "$LOCPATH"
fi
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8

names=(Tandrel.exe Tandrel.hlp readme.txt sites.ini whatsnew.txt)
source_of() { [[ "$1" == Tandrel.exe ]] && echo "$program" || echo "$payload/$1"; }
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Tandrel'
reg() { wine_as_user "$prefix" wine reg "$@" 2>/dev/null | tr -d '\r'; }
win_to_unix() { local rest=${1#?:\\}; echo "$drive_c/${rest//\\//}"; }

# The user's Programs and SendTo folders and TEMP, with names outside the code page.
programs='C:\users\'"$WINE_USER"'\Профиль Дмитрий\Start Menu\Programs'
sendto='C:\users\'"$WINE_USER"'\用户\SendTo'
temp='C:\Временные'
for folder in "$programs" "$sendto" "$temp"; do
    mkdir -p "$(win_to_unix "$folder")"
done
wine_own "$drive_c/users/$WINE_USER" "$(win_to_unix "$temp")"
for shell_key in 'Shell Folders' 'User Shell Folders'; do
    reg add "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\$shell_key" /v Programs /d "$programs" /f >/dev/null
    reg add "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\$shell_key" /v SendTo /d "$sendto" /f >/dev/null
done
reg add 'HKCU\Environment' /v TEMP /d "$temp" /f >/dev/null
reg add 'HKCU\Environment' /v TMP /d "$temp" /f >/dev/null

STATUS=
run() {  # exe args...: with a time limit; STATUS is its exit code
    timeout 120 "$scripts/wine-run.sh" "$@" >"$work/last-run.log" 2>&1
    STATUS=$?
}
# A value of the machine's entry, exported by Wine's reg (its console output has the code page's
# letters only); empty when there is no entry.
entry_value() {  # name
    rm -f "$drive_c/names-entry.reg"
    reg export "HKLM\\$key" 'C:\names-entry.reg' /y /reg:64 >/dev/null
    iconv -f utf-16 -t utf-8 "$drive_c/names-entry.reg" 2>/dev/null | tr -d '\r' |
        sed -n -E "s/^\"$1\"=\"(.*)\"$/\1/p" | sed -e 's/\\\\/\\/g' -e 's/\\"/"/g'
}
lnk_field() {  # lnk field
    lnkinfo "$1" 2>/dev/null | grep -m1 -E "^[[:space:]]*$2[[:space:]]*:" | sed -E 's/^[^:]*:[[:space:]]?//'
}

for dest in 'C:\Программы\Tandrel' 'C:\软件\Tandrel'; do
    installed=$(win_to_unix "$dest")
    log="$drive_c/names.log"
    rm -f "$log"
    run "$setup" /VERYSILENT "/DIR=$dest" '/LOG=C:\names.log'
    [[ "$STATUS" == 0 ]] && ok "$dest: installed (exit code 0)" || fail "$dest: exit code $STATUS: $(tr -d '\r' <"$log" 2>&1)"
    for name in "${names[@]}"; do
        check_same "$(source_of "$name")" "$installed/$name" "$dest: $name"
    done
    # The log in UTF-8, the names as they are.
    log_text=$(tr -d '\r' <"$log" 2>/dev/null)
    grep -q -x -F "Destination: $dest" <<<"$log_text" && ok "$dest: the log names the destination" ||
        fail "$dest: the log does not name the destination:
$log_text"
    grep -q -x -F "Shortcut: $programs\\Tandrel.lnk" <<<"$log_text" && ok "$dest: the log names the Programs shortcut" ||
        fail "$dest: no Programs shortcut in the log"
    grep -q 'u{' <<<"$log_text" && fail "$dest: escaped characters in the log"
    # The record: the destination and each shortcut, in UTF-8.
    record=$(tr -d '\r' <"$installed/Uninstall.dat" 2>/dev/null)
    grep -q -x -F "destination $dest" <<<"$record" && ok "$dest: record destination" || fail "$dest: record:
$record"
    for folder in "$programs" "$sendto"; do
        grep -q -x -F "shortcut $folder\\Tandrel.lnk" <<<"$record" && ok "$dest: record shortcut in $folder" ||
            fail "$dest: no shortcut $folder in the record"
        lnk="$(win_to_unix "$folder")/Tandrel.lnk"
        # The link's strings are in Unicode; its ANSI local path holds the process's code page,
        # UTF-8, which lnkinfo reads as windows-1252: read back to its bytes, they are the path.
        target=$(lnk_field "$lnk" "Local path" | iconv -f utf-8 -t windows-1252 2>/dev/null)
        description=$(lnk_field "$lnk" "Description")
        start_in=$(lnk_field "$lnk" "Working directory")
        [[ "${target,,}" == "${dest,,}\\tandrel.exe" && "$description" == "$dest\\TANDREL.EXE" &&
            "$start_in" == "$dest" ]] && ok "$dest: shortcut in $folder" ||
            fail "$dest: shortcut in $folder points at '$target' ('$description'), starts in '$start_in'"
    done
    # The entry.
    location=$(entry_value InstallLocation)
    [[ "$location" == "$dest" ]] && ok "$dest: entry" || fail "$dest: the entry's InstallLocation is '$location'"
    [[ "$(entry_value UninstallString)" == "\"$dest\\Uninstall.exe\"" ]] && ok "$dest: entry's UninstallString" ||
        fail "$dest: the entry's UninstallString is '$(entry_value UninstallString)'"
    # The removal, which runs from a copy in TEMP: nothing of the installation stays.
    run "$installed/Uninstall.exe" /VERYSILENT '/LOG=C:\names-removal.log'
    [[ "$STATUS" == 0 ]] && ok "$dest: removed (exit code 0)" ||
        fail "$dest: removal exit code $STATUS: $(tr -d '\r' <"$drive_c/names-removal.log" 2>&1)"
    [[ -e "$installed" ]] && fail "$dest: the removal left $(ls -A "$installed")"
    [[ -e "$(dirname "$installed")" ]] && fail "$dest: the removal left the folder above the destination"
    for folder in "$programs" "$sendto"; do
        [[ -e "$(win_to_unix "$folder")/Tandrel.lnk" ]] && fail "$dest: the removal left the shortcut in $folder"
    done
    [[ -n "$(entry_value DisplayName)" ]] && fail "$dest: the removal left the entry"
done

checks_summary
