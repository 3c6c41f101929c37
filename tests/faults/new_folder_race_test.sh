#!/usr/bin/env bash
# Two runs racing to make the same new destination, under Wine, with the test build of the setup
# that waits where it has found the destination missing and is about to make it, and where it has
# made it under a temporary name and is about to put it in place:
#     new_folder_race_test.sh SETUP_FAULTS_EXE
# - the folder made meanwhile by somebody else, at each of those points: the run ends with exit
#   code 7, says why, and changes nothing (nothing of its own is left beside it either);
# - the destination made meanwhile by a first setup that holds it (waiting at its third change): the
#   second ends with 7 and changes nothing; the first completes.
set -uo pipefail
faults=$1
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" new-folder-race || exit 1
dest_win='C:\Raced\App'
top=$drive_c/Raced
dest=$top/App
second=
first=
cleanup() {
    [[ -n "$second" ]] && kill "$second" 2>/dev/null
    [[ -n "$first" ]] && kill "$first" 2>/dev/null
    rm -rf "$top" "$drive_c"/raced-*
    wine_test_done
}
trap cleanup EXIT
rm -rf "$top" "$drive_c"/raced-*
cp "$faults" "$work/setup-faults.exe"
chmod a+rx "$work/setup-faults.exe"
points=$drive_c/raced-points.log
log_text() { tr -d '\r' <"$drive_c/$1" 2>/dev/null; }
# Every name and kind under the folder that holds the destination.
tree_of() { (cd "$top" 2>/dev/null && find . -printf '%y %p\n' | LC_ALL=C sort); }
# The second run: the test build into the new destination, waiting at its K-th point (see above);
# returns once it waits there.
start_second() {  # K
    rm -f "$work/go" "$points" "$drive_c/raced-second.log"
    TANDREL_OPEN_AT=$1 TANDREL_OPEN_LOG='C:\raced-points.log' TANDREL_FAULT_WAIT="Z:${work//\//\\}\\go" \
        timeout 180 "$scripts/wine-run.sh" "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$dest_win" \
        '/LOG=C:\raced-second.log' >/dev/null 2>&1 &
    second=$!
    wait_for_lines "$points" "$1" || fail "second at $1: the point was not reached"
}
finish_second() {  # what [building]: lets the second run go on; it must end with 7, say why and change
    # nothing; with "building", a first run is still building its chain beside the destination
    local before
    before=$(tree_of)
    touch "$work/go"
    chmod a+r "$work/go"
    wait "$second"
    STATUS=$?
    second=
    [[ "$STATUS" == 7 ]] && ok "$1: the second ends with 7" || fail "$1: the second ended with $STATUS
$(log_text raced-second.log)"
    log_text raced-second.log | grep -q -x 'Error: Another Tandrel setup or removal is running.*' &&
        ok "$1: the second says why" || fail "$1: no reason in the second's log
$(log_text raced-second.log)"
    [[ "$(tree_of)" == "$before" ]] && ok "$1: the second changed nothing" ||
        fail "$1: the folders changed: $(diff <(echo "$before") <(tree_of) | grep '^[<>]' | tr '\n' ' ')"
    [[ "${2:-}" == building || ! -e "$top.~new" ]] && ok "$1: nothing of the second is left beside" ||
        fail "$1: $top.~new is left"
}

# ---- The points: before the chain C:\Raced\App is made, and before it is put in place.
TANDREL_OPEN_LOG='C:\raced-points.log' timeout 120 "$scripts/wine-run.sh" "$work/setup-faults.exe" /VERYSILENT \
    /NOICONS "/DIR=$dest_win" >/dev/null 2>&1
[[ $? == 0 ]] || fail "without a race: not installed"
mapfile -t make_points < <(tr -d '\r' <"$points" 2>/dev/null | grep -E ' a new destination to (make|put in place)$' | cut -d' ' -f1)
((${#make_points[@]} == 2)) && ok "two points" || fail "${#make_points[@]} points, not 2"
rm -rf "$top"

# ---- The destination appears meanwhile, made by somebody else (the whole chain), at each point.
for k in "${make_points[@]}"; do
    rm -rf "$top"
    start_second "$k"
    mkdir -p "$dest"
    wine_own "$top"
    finish_second "made meanwhile, at $k"
done

# ---- A first setup makes the destination and holds it, waiting at its third change, while the
# second waits to make the chain.
rm -rf "$top"
start_second "${make_points[0]}"
first_points=$drive_c/raced-first-points.log
rm -f "$work/go-first" "$first_points"
TANDREL_FAULT_AT=3 TANDREL_FAULT_LOG='C:\raced-first-points.log' TANDREL_FAULT_WAIT="Z:${work//\//\\}\\go-first" \
    timeout 180 "$scripts/wine-run.sh" "$work/setup-faults.exe" /VERYSILENT /NOICONS "/DIR=$dest_win" \
    '/LOG=C:\raced-first.log' >/dev/null 2>&1 &
first=$!
wait_for_lines "$first_points" 3 || fail "held by a first setup: the first did not reach its third change"
[[ -d "$top.~new" ]] && ok "held by a first setup: the first is building its chain" ||
    fail "held by a first setup: the first has no chain under its temporary name"
finish_second "held by a first setup" building
touch "$work/go-first"
chmod a+r "$work/go-first"
wait "$first"
STATUS=$?
first=
[[ "$STATUS" == 0 ]] && ok "held by a first setup: the first completes" ||
    fail "held by a first setup: the first ended with $STATUS
$(log_text raced-first.log)"
[[ -f "$dest/Tandrel.exe" && -f "$dest/Uninstall.exe" ]] && ok "held by a first setup: installed" ||
    fail "held by a first setup: not installed: $(ls -A "$dest" 2>&1)"
[[ ! -e "$top.~new" ]] && ok "held by a first setup: nothing is left beside" || fail "held by a first setup: $top.~new is left"

checks_summary
