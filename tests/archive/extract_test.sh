#!/usr/bin/env bash
# tcompress.exe extract under Wine, on archives packed by the host's tcompress:
#     extract_test.sh TCOMPRESS_EXE HOST_TCOMPRESS WINE_RUNNER
# A plain archive expands into the folder byte for byte; an entry named ..\evil.txt is refused (exit
# status 1, the other entries written, nothing outside the folder) unless --allow-outside is given.
set -uo pipefail
tcompress_exe=$1
host=$2
runner=$3

work=$(mktemp -d /tmp/tandrel-extract.XXXXXX)
chmod 777 "$work"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
winpath() {
    local p=${1//\//\\}
    echo "Z:$p"
}

mkdir "$work/src"
printf 'hello\r\n' >"$work/src/a.txt"
seq 1 20000 >"$work/src/b.txt"
printf 'in a folder' >"$work/src/c.txt"
printf 'evil' >"$work/src/evil.txt"
chmod -R a+r "$work/src"

"$host" pack --force "$work/good.zrv" "$work/src/a.txt" "$work/src/b.txt" "sub\\c.txt=$work/src/c.txt" >/dev/null ||
    fail "pack good.zrv"
"$host" pack --force "$work/evil.zrv" "$work/src/a.txt" "..\\evil.txt=$work/src/evil.txt" "$work/src/b.txt" \
    >/dev/null || fail "pack evil.zrv"
chmod a+r "$work"/*.zrv

# A plain archive.
"$runner" "$tcompress_exe" extract "$(winpath "$work/good.zrv")" "$(winpath "$work/out")" >"$work/good.log" 2>&1
status=$?
[[ $status -eq 0 ]] || fail "extract good.zrv: status $status: $(cat "$work/good.log")"
cmp -s "$work/src/a.txt" "$work/out/a.txt" || fail "a.txt differs"
cmp -s "$work/src/b.txt" "$work/out/b.txt" || fail "b.txt differs"
cmp -s "$work/src/c.txt" "$work/out/sub/c.txt" || fail "sub/c.txt differs"
[[ $(grep -c 'out' "$work/good.log") -ge 3 ]] || fail "no progress line per entry: $(cat "$work/good.log")"

# An entry that would land outside the folder is refused; the others are written.
"$runner" "$tcompress_exe" extract "$(winpath "$work/evil.zrv")" "$(winpath "$work/out2")" >"$work/evil.log" 2>&1
status=$?
[[ $status -eq 1 ]] || fail "extract evil.zrv: status $status, expected 1"
[[ -e "$work/evil.txt" ]] && fail "..\\evil.txt was written outside the folder"
cmp -s "$work/src/a.txt" "$work/out2/a.txt" || fail "a.txt beside the refused entry differs"
cmp -s "$work/src/b.txt" "$work/out2/b.txt" || fail "b.txt after the refused entry differs"
grep -q 'skipping' "$work/evil.log" || fail "no message for the refused entry: $(cat "$work/evil.log")"

# Unless asked for.
"$runner" "$tcompress_exe" extract --allow-outside "$(winpath "$work/evil.zrv")" "$(winpath "$work/out3")" \
    >"$work/allow.log" 2>&1
status=$?
[[ $status -eq 0 ]] || fail "extract --allow-outside: status $status: $(cat "$work/allow.log")"
cmp -s "$work/src/evil.txt" "$work/evil.txt" || fail "--allow-outside did not write ..\\evil.txt"

# Selected names only.
"$runner" "$tcompress_exe" extract "$(winpath "$work/good.zrv")" "$(winpath "$work/out4")" B.TXT >/dev/null 2>&1
status=$?
[[ $status -eq 0 ]] || fail "extract B.TXT: status $status"
[[ -e "$work/out4/b.txt" && ! -e "$work/out4/a.txt" ]] || fail "the selection was not honoured"

if ((failures > 0)); then
    exit 1
fi
echo "tcompress extract: all checks passed"
