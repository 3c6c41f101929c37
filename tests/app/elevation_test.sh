#!/usr/bin/env bash
# The restart through the elevation prompt, under Wine, with the test builds that see an
# administrator's limited token (TANDREL_TOKEN=limited, which Wine's own tokens never are):
#     elevation_test.sh SETUP_EXE SETUP_FAULTS_EXE UNINSTALL_FAULTS_EXE TANDREL_EXE PAYLOAD_DIR
# A run that may need the machine restarts once (the restarted run, limited as well here, does not
# restart again) and ends with the restarted run's exit code; a run for the current user alone,
# the removal of a per-user installation, and any run with Wine's full token never restart. Which
# runs restarted is read from the test builds' log of points.
set -uo pipefail
setup=$1 faults=$2 uninstall_faults=$3 program=$4 payload=$5
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" elevation || exit 1
top="$drive_c/Elevation Test"
cwd="$drive_c/elevation-cwd"
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Tandrel'
cleanup() {
    rm -rf "$top" "$cwd" "$drive_c"/elevation-*.log
    # The entries of the installations made here, which the runs after this one must not upgrade.
    for entry in "HKLM\\$key /reg:64" "HKCU\\$key"; do
        # shellcheck disable=SC2086
        if wine_reg "$prefix" query $entry /v InstallLocation | grep -q 'Elevation Test'; then
            # shellcheck disable=SC2086
            wine_as_user "$prefix" wine reg delete $entry /f >/dev/null 2>&1
        fi
    done
    # The restarts start the prefix's services, bound to this run's display: the next test starts
    # with them gone.
    wine_wait_server "$prefix"
    wine_test_done
}
trap cleanup EXIT
rm -rf "$top" "$cwd" "$drive_c"/elevation-*.log
# Made by the Wine user, as the folders that the setup makes are.
"${RUNAS[@]}" mkdir -p "$cwd"
names=(Tandrel.exe Tandrel.hlp readme.txt sites.ini whatsnew.txt)
source_of() { [[ "$1" == Tandrel.exe ]] && echo "$program" || echo "$payload/$1"; }

# The points that the test builds reach are logged into the prefix, where the Wine user may write.
POINTS="$drive_c/elevation-points.log"
POINTS_WIN='C:\elevation-points.log'
STATUS=
# Runs exe args... with a time limit; STATUS is its exit code. With TOKEN=limited, a test build sees
# the limited token.
run() {
    rm -f "$POINTS"
    TANDREL_TOKEN=${TOKEN:-} TANDREL_FAULT_LOG=$POINTS_WIN timeout 120 "$scripts/wine-run.sh" "$@" \
        >"$work/last-run.log" 2>&1
    STATUS=$?
}
restarts() { grep -c 'restart elevated' "$POINTS" 2>/dev/null; }
expect_restarts() {  # count what
    local seen
    seen=$(restarts)
    [[ "${seen:-0}" == "$1" ]] && ok "$2: restarted $1 time(s)" || fail "$2: restarted ${seen:-0} time(s), expected $1"
}
expect_status() {  # want what
    [[ "$STATUS" == "$1" ]] && ok "$2: exit code $1" || fail "$2: exit code $STATUS, expected $1
$(cat "$work/last-run.log")"
}
command_line_of() { tr -d '\r' <"$1" | sed -n 's/^Command line: //p'; }
expect_installed() {  # folder what
    for name in "${names[@]}"; do
        check_same "$(source_of "$name")" "$1/$name" "$2: $name"
    done
}

# ---- For the machine: one restart, the same switches and the restart switch, the restarted run's
# result.
TOKEN=limited run "$faults" /VERYSILENT /NOICONS '/DIR=C:\Elevation Test\Machine' \
    '/LOG=C:\elevation-machine.log'
