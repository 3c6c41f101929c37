# Shared Wine and display helpers for the project's scripts. Source it; do not run it.
#
# Wine runs as an unprivileged user: as root, Wine would ignore the read-only attribute (it maps
# it to Unix permissions), so the tests could not see the behaviour of a real Windows machine.

WINE_USER=${TANDREL_WINE_USER:-tandrel}
# The project's scripts folder, whoever sources this file.
WINE_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Sets RUNAS to the command prefix that runs a program as the Wine user.
wine_init_user() {
    if [[ $(id -u) -eq 0 ]]; then
        if ! id "$WINE_USER" >/dev/null 2>&1; then
            useradd --create-home --shell /bin/bash "$WINE_USER"
        fi
        RUNAS=(runuser -u "$WINE_USER" --)
    else
        RUNAS=()
    fi
}

# Runs a command as the Wine user with the Wine environment of prefix $1.
wine_as_user() {
    local prefix=$1
    shift
    "${RUNAS[@]}" env WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        DISPLAY="${DISPLAY:-}" HOME="$(wine_user_home)" "$@"
}

wine_user_home() {
    if [[ $(id -u) -eq 0 ]]; then
        getent passwd "$WINE_USER" | cut -d: -f6
    else
        echo "$HOME"
    fi
}

# Makes a fresh prefix in directory $1 (removed first if present): 120 DPI, the virtual desktop
# 1024x768 for GUI programs, Wine's own fonts and a metric-compatible Times New Roman. A machine
# under heavy load sometimes ends the first start of a prefix before its settings are written: the
# prefix is then made again, up to three times.
wine_make_prefix() {
    local attempt
    for attempt in 1 2 3; do
        wine_make_prefix_once "$1" && return 0
        wine_stop_prefix "$1"
        ((attempt < 3)) && echo "wine.sh: making the prefix again" >&2
    done
    return 1
}
wine_make_prefix_once() {
    local prefix=$1
    local parent
    parent=$(dirname "$prefix")
    mkdir -p "$parent"
    rm -rf "$prefix"
    if [[ $(id -u) -eq 0 ]]; then
        chown "$WINE_USER" "$parent"
    fi
    wine_as_user "$prefix" wineboot -i >/dev/null 2>&1 || true
    wine_wait_server "$prefix" 300 || true
    local reg="$parent/tandrel-prefix.reg"
    cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:00000078

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts]
"LogPixels"=dword:00000078

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Times New Roman"="Liberation Serif"
REG
    chmod a+r "$reg"
    wine_as_user "$prefix" wine regedit /S "$reg" >/dev/null 2>&1 || true
    wine_wait_server "$prefix" 300 || true
    if [[ -d /usr/share/wine/fonts ]]; then
        wine_as_user "$prefix" cp -r /usr/share/wine/fonts/. "$prefix/drive_c/windows/Fonts/" || true
    fi
    # The settings are in the user hive once the server has written it out.
    if ! grep -q '"LogPixels"=dword:00000078' "$prefix/user.reg" 2>/dev/null; then
        echo "wine.sh: the prefix settings did not take in $prefix" >&2
        return 1
    fi
}

