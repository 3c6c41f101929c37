#!/usr/bin/env bash
# The removal's closing message after installations by the built setup, under Wine, read from the
# uninstaller's log (its "Kept:" lines are the message's list): Backup named whole, as what the
# installations replaced when they put files there, as the user's own folder when it only ever
# held the user's files; no item twice.
#     closing_message_test.sh SETUP_EXE
set -uo pipefail
setup=$1
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" closing || exit 1
cleanup() {
    rm -rf "$drive_c/Closing" "$drive_c"/closing-*.log
    wine_test_done
}
trap cleanup EXIT
rm -rf "$drive_c/Closing"

STATUS=
run() {  # exe args...: with a time limit; STATUS is its exit code
    timeout 120 "$scripts/wine-run.sh" "$@" >"$work/last-run.log" 2>&1
    STATUS=$?
}
install() {  # folder what
    run "$setup" /VERYSILENT /NOICONS "/DIR=C:\\Closing\\$1"
    [[ "$STATUS" == 0 ]] || fail "$2: the setup ended with $STATUS"
}
# Removes the installation in folder and checks the kept lines of its log: exactly those given.
expect_kept() {  # folder what lines...
    local folder=$1 what=$2 kept
    shift 2
    run "$drive_c/Closing/$folder/Uninstall.exe" /VERYSILENT "/LOG=C:\\closing-$folder.log"
    [[ "$STATUS" == 0 ]] || fail "$what: the removal ended with $STATUS"
    kept=$(tr -d '\r' <"$drive_c/closing-$folder.log" | grep '^Kept: ' | sort)
    if [[ "$kept" == "$(printf '%s\n' "$@" | sort)" ]]; then
        ok "$what: $(tr '\n' ';' <<<"$kept")"
    else
        fail "$what: kept lines
$kept
expected
$(printf '%s\n' "$@")"
    fi
}

# ---- A destination that the setup made, installed into twice: the second run replaces the file
# the user changed (moved into Backup) and keeps the user's site database (copied into Backup).
install Made "made, first run"
printf 'my own news\r\n' >"$drive_c/Closing/Made/whatsnew.txt"
printf '[Mine]\r\nHost=ftp.example.net\r\n' >>"$drive_c/Closing/Made/sites.ini"
install Made "made, second run"
[[ -f "$drive_c/Closing/Made/Backup/whatsnew.txt" && -f "$drive_c/Closing/Made/Backup/sites.ini" ]] &&
    ok "made: the second run put the user's files into Backup" || fail "made: no backups"
expect_kept Made "made, removed" "Kept: Backup (the files that installations replaced)" \
    "Kept: sites.ini (changed since it was installed)"
[[ -f "$drive_c/Closing/Made/Backup/whatsnew.txt" && -f "$drive_c/Closing/Made/sites.ini" ]] &&
    ok "made: Backup and the user's sites stay" || fail "made: kept items are gone"

# ---- A destination that existed before, with a Backup of the user's own holding a file of a name
# that the setup installs, installed into with nothing to replace: Backup is the user's. (A second
# run would copy the site database it keeps into Backup.)
mkdir -p "$drive_c/Closing/Before/Backup"
printf 'my own readme\r\n' >"$drive_c/Closing/Before/Backup/readme.txt"
wine_own "$drive_c/Closing"
install Before "before"
expect_kept Before "before, removed" "Kept: Backup (it was there before the installation)"
[[ "$(tr -d '\r' <"$drive_c/Closing/Before/Backup/readme.txt")" == 'my own readme' ]] &&
    ok "before: the user's Backup stays as it was" || fail "before: the user's Backup changed"

# ---- The same folder, with a changed file the next run replaces: now installations put a file
# into the user's Backup too.
rm -rf "$drive_c/Closing/Before"
mkdir -p "$drive_c/Closing/Before/Backup"
printf 'my own readme\r\n' >"$drive_c/Closing/Before/Backup/readme.txt"
wine_own "$drive_c/Closing"
install Before "before, replaced, first run"
printf 'my own news\r\n' >"$drive_c/Closing/Before/whatsnew.txt"
install Before "before, replaced, second run"
expect_kept Before "before, replaced, removed" "Kept: Backup (the files that installations replaced)"
checks_summary
