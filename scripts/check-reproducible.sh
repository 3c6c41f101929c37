#!/usr/bin/env bash
# Builds the Windows programs a second time from a copy of the sources in another folder, with
# another build folder and its own host tcompress, and compares what ships byte for byte with the
# first build (by default build/windows of this checkout, unsigned):
#     scripts/check-reproducible.sh [FIRST_BUILD_DIR]
# Prints one line per file and exits non-zero when any differs. KEEP=1 keeps the second folder.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
first=$(cd "${1:-$root/build/windows}" && pwd) || exit 1
if ! grep -q -x 'set(SIGNED OFF)' "$first/signing-identity.cmake" 2>/dev/null; then
    echo "check-reproducible: $first is not an unsigned Windows build" >&2
    exit 1
fi

second=$(mktemp -d /tmp/tandrel-reproducible.XXXXXX)
[[ -n "${KEEP:-}" ]] || trap 'rm -rf "$second"' EXIT
# The sources as committed plus the changes in the working tree: the files git knows, copied.
mkdir -p "$second/elsewhere/sources"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 tar -cf - --no-recursion) | tar -xf - -C "$second/elsewhere/sources" || exit 1
echo "check-reproducible: building in $second/elsewhere/out (sources copied beside it)"
sources=$second/elsewhere/sources
if ! { cmake -S "$sources" -B "$second/elsewhere/out" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$sources/cmake/toolchain-mingw-x86_64.cmake" \
    -DTANDREL_WINGET_SCHEMAS="$sources/third_party/winget-schema-1.10.0" &&
    cmake --build "$second/elsewhere/out" -j2 --target tandrel-setup tcompress; } >"$second/build.log" 2>&1; then
    tail -40 "$second/build.log"
    echo "check-reproducible: the second build failed" >&2
    exit 1
fi

different=0
for name in src/app/tandrel-setup.exe shipped/Uninstall.exe tools/tcompress.exe tools/tandrel/Tandrel.exe \
    payload.zrv payload.sha256 uninstall.zrv src/app/winget/Ornavik.Tandrel.yaml \
    src/app/winget/Ornavik.Tandrel.installer.yaml src/app/winget/Ornavik.Tandrel.locale.en-US.yaml; do
    if cmp -s "$first/$name" "$second/elsewhere/out/$name"; then
        echo "same:      $name ($(sha256sum <"$first/$name" | cut -c1-16)...)"
    else
        echo "DIFFERENT: $name"
        different=1
    fi
done
exit $different
