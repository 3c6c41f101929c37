#!/usr/bin/env bash
# The uninstaller's copy of itself and what removals leave in the user's TEMP, under Wine:
#     self_copy_test.sh UNINSTALL_EXE FABRICATE_EXE EXCHANGE_EXE UNINSTALL_FAULTS_EXE
# - after two removals, nothing of the first is left in TEMP (only the current run's folder may
#   wait), and folders that are not a removal's leftovers (another file in them, a link) stay whole;
# - a leftover folder swapped for a link to an outside folder holding a removal's two files, at each
#   point where the clean-up has listed an item of it and not yet opened it (the test build of the
#   uninstaller waits there): nothing outside is removed;
# - an Uninstall.exe exchanged for another program while the uninstaller starts (20 runs, the
#   exchange tried from a later moment each time): the other program never runs as the copy; each
#   run removes the installation or refuses with exit code 1 or 4.
# Runs in $TANDREL_WINEPREFIX when set (the test run's prefix), otherwise in a prefix of its own.
set -uo pipefail
uninstaller=$1 fabricate=$2 exchange=$3 uninstall_faults=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" self-copy || exit 1
display_ensure || exit 1
temp_dir=$drive_c/users/$WINE_USER/Temp
made=("$drive_c"/Swap-* "$drive_c/stale-target" "$drive_c/impostor-ran.txt" "$drive_c/swap-impostor.exe"
    "$drive_c"/swap*.log "$drive_c/swap-go" "$temp_dir"/Tandrel-Uninstall-planted-*)
cleanup() {
    rm -rf "${made[@]}" "$drive_c"/Swap-* "$temp_dir"/Tandrel-Uninstall-planted-*
    display_stop
    wine_test_done
}
trap cleanup EXIT
rm -rf "${made[@]}"
mkdir -p "$temp_dir"

STATUS=
run() {  # exe args...: runs it with a time limit; STATUS is its exit code (124: still running)
    timeout 120 "$scripts/wine-run.sh" "$@" >"$work/last-run.log" 2>&1
    STATUS=$?
}
make_installation() {  # name: an installation in C:\<name>, recorded as the setup records one
    local dir=$drive_c/$1
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$fabricate" "$dir/Tandrel.exe"
    printf 'Read me\r\n' >"$dir/readme.txt"
    cp "$uninstaller" "$dir/Uninstall.exe"
    chown -R "$WINE_USER" "$dir"
    # A Wine start that ends with 1 before the program runs is started once more (the fabricator
    # always says why it fails).
    wine_run_limited "$fabricate" "C:\\$1"
    [[ "$STATUS" == 0 ]] || fail "$1: not recorded (exit code $STATUS): $(tr -d '\r' <"$work/last-run.log")"
}
removal_folders() { (cd "$temp_dir" && ls -d Tandrel-Uninstall-* 2>/dev/null | grep -v '^Tandrel-Uninstall-planted-'); }

# ---- Folders that look like leftovers but are not: one holding another file, one that is a link to
# a folder holding a removal's two files. And a real leftover of an earlier removal.
planted=$temp_dir/Tandrel-Uninstall-planted
mkdir -p "$planted-unknown" "$planted-old" "$drive_c/stale-target"
for f in "$planted-unknown/Uninstall.exe" "$planted-old/Uninstall.exe" "$planted-old/Uninstall-original.exe" \
    "$drive_c/stale-target/Uninstall.exe" "$drive_c/stale-target/Uninstall-original.exe"; do
    cp "$uninstaller" "$f"
done
printf 'mine\r\n' >"$planted-unknown/notes.txt"
ln -s ../../../stale-target "$planted-link"
chown -R "$WINE_USER" "$planted-unknown" "$planted-old" "$drive_c/stale-target"
chown -h "$WINE_USER" "$planted-link"
before_unknown=$(cd "$planted-unknown" && sha256sum * | sort)
before_target=$(cd "$drive_c/stale-target" && sha256sum * | sort)
before=$(removal_folders)

