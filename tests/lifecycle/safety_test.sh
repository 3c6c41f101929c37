#!/usr/bin/env bash
# What the setup does for the safety of an elevated run, under Wine:
#     safety_test.sh SETUP_EXE MPR_DLL VERSION_DLL LAUNCH_EXE
# - libraries planted beside the setup (mpr.dll, version.dll, native copies preferred) are not
#   loaded into an unattended run, nor, planted beside the uninstaller it installed, into a very
#   silent removal; control characters in its command line stay in one log line;
# - command lines that once bent the run (a full-width quotation mark, a relative, a 5,000- and a
#   12,000-folder-deep /DIR, a control character) are refused with exit code 1, nothing touched;
# - words that are not switches are ignored: started with a dropped file, or by a launcher that
#   passes the setup's own path unquoted from a folder with a blank, the main window appears;
# - a bad switch without /VERYSILENT shows its reason in a message box.
# Runs in $TANDREL_WINEPREFIX when set, otherwise in a prefix of its own. Every run has a time limit.
set -uo pipefail
setup=$1 mpr=$2 version=$3 launch=$4
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" safety || exit 1
bin="$drive_c/Tandrel Setup Files"
tools="$drive_c/safety-launch"
made=("$bin" "$tools" "$drive_c/Safety Dest" "$drive_c/Safety Deep" "$drive_c/safety-cwd" "$drive_c"/safety-*.log)
cleanup() {
    rm -rf "${made[@]}" "$drive_c"/safety-*.log
    display_stop
    wine_test_done
}
trap cleanup EXIT
rm -rf "${made[@]}"
display_ensure || exit 1

# The setup, the planted libraries and the launcher in a folder with a blank, as a Downloads folder
# could hold them; a folder to start from.
mkdir -p "$bin" "$tools" "$drive_c/safety-cwd"
cp "$setup" "$bin/tandrel-setup.exe"
cp "$mpr" "$bin/mpr.dll"
cp "$version" "$bin/version.dll"
# The launcher lives elsewhere: it imports user32 the ordinary way, and under Wine that loads
# version.dll from the launcher's own folder.
cp "$launch" "$tools/launch.exe"
printf 'an earlier log\r\n' >"$drive_c/safety-victim.log"
cp "$drive_c/safety-victim.log" "$work/victim.log"
chmod -R a+rwX "$bin" "$tools" "$drive_c/safety-cwd" "$drive_c/safety-victim.log"
exe='C:\Tandrel Setup Files\tandrel-setup.exe'

