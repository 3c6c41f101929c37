#!/usr/bin/env bash
# Runs a Windows program under Wine and exits with its exit code:
#     scripts/wine-run.sh PROGRAM.exe [ARGS...]
# The prefix is $TANDREL_WINEPREFIX when set (made by scripts/wine-prefix.sh, shared by a whole test
# run); otherwise a fresh one is made for this run and removed afterwards. Without a display, a
# virtual one (Xvfb) is started for the run. GUI programs appear in Wine's 1024x768 virtual desktop.
# With TANDREL_RUN_LIMIT=SECONDS the program itself is killed once they have passed (exit code 124):
# a signal to this script would not reach it, and a hung program would hold whatever reads its
# output for ever.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/lib/wine.sh"

if (($# < 1)); then
    echo "usage: wine-run.sh PROGRAM.exe [ARGS...]" >&2
    exit 2
fi
program=$1
shift

wine_init_user
own_prefix=
if [[ -n "${TANDREL_WINEPREFIX:-}" && -d "${TANDREL_WINEPREFIX}" ]]; then
    prefix=$TANDREL_WINEPREFIX
else
    own_prefix=$(mktemp -d /tmp/tandrel-wine.XXXXXX)
    chmod 755 "$own_prefix"
    prefix=$own_prefix/prefix
    wine_make_prefix "$prefix"
fi

cleanup() {
    if [[ -n "$own_prefix" ]]; then
        wine_stop_prefix "$prefix"
        rm -rf "$own_prefix"
    fi
    display_stop
}
trap cleanup EXIT
display_ensure || exit 1

# The Wine user may not be able to read the build tree (a clone under /root, say): run a copy.
if ! "${RUNAS[@]}" test -r "$program"; then
    copy_dir=$(dirname "$prefix")/bin
    mkdir -p "$copy_dir"
    cp "$program" "$copy_dir/"
    chmod -R a+rX "$copy_dir"
    program=$copy_dir/$(basename "$program")
fi
if ! "${RUNAS[@]}" test -x "$PWD"; then
    cd "$(dirname "$prefix")"
fi

if [[ -n "${TANDREL_RUN_LIMIT:-}" ]]; then
    wine_as_user "$prefix" timeout -k 5 "$TANDREL_RUN_LIMIT" wine "$program" "$@"
else
    wine_as_user "$prefix" wine "$program" "$@"
fi
status=$?
exit $status