# ---- Two removals: the first one's folder is gone after the second.
make_installation Swap-One
run "$drive_c/Swap-One/Uninstall.exe" /VERYSILENT '/LOG=C:\swap-one.log'
[[ "$STATUS" == 0 ]] && ok "first removal: exit code 0" || fail "first removal: exit code $STATUS"
[[ -e "$drive_c/Swap-One" ]] && fail "first removal: C:\\Swap-One is still there"
[[ -e "$planted-old" ]] && fail "first removal: an earlier removal's folder is still in TEMP" ||
    ok "first removal: an earlier removal's folder is gone"
first=$(comm -13 <(echo "$before") <(removal_folders))
echo "self-copy: left by the first removal: ${first:-nothing}"
make_installation Swap-Two
run "$drive_c/Swap-Two/Uninstall.exe" /VERYSILENT '/LOG=C:\swap-two.log'
[[ "$STATUS" == 0 ]] && ok "second removal: exit code 0" || fail "second removal: exit code $STATUS"
left=0
for folder in $first; do
    [[ -e "$temp_dir/$folder" ]] && { fail "second removal: the first one's $folder is still in TEMP"; left=1; }
done
((left == 0)) && ok "second removal: nothing of the first removal left in TEMP"
after=$(comm -13 <(echo "$before") <(removal_folders))
(($(grep -c . <<<"$after") <= 1)) && ok "second removal: at most its own folder in TEMP (${after:-none})" ||
    fail "second removal: folders left in TEMP: $after"
[[ "$(cd "$planted-unknown" 2>/dev/null && sha256sum * | sort)" == "$before_unknown" ]] &&
    ok "a folder holding another file stays whole" || fail "a folder holding another file was changed"
[[ -L "$planted-link" && "$(cd "$drive_c/stale-target" && sha256sum * | sort)" == "$before_target" ]] &&
    ok "a link and what it points to stay whole" || fail "the link or what it points to was changed"