expect_status 0 "machine"
expect_restarts 1 "machine"
expect_installed "$top/Machine" "machine"
line=$(command_line_of "$drive_c/elevation-machine.log")
[[ "$line" == *'.exe" "/VERYSILENT" "/NOICONS" "/DIR=C:\Elevation Test\Machine" "/LOG=C:\elevation-machine.log" /ELEVATED' ]] &&
    ok "machine: the restarted run has the same switches" || fail "machine: command line $line"

# /ALLUSERS restarts too; the same run with Wine's full token does not.
TOKEN=limited run "$faults" /VERYSILENT /NOICONS /ALLUSERS '/DIR=C:\Elevation Test\All' \
    '/LOG=C:\elevation-all.log'
expect_status 0 "all users"
expect_restarts 1 "all users"
tr -d '\r' <"$drive_c/elevation-all.log" | grep -q -x 'Scope: all users' && ok "all users: scope" ||
    fail "all users: no scope line"
run "$faults" /VERYSILENT /NOICONS /ALLUSERS \
    '/DIR=C:\Elevation Test\Full'
expect_status 0 "full token"
expect_restarts 0 "full token"

# A relative log is the same file for the restarted run: it starts in the same current folder.
(cd "$cwd" && TOKEN=limited run "$faults" /VERYSILENT /NOICONS \
    '/DIR=C:\Elevation Test\Relative' /LOG=relative.log && echo "$STATUS" >"$work/status")
STATUS=$(cat "$work/status")
expect_status 0 "relative log"
[[ -f "$cwd/relative.log" ]] && ok "relative log: in the current folder" ||
    fail "relative log: not in the current folder"

# The restarted run's failure is the result: the same code as the run that was not restarted.
"${RUNAS[@]}" touch "$top/file"
run "$setup" /VERYSILENT /NOICONS '/DIR=C:\Elevation Test\file\App'
expected=$STATUS
[[ "$expected" != 0 ]] || fail "a folder below a file: installed"
TOKEN=limited run "$faults" /VERYSILENT /NOICONS '/DIR=C:\Elevation Test\file\App'
expect_status "$expected" "failure"
expect_restarts 1 "failure"

# ---- Never restarted: /CURRENTUSER, a refused command line, the usage.
TOKEN=limited run "$faults" /VERYSILENT /NOICONS /CURRENTUSER '/DIR=C:\Elevation Test\User' \
    '/LOG=C:\elevation-user.log'
expect_status 0 "current user"
expect_restarts 0 "current user"
expect_installed "$top/User" "current user"
[[ "$(command_line_of "$drive_c/elevation-user.log")" != *ELEVATED* ]] && ok "current user: not restarted" ||
    fail "current user: restarted"
TOKEN=limited run "$faults" /VERYSILENT /FOO
expect_status 1 "bad command line"
expect_restarts 0 "bad command line"
TOKEN=limited run "$faults" /VERYSILENT /?
expect_status 0 "usage"
expect_restarts 0 "usage"

# ---- The uninstaller: a per-user installation is removed without a restart; the machine's
# installation restarts once and is removed by the restarted run, folder included.
cp "$uninstall_faults" "$top/User/Uninstall.exe"
TOKEN=limited run "$top/User/Uninstall.exe" /VERYSILENT
expect_status 0 "removal for the user"
expect_restarts 0 "removal for the user"
[[ -e "$top/User" ]] && fail "removal for the user: the folder is left" || ok "removal for the user: removed"
# It is started from inside the installation, as a double click on it does: the run that waits for
# the restarted one must not keep the folder as its current folder, which could then not go.
cp "$uninstall_faults" "$top/All/Uninstall.exe"
(cd "$top/All" && TOKEN=limited run "$top/All/Uninstall.exe" /VERYSILENT && echo "$STATUS" >"$work/status")
STATUS=$(cat "$work/status")
expect_status 0 "removal for the machine"
expect_restarts 1 "removal for the machine"
[[ -e "$top/All" ]] && fail "removal for the machine: the folder is left" || ok "removal for the machine: removed"

checks_summary