OUTPUT=
STATUS=
# Runs launch.exe in the prefix from C:\safety-cwd with the given arguments (and WINEDLLOVERRIDES
# $overrides); OUTPUT is what it printed, STATUS its exit code.
overrides="mscoree,mshtml="
launch() {
    OUTPUT=$(cd "$drive_c/safety-cwd" && timeout 120 "${RUNAS[@]}" env WINEPREFIX="$prefix" WINEDEBUG=-all \
        WINEDLLOVERRIDES="$overrides" DISPLAY="$DISPLAY" HOME="$(wine_user_home)" \
        wine 'C:\safety-launch\launch.exe' "$@" 2>"$work/launch.err" | tr -d '\r')
    STATUS=$?
}
refused() {  # what command-line...: exit code 1, no destination, the log untouched
    local what=$1
    shift
    launch 60 "$@"
    [[ "$STATUS" == 1 ]] && ok "$what: exit code 1" || fail "$what: exit code $STATUS, expected 1"
    [[ -e "$drive_c/Safety Dest" || -e "$drive_c/Safety Deep" ]] && fail "$what: a destination was made"
    [[ -n "$(ls -A "$drive_c/safety-cwd")" ]] && fail "$what: something was made in the current folder"
    check_same "$work/victim.log" "$drive_c/safety-victim.log" "$what: the existing log untouched"
    rm -rf "$drive_c/Safety Dest" "$drive_c/Safety Deep" "$drive_c/safety-cwd"/*
}

# ---- Planted libraries, native copies preferred: none is loaded. A line feed in an ignored word
# stays in the log's command line, escaped.
overrides="mscoree,mshtml=;mpr,version=n,b"
launch 120 "\"$exe\" /VERYSILENT /NOICONS \"/DIR=C:\\Safety Dest\" /LOG=C:\\safety-run.log \"x\\u{000A}Result: installed\""
overrides="mscoree,mshtml="
[[ "$STATUS" == 0 ]] && ok "planted libraries: exit code 0" || fail "planted libraries: exit code $STATUS"
for library in mpr version; do
    [[ -e "$bin/$library.dll.loaded" ]] && fail "planted libraries: $library.dll was loaded" ||
        ok "planted libraries: $library.dll not loaded"
done
[[ -f "$drive_c/Safety Dest/Tandrel.exe" ]] || fail "planted libraries: nothing installed"
if [[ -f "$drive_c/safety-run.log" ]]; then
    results=$(tr -d '\r' <"$drive_c/safety-run.log" | grep -c '^Result:')
    [[ "$results" == 1 ]] && ok "control character: one Result line" || fail "control character: $results Result lines"
    tr -d '\r' <"$drive_c/safety-run.log" | grep -q -F 'x\x0AResult: installed' &&
        ok "control character: escaped in the log" || fail "control character: not escaped in the log"
else
    fail "planted libraries: no log"
fi
# The same libraries beside the installed uninstaller: its removal loads neither, in the program
# started there or in the copy that it runs from the temporary folder.
dest="$drive_c/Safety Dest"
if [[ -f "$dest/Uninstall.exe" ]]; then
    cp "$mpr" "$dest/mpr.dll"
    cp "$version" "$dest/version.dll"
    chmod a+r "$dest"/*.dll
    overrides="mscoree,mshtml=;mpr,version=n,b"
    launch 120 "\"C:\\Safety Dest\\Uninstall.exe\" /VERYSILENT"
    overrides="mscoree,mshtml="
    [[ "$STATUS" == 0 ]] && ok "planted libraries, removal: exit code 0" ||
        fail "planted libraries, removal: exit code $STATUS"
    for library in mpr version; do
        [[ -e "$dest/$library.dll.loaded" ]] && fail "planted libraries, removal: $library.dll was loaded" ||
            ok "planted libraries, removal: $library.dll not loaded"
    done
    [[ -f "$dest/Tandrel.exe" ]] && fail "planted libraries, removal: nothing removed"
else
    fail "planted libraries: no uninstaller installed"
fi
rm -rf "$dest"

# ---- Command lines that once bent the run: refused, nothing touched.
refused "full-width quotation mark" \
    "\"$exe\" /VERYSILENT \"/DIR=C:\\Safety Dest\\u{FF02} /NOBACKUP /LOG=C:\\safety-victim.log\\u{FF02}\""
refused "full-width quotation mark, unquoted" \
    "\"$exe\" /VERYSILENT /DIR=C:\\Safety\\u{FF02}Dest /LOG=C:\\safety-victim.log"
# An unknown switch after /LOG=: refused, nothing installed; the log says why and nothing more.
launch 60 "\"$exe\" /VERYSILENT /LOG=C:\\safety-unknown.log /FOO"
[[ "$STATUS" == 1 ]] && ok "unknown switch after /LOG=: exit code 1" ||
    fail "unknown switch after /LOG=: exit code $STATUS, expected 1"
[[ -n "$(ls -A "$drive_c/safety-cwd")" ]] && fail "unknown switch after /LOG=: something was made"
[[ "$(tr -d '\r' <"$drive_c/safety-unknown.log" 2>/dev/null | grep -c -E '^(Error|Result|Destination):')" == 2 ]] &&
    tr -d '\r' <"$drive_c/safety-unknown.log" | grep -q -x 'Error: Unknown switch /FOO' &&
    ok "unknown switch after /LOG=: the refusal logged" || fail "unknown switch after /LOG=: not logged as refused"
rm -f "$drive_c/safety-unknown.log"
refused "relative /DIR" "\"$exe\" /VERYSILENT /DIR=Tandrel /LOG=C:\\safety-victim.log"
refused "control character in /DIR" \
    "\"$exe\" /VERYSILENT \"/DIR=C:\\Safety Dest\\u{000A}x\" /LOG=C:\\safety-victim.log"
for depth in 5000 12000; do
    deep=$(printf '\\a%.0s' $(seq "$depth"))
    refused "/DIR $depth folders deep" "\"$exe\" /VERYSILENT \"/DIR=C:\\Safety Deep$deep\" /LOG=C:\\safety-victim.log"
done

# ---- Words that are not switches: the main window appears (the launcher ends it).
shown() {  # what command-line [launcher options...]
    launch --window "${@:3}" 60 "$2"
    if [[ "$STATUS" == 0 && "$OUTPUT" != "#32770|"* ]]; then
        ok "$1: the main window appears ($OUTPUT)"
    else
        fail "$1: no main window (launcher exit code $STATUS, $OUTPUT)"
    fi
}
shown "dropped file" "\"$exe\" \"C:\\some\\file.txt\""
shown "own path unquoted" "$exe" --app "$exe"

# ---- A bad switch without /VERYSILENT: a message box says why.
launch --window 60 "\"$exe\" /FOO"
[[ "$STATUS" == 0 && "$OUTPUT" == "#32770|Setup" ]] && ok "bad switch: message box" ||
    fail "bad switch: no message box (launcher exit code $STATUS, $OUTPUT)"
check_same "$work/victim.log" "$drive_c/safety-victim.log" "bad switch: the existing log untouched"

if ((FAILURES > 0)); then
    echo "safety: $FAILURES check(s) failed"
    exit 1
fi
echo "safety: all checks passed"