# ---- A leftover folder swapped for a link to stale-target (which holds a removal's two files) at
# each point where the clean-up has listed an item of the folder and not opened it yet: the test
# build of the uninstaller waits there, and Unix, which Wine's sharing rules do not stop, swaps the
# folder. The clean-up runs first in the uninstaller; C:\Swap-Clean holds no installation, so the
# run ends right after it.
swapped=$planted-swap
points_file=$drive_c/swap-listed.log
go=$drive_c/swap-go
mkdir -p "$drive_c/Swap-Clean"
cp "$uninstall_faults" "$drive_c/Swap-Clean/Uninstall.exe"
chown -R "$WINE_USER" "$drive_c/Swap-Clean"
make_leftover() {  # and stale-target as it was, so that each point is tried on its own
    rm -rf "$swapped" "$swapped.real"
    mkdir -p "$swapped"
    for f in "$swapped/Uninstall.exe" "$swapped/Uninstall-original.exe" "$drive_c/stale-target/Uninstall.exe" \
        "$drive_c/stale-target/Uninstall-original.exe"; do
        cp "$uninstaller" "$f"
    done
    chown -R "$WINE_USER" "$swapped" "$drive_c/stale-target"
}
make_leftover
rm -f "$points_file"
export TANDREL_LISTED_NAME='\Tandrel-Uninstall-planted-swap'
TANDREL_LISTED_LOG='C:\swap-listed.log' run "$drive_c/Swap-Clean/Uninstall.exe" /VERYSILENT
[[ -e "$swapped" ]] && fail "clean-up swap: the leftover stays without a swap"
mapfile -t listed_points < <(tr -d '\r' <"$points_file" 2>/dev/null | cut -d' ' -f1)
((${#listed_points[@]} == 3)) && ok "clean-up swap: ${#listed_points[@]} points between the listing and an opening" ||
    fail "clean-up swap: ${#listed_points[@]} points between the listing and an opening, not 3 (the folder, its two files)"
for k in "${listed_points[@]}"; do
    make_leftover
    rm -f "$points_file" "$go"
    TANDREL_LISTED_AT=$k TANDREL_LISTED_LOG='C:\swap-listed.log' TANDREL_FAULT_WAIT='C:\swap-go' \
        timeout 150 "$scripts/wine-run.sh" "$drive_c/Swap-Clean/Uninstall.exe" /VERYSILENT >"$work/swap-clean.log" 2>&1 &
    cleaner=$!
    wait_for_lines "$points_file" "$k" || fail "clean-up swap at $k: the point was not reached"
    mv -T "$swapped" "$swapped.real" && ln -s ../../../stale-target "$swapped"
    touch "$go"
    wait "$cleaner"
    [[ "$(cd "$drive_c/stale-target" && sha256sum * | sort)" == "$before_target" ]] &&
        ok "clean-up swap at $k ($(tr -d '\r' <"$points_file" | sed -n "${k}p" | cut -d' ' -f2-)): nothing outside removed" ||
        fail "clean-up swap at $k: the outside folder changed"
    rm -f "$swapped"
done
unset TANDREL_LISTED_NAME
rm -rf "$swapped" "$swapped.real" "$points_file" "$go" "$drive_c/Swap-Clean"

# ---- Uninstall.exe exchanged for another program while the uninstaller starts: from the start of
# the process on, one moment later each run, until the copy has started.
runs=20
step_ms=${SELF_COPY_STEP_MS:-100}
exchanged=0
refused=0
# Each run has a folder of its own, so that nothing one run leaves pending can reach the next.
race=
for ((i = 0; i < runs; i++)); do
    if [[ -z "$race" || ! -f "$drive_c/$race/Uninstall.dat" ]]; then
        race=Swap-Race-$i
        make_installation "$race"
    fi
    rm -f "$drive_c/$race/Uninstall.exe.genuine"
    cp "$uninstaller" "$drive_c/$race/Uninstall.exe"
    cp "$exchange" "$drive_c/swap-impostor.exe"
    chown "$WINE_USER" "$drive_c/$race/Uninstall.exe" "$drive_c/swap-impostor.exe"
    rm -f "$drive_c/swap-race.log"
    run "$exchange" --race "C:\\$race\\Uninstall.exe" 'C:\swap-impostor.exe' $((i * step_ms)) /VERYSILENT \
        '/LOG=C:\swap-race.log'
    said=$(tr -d '\r' <"$work/last-run.log" | grep -E '^(exchanged|not exchanged)' | head -1)
    grep -q '^exchanged' <<<"$said" && exchanged=$((exchanged + 1))
    case $STATUS in
    0) ;;
    1 | 4)
        refused=$((refused + 1))
        tr -d '\r' <"$drive_c/swap-race.log" 2>/dev/null | grep -q '^Error: The uninstaller could not be copied' ||
            fail "run $i: refused (exit code $STATUS) without its reason in the log: $(cat "$drive_c/swap-race.log")"
        ;;
    *) fail "run $i: exit code $STATUS ($said)" ;;
    esac
    if [[ -e "$drive_c/impostor-ran.txt" ]]; then
        fail "run $i: the exchanged program ran ($said, exit code $STATUS): $(cat "$drive_c/impostor-ran.txt")"
        rm -f "$drive_c/impostor-ran.txt"
    fi
    echo "self-copy: run $i, exchange from $((i * step_ms)) ms: $said, exit code $STATUS"
    ((STATUS == 0)) && rm -rf "${drive_c:?}/$race"
done
((FAILURES == 0)) && ok "$runs exchanges ($exchanged went through, $refused runs refused): the copy was always the genuine uninstaller"

if ((FAILURES > 0)); then
    echo "self-copy: $FAILURES check(s) failed" >&2
    exit 1
fi
echo "self-copy: all checks passed"