# For a test script: work, a fresh folder in /tmp named after $1 that the Wine user can read, and
# the prefix to run in: $TANDREL_WINEPREFIX when set (the test run's), else a prefix of the script's
# own made in work and exported, so that wine-run.sh uses it too. Sets work, prefix, drive_c and
# own_prefix; wine_test_done removes what it made.
wine_test_prefix() {  # name
    wine_init_user
    work=$(mktemp -d "/tmp/tandrel-$1.XXXXXX")
    chmod 755 "$work"
    own_prefix=
    if [[ -z "${TANDREL_WINEPREFIX:-}" || ! -d "${TANDREL_WINEPREFIX}" ]]; then
        "$WINE_SCRIPTS/wine-prefix.sh" create "$work/wine" >/dev/null || { echo "no Wine prefix" >&2; return 1; }
        export TANDREL_WINEPREFIX=$work/wine/prefix
        own_prefix=1
    fi
    prefix=$TANDREL_WINEPREFIX
    drive_c=$prefix/drive_c
    # The tests of a run share its prefix one after another. Programs that an earlier test left
    # running (it failed, or ran out of time) are named and stopped with the server, so that its
    # failure stays its own.
    if [[ -z "$own_prefix" && -n "$(wine_programs "$prefix")" ]]; then
        wine_stop_programs "$prefix" \
            "wine.sh: programs an earlier test left running in $prefix (now stopped):"
    fi
}
wine_test_done() {
    [[ -n "$own_prefix" ]] && "$WINE_SCRIPTS/wine-prefix.sh" destroy "$work/wine" >/dev/null 2>&1
    rm -rf "$work"
}

wine_stop_prefix() {
    local prefix=$1
    [[ -d "$prefix" ]] && wine_as_user "$prefix" wineserver -k >/dev/null 2>&1 || true
}

# Starts Xvfb on a free display when there is no display; sets DISPLAY and XVFB_PID.
XVFB_PID=
display_ensure() {
    if [[ -n "${DISPLAY:-}" ]]; then
        return 0
    fi
    # Xvfb picks a free display number itself and writes it once it accepts clients: two scripts
    # starting at the same moment never share one (the first to end would take the other's display
    # away from under its programs).
    local number_file n= i
    number_file=$(mktemp /tmp/tandrel-display.XXXXXX)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -ac -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    XVFB_PID=$!
    for i in $(seq 1 300); do
        n=$(head -n 1 "$number_file")
        [[ -n "$n" ]] && break
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$number_file"
    if [[ -z "$n" ]]; then
        echo "wine.sh: Xvfb did not start" >&2
        display_stop
        return 1
    fi
    export DISPLAY=":$n"
}

display_stop() {
    if [[ -n "$XVFB_PID" ]]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
}

# Waits for the Wine virtual desktop's window to appear (up to a minute) and focuses it, so that
# keys reach the program in it. Fails when none appears.
wine_focus_desktop() {
    local desktop= _
    for _ in $(seq 1 120); do
        desktop=$(xdotool search --name "Wine desktop" 2>/dev/null | head -n 1)
        [[ -n "$desktop" ]] && break
        sleep 0.5
    done
    [[ -n "$desktop" ]] || return 1
    xdotool windowfocus --sync "$desktop" 2>/dev/null || xdotool windowfocus "$desktop" 2>/dev/null
    return 0
}

# Waits for the Wine virtual desktop's window, gives the program time to paint, and focuses the
# desktop. Fails when none appears.
wine_wait_desktop() {
    wine_focus_desktop || return 1
    sleep 4
    wine_focus_desktop
}

# Waits up to $2 seconds (default 30) for background process $1 of this shell to end and sets
# PROCESS_STATUS to its exit status. Fails when it is still running. (Not in a subshell: only the
# process's own parent can wait for it.)
PROCESS_STATUS=
wait_process_exit() {
    local pid=$1 limit=$((${2:-30} * 2)) _
    PROCESS_STATUS=
    for _ in $(seq 1 "$limit"); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            PROCESS_STATUS=$?
            return 0
        fi
        sleep 0.5
    done
    return 1
}

# The Unix path of a folder of the Wine user's shell folders ("Programs", "SendTo") in prefix $1, as
# the programs under test see it: asked of the shell through the running Wine server
# (tests/e2e/shell_folder.exe), never read from the registry's files, which the server writes out
# when it pleases. Fails when the shell has no such folder.
WINE_SHELL_FOLDER_EXE=${TANDREL_SHELL_FOLDER_EXE:-$WINE_SCRIPTS/../build/windows/tests/e2e/shell_folder.exe}
wine_shell_folder() {  # prefix name
    local value
    value=$(TANDREL_WINEPREFIX=$1 "$WINE_SCRIPTS/wine-run.sh" "$WINE_SHELL_FOLDER_EXE" "$2" 2>/dev/null |
        tr -d '\r') || return 1
    [[ "$value" == [A-Za-z]:\\* ]] || return 1
    wine_unix_path "$1" "$value"
}

