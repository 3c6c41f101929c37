#!/usr/bin/env bash
# Reads the import tables of Windows executables and fails on any library that the system does not
# always load from its own folder:
#     scripts/check-imports.sh PROGRAM.exe...        (OBJDUMP: the MinGW objdump to use)
# Windows looks for any other imported library first in the program's own folder, so a copy placed
# beside a setup in a Downloads folder would run with the setup's rights. Allowed are the libraries
# on the KnownDLLs list of every supported Windows version (their copies elsewhere are never used)
# and the API sets (api-ms-win-*, ext-ms-*), which the loader resolves itself. Anything else is
# loaded at run time from the system folder (LoadSystemLibrary).
set -uo pipefail
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
declare -A known
for name in advapi32 clbcatq combase comdlg32 coml2 gdi32 gdiplus imagehlp imm32 kernel32 kernelbase msctf \
    msvcrt normaliz nsi ntdll ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 \
    wldap32 ws2_32; do
    known[$name]=1
done
if (($# == 0)); then
    echo "usage: check-imports.sh PROGRAM.exe..." >&2
    exit 2
fi
status=0
for program in "$@"; do
    if ! dump=$("$objdump" -p "$program" 2>&1); then
        echo "FAIL $program: cannot read its headers: $dump"
        status=1
        continue
    fi
    names=$(sed -n -E 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$dump" | tr -d '\r')
    if [[ -z "$names" ]]; then
        echo "FAIL $program: no import table found"
        status=1
        continue
    fi
    bad=
    while IFS= read -r name; do
        base=$(tr '[:upper:]' '[:lower:]' <<<"${name%.[dD][lL][lL]}")
        case "$base" in
            api-ms-win-* | ext-ms-*) continue ;;
        esac
        [[ -n "${known[$base]:-}" ]] && continue
        bad+=" $name"
    done <<<"$names"
    if [[ -n "$bad" ]]; then
        echo "FAIL $(basename "$program") imports libraries outside KnownDLLs:$bad"
        status=1
    else
        echo "ok   $(basename "$program"): $(tr '\n' ' ' <<<"$names")"
    fi
done
exit $status
