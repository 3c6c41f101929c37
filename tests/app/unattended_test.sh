#!/usr/bin/env bash
# Unattended installations of tandrel-setup.exe under Wine, checked on disk, in the log and by
# their exit codes:
#     unattended_test.sh SETUP_EXE TANDREL_EXE PAYLOAD_DIR PAYLOAD_ZRV
# Runs in $TANDREL_WINEPREFIX when set (the test run's prefix), otherwise in a prefix of its own.
# Every run has a time limit, so that a window waiting for somebody fails the test instead of
# hanging it.
set -uo pipefail
setup=$1
program=$2
payload=$3
payload_zrv=$4
scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)
source "$scripts/lib/wine.sh"
CHECK_PREFIX=unattended
source "$scripts/lib/checks.sh"

wine_init_user
work=$(mktemp -d /tmp/tandrel-unattended.XXXXXX)
chmod 755 "$work"
own_prefix=
if [[ -z "${TANDREL_WINEPREFIX:-}" || ! -d "${TANDREL_WINEPREFIX}" ]]; then
    "$scripts/wine-prefix.sh" create "$work/wine" >/dev/null || { echo "no Wine prefix" >&2; exit 1; }
    export TANDREL_WINEPREFIX=$work/wine/prefix
    own_prefix=1
fi
prefix=$TANDREL_WINEPREFIX
drive_c=$prefix/drive_c
# What the runs make in the prefix, removed before and after.
made=("$drive_c/Unattended Test" "$drive_c/Unattended Plain" "$drive_c/Unattended Bad"
    "$drive_c/unattended-blocker")
cleanup() {
    rm -rf "${made[@]}" "$drive_c"/unattended-*.log
    [[ -n "$own_prefix" ]] && "$scripts/wine-prefix.sh" destroy "$work/wine" >/dev/null 2>&1
    rm -rf "$work"
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
for lnk in "${shortcuts[@]}"; do
    target=$(lnkinfo "$lnk" 2>/dev/null | grep -m1 -E '^[[:space:]]*Local path[[:space:]]*:' |
        sed -E 's/^[^:]*:[[:space:]]?//')
    [[ "$target" == "$dest\\TANDREL.EXE" ]] && ok "fresh: shortcut $lnk" ||
        fail "fresh: shortcut $lnk points at '$target'"
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
# Backup), every replaced file moved into Backup.
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
    check_same "$(source_of "$name")" "$installed/Backup/$name" "again: the replaced $name in Backup"
done
expect_log "$drive_c/unattended-2.log" "again" "Mode: silent" \
    "Tandrel.exe: moved to Backup, written" "readme.txt: moved to Backup, written" \
    "sites.ini: kept, copied to Backup" "Result: installed (exit code 0)"

# ---- /NOBACKUP and /NOICONS: replaced files deleted, no Backup folder, no shortcut.
remove_shortcuts
plain="$drive_c/Unattended Plain"
mkdir -p "$plain"
printf 'old readme' >"$plain/readme.txt"
printf 'old sites' >"$plain/sites.ini"
chmod -R a+rwX "$plain"
run_setup "$setup" /VERYSILENT /NOBACKUP /NOICONS '/DIR=C:\Unattended Plain' '/LOG=C:\unattended-3.log'
expect_status 0 "/NOBACKUP /NOICONS"
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

# ---- Bad command lines: exit code 1 at once, no window under /VERYSILENT, nothing made, not even
# the log (an existing one is left as it is). Without /VERYSILENT a message box says why: see
# tests/lifecycle/safety_test.sh.
printf 'an earlier log\r\n' >"$drive_c/unattended-bad.log"
chmod a+rw "$drive_c/unattended-bad.log"
cp "$drive_c/unattended-bad.log" "$work/earlier.log"
for args in "/VERYSILENT /FOO" "/VERYSILENT /DIR" "/VERYSILENT /LOG=" "/VERYSILENT /DIR=relative"; do
    read -r -a argv <<<"$args"
    run_setup "$setup" '/DIR=C:\Unattended Bad' '/LOG=C:\unattended-bad.log' "${argv[@]}"
    expect_status 1 "$args"
    [[ -e "$drive_c/Unattended Bad" ]] && fail "$args: the destination was made"
    check_same "$work/earlier.log" "$drive_c/unattended-bad.log" "$args: the log untouched"
done
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
    "Error: Bad checksum during expansion -- data may be invalid." "Result: failed (exit code 4)"
log_lines "$drive_c/unattended-4.log" | grep -q ': written$' && fail "damaged: an entry was written"

# ---- A destination that cannot be made (a file stands where a folder must go): exit code 4.
printf 'in the way' >"$drive_c/unattended-blocker"
chmod a+r "$drive_c/unattended-blocker"
run_setup "$setup" /VERYSILENT '/DIR=C:\unattended-blocker\App' '/LOG=C:\unattended-5.log'
expect_status 4 "unwritable"
[[ -f "$drive_c/unattended-blocker" && "$(cat "$drive_c/unattended-blocker")" == "in the way" ]] &&
    ok "unwritable: the file in the way untouched" || fail "unwritable: the file in the way changed"
expect_log "$drive_c/unattended-5.log" "unwritable" "Result: failed (exit code 4)"

if ((FAILURES > 0)); then
    echo "unattended: $FAILURES check(s) failed"
    exit 1
fi
echo "unattended: all checks passed"