# What Wine's own reg prints for arguments $2... in prefix $1, carriage returns removed (for a key or
# value that is not there, it says so). On a busy machine a Wine start now and then prints nothing
# at all (Debian's server ends the moment its last program does, and a start may meet it as it
# ends): such a start is said on stderr and tried again (four times in all), so that a check never
# reads "no entry" from a program that did not run.
wine_reg() {  # prefix args...
    local prefix=$1 out= err attempt
    shift
    err=$(mktemp)
    for attempt in 1 2 3 4; do
        out=$(wine_as_user "$prefix" wine reg "$@" 2>"$err" | tr -d '\r')
        [[ -n "$out" ]] && break
        echo "wine.sh: reg $* printed nothing (attempt $attempt): $(tr '\n' ' ' <"$err")" >&2
        ((attempt < 4)) && sleep 1
    done
    rm -f "$err"
    [[ -n "$out" ]] && printf '%s\n' "$out"
    return 0
}

# The command lines of the programs running in prefix $1, one a line: those that were started there,
# not Wine's server, services and start-up helpers, which end on their own once no program runs.
wine_programs() {  # prefix
    local process
    for process in /proc/[0-9]*; do
        grep -q -z -x -F "WINEPREFIX=$1" "$process/environ" 2>/dev/null &&
            tr '\0' ' ' <"$process/cmdline" 2>/dev/null && echo
    done | grep -v -i -E '^(/[^ ]*/wineserver|c:\\windows\\system32\\'"\
(services|winedevice|explorer|plugplay|svchost|rpcss|conhost|wineboot|winemenubuilder)\.exe)"
    return 0
}

# Names on stderr, after the heading $2, the programs running in prefix $1, and stops them with the
# prefix's server (a signal to the script that started one does not reach what it started in turn).
wine_stop_programs() {  # prefix heading
    echo "$2" >&2
    wine_programs "$1" | sed 's/^/    /' >&2
    wine_stop_prefix "$1"
}

# Waits for the Wine server of prefix $1 to end, which it does a moment after its last program, once
# it has written the registry out. A program that a failed step left running would hold the wait
# for ever: after $2 seconds (default 90) the programs still running are named on stderr and
# stopped with the server, and the wait fails.
wine_wait_server() {  # prefix [seconds]
    local limit=${2:-90}
    wine_as_user "$1" timeout "$limit" wineserver -w && return 0
    wine_stop_programs "$1" "wine.sh: still running in $1 after $limit s (now stopped):"
    return 1
}

# A value of the uninstall entry (machine, then user) in prefix $1, asked of the running Wine server
# with its own reg; empty when there is no entry or no such value.
wine_entry_value() {  # prefix name
    local hive
    for hive in HKLM HKCU; do
        wine_reg "$1" query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tandrel" /v "$2" |
            sed -n -E "s/^[[:space:]]+$2[[:space:]]+REG_[A-Z_]+[[:space:]]+(.*)$/\\1/p"
    done | head -n 1
}

# The Unix path, in prefix $1, of the Windows path $2 on drive C.
wine_unix_path() {  # prefix path
    local rest=${2#?:\\}
    echo "$1/drive_c/${rest//\\//}"
}

# Gives what a test prepared for the programs to the Wine user. The programs, run with
# administrator rights, take an existing folder only when no other account can change it: under
# Wine, a folder of another Unix user (root) reads as one that anybody may change.
wine_own() {  # paths...
    if [[ $(id -u) -eq 0 ]]; then
        chown -R "$WINE_USER" "$@"
    fi
}
