#!/usr/bin/env bash
# Interruptions at every step of a replacement and of a removal, under Wine, with the test builds
# that stop themselves at a chosen change (see fault_injection.cpp):
#     interruption_test.sh SETUP_EXE SETUP_FAULTS_EXE UNINSTALL_FAULTS_EXE TANDREL_EXE PAYLOAD_DIR
# - the setup killed at each change of a replacement: every product file is whole (the old version
#   or the new one), every old version is in place or in Backup, and the next run rolls back and
#   completes to what a clean run gives, byte for byte;
# - the setup killed twice (at every 6th change, then its rerun at each of its first changes), then
#   a third run: nothing lost at any moment, and the third run gives a clean installation;
# - a first installation into new folders killed at each point until its first file: the next run
#   completes and records every folder made, and a removal takes them all away;
# - the uninstaller killed at each step: never an entry without its uninstaller, and the next
#   removal finishes;
# - the drive filled during the run: rolled back, exit code 6, the file and the drive in the log;
# - two setups at once (the second given the folder by its short name and other spellings too), and
#   a setup with a removal: the second ends with exit code 7 and changes nothing, the first
#   completes; a setup while the removal's copy waits at its start ends with 7 (the lock passes to
#   the copy with no gap);
# - a new file that comes out short with no error: refused before it is put in place.
set -uo pipefail
setup=$1 faults=$2 uninstall_faults=$3 program=$4 payload=$5
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" interruptions || exit 1
dest_win='C:\Interrupted\App'
dest="$drive_c/Interrupted/App"
small_drive=
cleanup() {
    [[ -n "$small_drive" ]] && { umount "$small_drive"; rm -f "$prefix/dosdevices/t:"; }
    rm -rf "$drive_c/Interrupted" "$drive_c"/interrupted-*
    wine_test_done
}
trap cleanup EXIT
rm -rf "$drive_c/Interrupted" "$drive_c"/interrupted-*
cp "$faults" "$work/setup-faults.exe"
cp "$uninstall_faults" "$work/Uninstall-faults.exe"
chmod a+rx "$work"/*.exe
names=(Tandrel.exe Tandrel.hlp readme.txt sites.ini whatsnew.txt)
source_of() { [[ "$1" == Tandrel.exe ]] && echo "$program" || echo "$payload/$1"; }

run() { wine_run_limited "$@"; }  # exe args...: STATUS is its exit code (124: still running)
# The points a run reaches are logged into the prefix, where the Wine user may write.
points_log() {  # name: sets FAULT_LOG (its path here) and FAULT_LOG_WIN (the program's name for it)
    FAULT_LOG="$drive_c/interrupted-points-$1.log"
    FAULT_LOG_WIN="C:\\interrupted-points-$1.log"
    rm -f "$FAULT_LOG"
}
run_faults() {  # K exe args...: the test build, stopped at its K-th change
    local at=$1
    shift
    TANDREL_FAULT_AT=$at TANDREL_FAULT_LOG=$FAULT_LOG_WIN run "$@"
}
# The prefix's registry as files, with what the programs wrote.
entry_registered() {
    wine_wait_server "$prefix" || fail "a program was left running (named above)"
    grep -q -F 'CurrentVersion\\Uninstall\\Tandrel]' "$prefix/system.reg" "$prefix/user.reg"
}
# The tree of a folder as "<path> <sha256>" lines, folders included, for comparisons.
tree_of() {
    (cd "$1" 2>/dev/null && find . -mindepth 1 | LC_ALL=C sort | while read -r item; do
        if [[ -d "$item" ]]; then echo "$item/"; else echo "$item $(sha256sum <"$item" | cut -c1-64)"; fi
    done)
}
sha_of() { sha256sum <"$1" | cut -c1-64; }
# Whether a file with the given digest is at dest/name or anywhere in dest/Backup.
old_version_kept() {  # name digest
    [[ -f "$dest/$1" && "$(sha_of "$dest/$1")" == "$2" ]] && return 0
    local file
    while IFS= read -r -d '' file; do
        [[ "$(sha_of "$file")" == "$2" ]] && return 0
    done < <(find "$dest/Backup" -type f -print0 2>/dev/null)
    return 1
}

# ---- The installation that every run replaces: an older version of each file, recorded as
# written by an earlier run, and an older backup. Made once, copied in before each run.
run "$setup" /VERYSILENT /NOICONS "/DIR=$dest_win"
[[ "$STATUS" == 0 ]] || { fail "the first installation: exit code $STATUS"; exit 1; }
declare -A old_sha new_sha
record="$dest/Uninstall.dat"
for name in "${names[@]}"; do
    new_sha[$name]=$(sha_of "$(source_of "$name")")
    printf ' (an older version)' >>"$dest/$name"
    old_sha[$name]=$(sha_of "$dest/$name")
    size=$(stat -c %s "$dest/$name")
    sed -i -E "s/^file [0-9]+ [0-9a-f]{64} ${name//./\\.}\r\$/file $size ${old_sha[$name]} $name\r/" "$record"
done
mkdir -p "$dest/Backup"
printf 'the oldest readme' >"$dest/Backup/readme.txt"
wine_own "$drive_c/Interrupted"
rm -rf "$work/before"
cp -a "$dest" "$work/before"
restore() {
    rm -rf "$dest"
    cp -a "$work/before" "$dest"
}

# A clean replacement, for comparison; and a second run after it, which is what the next run makes
# of a run killed after it had completed.
restore
run "$setup" /VERYSILENT /NOICONS "/DIR=$dest_win"
[[ "$STATUS" == 0 ]] && ok "clean run" || fail "clean run: exit code $STATUS"
tree_of "$dest" >"$work/clean.tree"
run "$setup" /VERYSILENT /NOICONS "/DIR=$dest_win"
tree_of "$dest" >"$work/clean-twice.tree"

# The points of a replacement, counted by a run that is not stopped.
restore
points_log points
run_faults 0 "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$dest_win"
points=$(grep -c . "$FAULT_LOG" 2>/dev/null || echo 0)
cp "$FAULT_LOG" "$work/points.log" 2>/dev/null
((points >= 20)) && ok "a replacement has $points points of change" ||
    fail "a replacement has only $points points of change"
diff <(tree_of "$dest") "$work/clean.tree" >/dev/null && ok "the test build installs as the setup does" ||
    fail "the test build installs otherwise"

# Every product file in place is whole (the old version or the new one), every old version is in
# place or in Backup, and so is the oldest backup.
nothing_lost() {  # what
    local broken= name sha
    for name in "${names[@]}"; do
        if [[ -e "$dest/$name" ]]; then
            sha=$(sha_of "$dest/$name")
            [[ "$sha" == "${old_sha[$name]}" || "$sha" == "${new_sha[$name]}" ]] || broken+=" $name is neither version;"
        fi
        old_version_kept "$name" "${old_sha[$name]}" || broken+=" the old $name is gone;"
    done
    [[ -f "$dest/Backup/readme.txt" && "$(cat "$dest/Backup/readme.txt")" == "the oldest readme" ]] ||
        [[ -n "$(find "$dest/Backup" -type f -exec grep -l -x 'the oldest readme' {} + 2>/dev/null)" ]] ||
        broken+=" the oldest backup is gone;"
    [[ -z "$broken" ]] && ok "$1: nothing lost" || fail "$1:$broken"
}

# ---- Killed at each point: whole files, every old version kept, then the next run completes.
for ((k = 1; k <= points; k++)); do
    what=$(sed -n "${k}p" "$work/points.log" | cut -d' ' -f2- | tr -d '\r')
    restore
    TANDREL_FAULT_AT=$k run "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$dest_win"
    [[ "$STATUS" == 99 ]] || fail "kill $k ($what): not stopped (exit code $STATUS)"
    nothing_lost "kill $k ($what)"
    expected="$work/clean.tree"
    grep -q ' commit.\?$' "$dest/Uninstall.jnl" 2>/dev/null && expected="$work/clean-twice.tree"
    run "$setup" /VERYSILENT /NOICONS "/DIR=$dest_win" '/LOG=C:\interrupted-rerun.log'
    [[ "$STATUS" == 0 ]] || fail "kill $k ($what): the next run ended with $STATUS"
    if diff <(tree_of "$dest") "$expected" >"$work/diff" 2>&1; then
        ok "kill $k ($what): the next run gives the clean installation"
    else
        fail "kill $k ($what): the next run differs from a clean one:
$(cat "$work/diff")
$(tr -d '\r' <"$drive_c/interrupted-rerun.log" | grep -E 'Recovery|Error')"
    fi
done

# ---- A first installation into folders that do not exist yet, killed at each point until its
# first file: what it leaves is its own (the next run clears or takes it over), the next run
# completes, its record names every folder made with its identity, and a removal takes them away.
new_win='C:\Interrupted\New\Deeper\App' new_top="$drive_c/Interrupted/New"
rm -rf "$new_top"
points_log new
run_faults 0 "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$new_win"
[[ "$STATUS" == 0 ]] || fail "a new destination: exit code $STATUS"
made_points=$(tr -d '\r' <"$FAULT_LOG" | grep -n ' new$' | head -1 | cut -d: -f1)
tree_of "$new_top" | grep -v 'Uninstall\.dat ' >"$work/new.tree"
((made_points >= 5)) && ok "a new destination is made in $((made_points - 1)) points before its first file" ||
    fail "a new destination: only $made_points points before its first file"
for ((k = 1; k <= made_points; k++)); do
    rm -rf "$new_top" "$new_top.~new"
    TANDREL_FAULT_AT=$k run "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$new_win"
    [[ "$STATUS" == 99 ]] || fail "new destination, kill $k: not stopped (exit code $STATUS)"
    run "$setup" /VERYSILENT /NOICONS "/DIR=$new_win"
    [[ "$STATUS" == 0 ]] || fail "new destination, kill $k: the next run ended with $STATUS"
    left=$(ls -A "$drive_c/Interrupted" | grep -v -x -e App -e New)
    [[ -z "$left" ]] || fail "new destination, kill $k: left beside it: $left"
    if ! diff <(tree_of "$new_top" | grep -v 'Uninstall\.dat ') "$work/new.tree" >"$work/diff"; then
        fail "new destination, kill $k: the next run differs from a clean one: $(cat "$work/diff")"
    elif ! tr -d '\r' <"$new_top/Deeper/App/Uninstall.dat" | grep -q -x 'folder [1-9][0-9]* \.' ||
        ! tr -d '\r' <"$new_top/Deeper/App/Uninstall.dat" | grep -q -x 'parent [1-9][0-9]* C:\\Interrupted\\New' ||
        ! tr -d '\r' <"$new_top/Deeper/App/Uninstall.dat" | grep -q -x 'parent [1-9][0-9]* C:\\Interrupted\\New\\Deeper'; then
        fail "new destination, kill $k: the record does not name the folders made: $(tr -d '\r' <"$new_top/Deeper/App/Uninstall.dat" | grep -E '^(folder|parent)')"
    else
        ok "new destination, kill $k: the next run completes and records every folder made"
    fi
done
run "$new_top/Deeper/App/Uninstall.exe" /VERYSILENT
for _ in $(seq 1 100); do [[ -e "$new_top" ]] || break; sleep 0.1; done
[[ ! -e "$new_top" ]] && ok "new destination: the removal takes every folder made away" ||
    fail "new destination: the removal left $(find "$new_top" | head -5)"
rm -rf "$new_top"

# ---- Killed twice (the native tests of the transaction try every pair of points; this tries a
# sample of them on the real file system): the setup killed at every 6th point, the next run killed
# at each of its first points (its roll back among them), then a third run. Nothing lost at any
# moment, and the third run ends with 0 and leaves a clean installation, no temporary file in it.
# TANDREL_KILL_TWICE=0 skips it (about 400 runs).
if [[ "${TANDREL_KILL_TWICE:-1}" == 1 ]]; then
    twice_runs=0 twice_failed=0
    declare -A second_exits=()
    for ((k = 1; k <= points; k += 6)); do
        for ((j = 1; j <= 2 * k + 2 && j <= 24; j++)); do
            restore
            TANDREL_FAULT_AT=$k run "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$dest_win"
            [[ "$STATUS" == 99 ]] || fail "kill $k: not stopped (exit code $STATUS)"
            TANDREL_FAULT_AT=$j run "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$dest_win"
            second=$STATUS
            second_exits[$second]=$((${second_exits[$second]:-0} + 1))
            nothing_lost "kill $k, then $j"
            run "$setup" /VERYSILENT /NOICONS "/DIR=$dest_win"
            twice_runs=$((twice_runs + 1))
            tree_of "$dest" >"$work/twice.tree"
            if [[ "$STATUS" != 0 ]]; then
                fail "kill $k, then $j (exit code $second): the third run ended with $STATUS
$(tail -5 "$work/last-run.log")"
            elif ! diff -q "$work/twice.tree" "$work/clean.tree" >/dev/null &&
                ! diff -q "$work/twice.tree" "$work/clean-twice.tree" >/dev/null; then
                fail "kill $k, then $j (exit code $second): the third run differs from a clean one:
$(diff "$work/twice.tree" "$work/clean.tree")"
            else
                continue
            fi
            twice_failed=$((twice_failed + 1))
        done
    done
    ok "killed twice: $twice_runs cases, $twice_failed of them not clean after the third run; the second run's exit codes: $(for code in "${!second_exits[@]}"; do printf '%s x%s ' "$code" "${second_exits[$code]}"; done)"
fi

# ---- The drive fills during the run (a small tmpfs as drive T:, filled at the first new file):
# rolled back, exit code 6, the file and the drive in the log.
small_mount="$work/small"
mkdir -p "$small_mount"
if mount -t tmpfs -o "size=4m,mode=0755" tmpfs "$small_mount" 2>/dev/null; then
    small_drive=$small_mount
    wine_own "$small_mount"
    ln -sfn "$small_mount" "$prefix/dosdevices/t:"
    cp -a "$work/before" "$small_mount/App"
    sed -i -E -e 's/^destination .*\r$/destination T:\\App\r/' -e '/^parent /d' "$small_mount/App/Uninstall.dat"
    wine_own "$small_mount/App"
    before_small=$(tree_of "$small_mount/App")
    first_new=$(tr -d '\r' <"$work/points.log" | grep -n ' new$' | head -1 | cut -d: -f1)
    TANDREL_FAULT_FILL='T:\filler' run_faults "$first_new" "$work/setup-faults.exe" /VERYSILENT /NOICONS \
        '/DIR=T:\App' '/LOG=C:\interrupted-full.log'
    [[ "$STATUS" == 6 ]] && ok "full drive: exit code 6" || fail "full drive: exit code $STATUS, expected 6"
    [[ "$(tree_of "$small_mount/App")" == "$before_small" ]] && ok "full drive: the installation as it was" ||
        fail "full drive: the installation changed"
    tr -d '\r' <"$drive_c/interrupted-full.log" | grep -q -E '^Error: Not enough disk space to expand T:\\App\\[^ ]+: the drive T: is full\.$' &&
        ok "full drive: the log names the file and the drive" ||
        fail "full drive: $(tr -d '\r' <"$drive_c/interrupted-full.log" | grep -E 'Error|Result')"
    tr -d '\r' <"$drive_c/interrupted-full.log" | grep -q '^Rolled back' && ok "full drive: the roll back is logged" ||
        fail "full drive: no roll back in the log"
else
    echo "interruptions: SKIP: full drive: a tmpfs cannot be mounted here (needs root)"
fi

# ---- The uninstaller killed at each step: never an entry without its uninstaller; the next
# removal finishes.
remove_points=0
for ((k = 1; k <= 40; k++)); do
    rm -rf "$dest"
    run "$setup" /VERYSILENT /NOICONS "/DIR=$dest_win"
    [[ "$STATUS" == 0 ]] || fail "removal at $k: the installation before it ended with $STATUS
$(tail -5 "$work/last-run.log")"
    cp "$work/Uninstall-faults.exe" "$dest/Uninstall.exe"
    points_log remove-points
    run_faults "$k" "$dest/Uninstall.exe" /VERYSILENT
    reached=$(grep -c . "$FAULT_LOG" 2>/dev/null || echo 0)
    if ((reached < k)); then
        [[ "$STATUS" == 0 ]] || fail "removal: the run without a kill ended with $STATUS after $reached point(s)
$(tail -5 "$work/last-run.log")
$(tr -d '\r' <"$FAULT_LOG" 2>/dev/null)"
        break
    fi
    remove_points=$k
    what=$(sed -n "${k}p" "$FAULT_LOG" | cut -d' ' -f2- | tr -d '\r')
    if entry_registered; then
        [[ -f "$dest/Uninstall.exe" ]] && ok "removal killed at $k ($what): the entry has its uninstaller" ||
            fail "removal killed at $k ($what): an entry without its uninstaller"
    fi
    # The removal run again, from the list of installed programs or by hand, finishes it.
    if [[ -f "$dest/Uninstall.exe" ]]; then
        run "$dest/Uninstall.exe" /VERYSILENT
        [[ "$STATUS" == 0 ]] || fail "removal killed at $k ($what): the next removal ended with $STATUS"
    fi
    entry_registered && fail "removal killed at $k ($what): the entry is still there"
    # Only a record whose uninstaller had already gone may stay (no entry names it).
    [[ -e "$dest/Tandrel.exe" || -e "$dest/sites.ini" || -e "$dest/Uninstall.exe" ]] &&
        fail "removal killed at $k ($what): files left: $(ls "$dest")"
done
((remove_points >= 10)) && ok "a removal has $remove_points points of change" ||
    fail "a removal has only $remove_points points of change"

# ---- Two at once: the second changes nothing and ends with 7; the first completes.
rm -rf "$dest"
run "$setup" /VERYSILENT /NOICONS "/DIR=$dest_win"
rm -f "$work/go"
points_log first
TANDREL_FAULT_AT=3 TANDREL_FAULT_LOG=$FAULT_LOG_WIN TANDREL_FAULT_WAIT="Z:${work//\//\\}\\go" \
    timeout 180 "$scripts/wine-run.sh" "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$dest_win" \
    '/LOG=C:\interrupted-first.log' >/dev/null 2>&1 &
first=$!
for _ in $(seq 1 600); do  # until the first waits at its third change
    (($(grep -c . "$FAULT_LOG" 2>/dev/null || echo 0) >= 3)) && break
    sleep 0.2
done
(($(grep -c . "$FAULT_LOG" 2>/dev/null || echo 0) >= 3)) ||
    fail "two at once: the first did not reach its third change in two minutes"
while_waiting=$(tree_of "$dest")
# The lock is the folder's, not its name's: the short name and other spellings meet it too.
short_win=$(wine_as_user "$prefix" wine winepath -s "$dest_win" 2>/dev/null | tr -d '\r' | tail -n 1)
[[ -n "$short_win" && "$short_win" != "$dest_win" ]] || fail "two setups: no short name for $dest_win ('$short_win')"
for spelling in "$dest_win" "$short_win" 'c:\INTERRUPTED\app\' 'C:\Interrupted\.\App'; do
    rm -f "$drive_c/interrupted-second.log"
    run "$setup" /VERYSILENT /NOICONS "/DIR=$spelling" '/LOG=C:\interrupted-second.log'
    [[ "$STATUS" == 7 ]] && ok "two setups ($spelling): the second ends with 7" ||
        fail "two setups ($spelling): the second ended with $STATUS"
    tr -d '\r' <"$drive_c/interrupted-second.log" | grep -q 'Another Tandrel setup or removal is running' &&
        ok "two setups ($spelling): the second says why" || fail "two setups ($spelling): no reason in the second's log"
done
run "$dest/Uninstall.exe" /VERYSILENT
[[ "$STATUS" == 7 ]] && ok "setup and removal: the removal ends with 7" ||
    fail "setup and removal: the removal ended with $STATUS"
now=$(tree_of "$dest")
[[ "$now" == "$while_waiting" ]] && ok "two at once: the second changed nothing" ||
    fail "two at once: the destination changed while the first waited:" \
        "$(diff <(echo "$while_waiting") <(echo "$now") | grep '^[<>]' | tr '\n' ' ')"
touch "$work/go"
chmod a+r "$work/go"
wait "$first"
first_status=$?
[[ "$first_status" == 0 ]] && ok "two at once: the first completes" || fail "two at once: the first ended with $first_status"
for name in "${names[@]}"; do
    check_same "$(source_of "$name")" "$dest/$name" "two at once: the first installed $name"
done
[[ -e "$dest/Uninstall.jnl" ]] && fail "two at once: the first left its journal"

# ---- The uninstaller hands the lock to its copy with no moment in which nobody holds it: while the
# copy waits at its very start, a setup on the folder ends with 7; then the removal completes.
rm -rf "$dest"
run "$setup" /VERYSILENT /NOICONS "/DIR=$dest_win"
cp "$work/Uninstall-faults.exe" "$dest/Uninstall.exe"
points_log handover
rm -f "$work/go"
TANDREL_FAULT_AT=1 TANDREL_FAULT_LOG=$FAULT_LOG_WIN TANDREL_FAULT_WAIT="Z:${work//\//\\}\\go" \
    timeout 180 "$scripts/wine-run.sh" "$dest/Uninstall.exe" /VERYSILENT >/dev/null 2>&1 &
remover=$!
for _ in $(seq 1 600); do
    (($(grep -c . "$FAULT_LOG" 2>/dev/null || echo 0) >= 1)) && break
    sleep 0.2
done
[[ "$(head -n 1 "$FAULT_LOG" 2>/dev/null | tr -d '\r')" == "1 the copy started" ]] && ok "hand-over: the copy waits at its start" ||
    fail "hand-over: the copy did not reach its start ('$(head -n 1 "$FAULT_LOG" 2>/dev/null)')"
run "$setup" /VERYSILENT /NOICONS "/DIR=$dest_win" '/LOG=C:\interrupted-handover.log'
[[ "$STATUS" == 7 ]] && ok "hand-over: a setup meanwhile ends with 7" || fail "hand-over: a setup meanwhile ended with $STATUS"
touch "$work/go"
chmod a+r "$work/go"
wait "$remover"
remover_status=$?
[[ "$remover_status" == 0 ]] && ok "hand-over: the removal completes" || fail "hand-over: the removal ended with $remover_status"
[[ ! -e "$dest" ]] && ok "hand-over: the installation is gone" || fail "hand-over: left $(ls -A "$dest")"
rm -f "$work/go" "$drive_c/interrupted-handover.log"

# ---- A new file that comes out short with no error (the test build drops the last byte of the
# K-th file it expands, once written): refused before the file is put in place, for every file;
# nothing is left of the new installation. With no file shortened the same build completes.
for k in $(seq 1 $((${#names[@]} + 1))); do
    rm -rf "$drive_c/Interrupted" "$drive_c/interrupted-short.log"
    TANDREL_FAULT_SHORT=$k run "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$dest_win" \
        '/LOG=C:\interrupted-short.log'
    if ((k > ${#names[@]})); then
        [[ "$STATUS" == 0 ]] && ok "no file short: installed" || fail "no file short: ended with $STATUS"
        continue
    fi
    [[ "$STATUS" == 4 ]] && ok "file $k short: refused with 4" || fail "file $k short: ended with $STATUS"
    tr -d '\r' <"$drive_c/interrupted-short.log" | grep -q -E '^Error: The file .* was not written in full' &&
        ok "file $k short: the log says so" || fail "file $k short: no reason in the log
$(tr -d '\r' <"$drive_c/interrupted-short.log")"
    [[ ! -e "$drive_c/Interrupted" ]] && ok "file $k short: nothing left" ||
        fail "file $k short: left $(cd "$drive_c/Interrupted" && find . -mindepth 1 | tr '\n' ' ')"
done

checks_summary
