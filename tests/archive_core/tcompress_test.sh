#!/bin/sh
# tcompress from the outside: pack, list and test; reproducible archives, the same for every thread
# count; refusals and failures; progress only on a terminal.
# Usage: tcompress_test.sh TCOMPRESS GOLDEN_DIR
set -u
tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
golden=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
# expect STATUS COMMAND...: runs the command, output in $work/out, and checks its exit status.
expect() {
    want=$1
    shift
    "$@" >"$work/out" 2>&1
    got=$?
    [ "$got" -eq "$want" ] || { fail "exit $got, not $want: $*"; cat "$work/out"; }
}
contains() {
    grep -q -- "$1" "$work/out" || { fail "output lacks \"$1\""; cat "$work/out"; }
}

cd "$work" || exit 1
mkdir files
cp "$golden/words.txt" files/readme.txt
cat "$golden"/*.lzh "$golden"/*.rle "$golden"/*.bin >files/mixed.bin
: >files/empty.dat
awk 'BEGIN { for (i = 0; i < 20000; i++) print "site" i " = host" (i % 97) ".example 21" }' >files/sites.ini

# Pack with a fixed epoch, list, test; the same input gives the same archive.
export SOURCE_DATE_EPOCH=881501840  # 1997-12-07 13:37:20 UTC
expect 0 "$tool" pack a.zrv files/readme.txt files/mixed.bin files/empty.dat "sub\\sites.ini=files/sites.ini"
expect 0 "$tool" list a.zrv
contains "4 entries"
contains "readme.txt .* 1466 "
contains "sub\\\\sites.ini"
contains "LZH .* 1997-12-07 13:37:20  0020  no"
expect 0 "$tool" test a.zrv
contains "all 4 entries ok"
expect 0 "$tool" pack b.zrv files/readme.txt files/mixed.bin files/empty.dat "sub\\sites.ini=files/sites.ini"
cmp -s a.zrv b.zrv || fail "two packs of the same files differ"

# Refuses to replace an archive unless asked.
cp a.zrv before.zrv
expect 1 "$tool" pack a.zrv files/readme.txt
contains "exists"
cmp -s a.zrv before.zrv || fail "an existing archive was changed without --force"
expect 0 "$tool" pack --force a.zrv files/readme.txt
expect 0 "$tool" list a.zrv
contains "1 entry"

# Every method; locked entries.
for method in NON RLE LZH; do
    expect 0 "$tool" pack --method $method m.zrv files/readme.txt files/sites.ini files/empty.dat --force
    expect 0 "$tool" test m.zrv
    expect 0 "$tool" list m.zrv
    contains "method $method"
done
expect 0 "$tool" pack --key 77 k.zrv files/readme.txt
expect 1 "$tool" test k.zrv
contains "File locked -- valid key required"
expect 1 "$tool" test --key 78 k.zrv
expect 0 "$tool" test --key 77 k.zrv
expect 0 "$tool" list k.zrv
contains "yes"

# Damage is found: a flipped byte in the coded data, a cut archive, bytes after the last entry.
cp b.zrv d.zrv
printf '\377' | dd of=d.zrv bs=1 seek=1000 conv=notrunc 2>/dev/null
expect 1 "$tool" test d.zrv
contains "FAILED"
head -c 5000 b.zrv >cut.zrv
expect 1 "$tool" test cut.zrv
cat b.zrv files/readme.txt >long.zrv
expect 1 "$tool" test long.zrv
contains "entries end at offset"
expect 1 "$tool" list files/readme.txt
contains "Can't recognize compressed file header"

# Wrong usage and unreadable input leave no archive behind.
expect 2 "$tool" pack
expect 2 "$tool" pack x.zrv
expect 2 "$tool" pack --method ZIP x.zrv files/readme.txt
expect 2 "$tool" pack --key 0 x.zrv files/readme.txt
expect 2 "$tool" frobnicate
expect 1 "$tool" pack x.zrv files/missing.txt
expect 1 "$tool" pack x.zrv files/readme.txt README.TXT=files/sites.ini
contains "two entries named"
[ ! -e x.zrv ] || fail "a failed pack left an archive"
SOURCE_DATE_EPOCH=yesterday expect 1 "$tool" pack x.zrv files/readme.txt

# Every thread count gives the same archive (files of 64 KiB and more are coded with match-finding
# threads); counts outside 1 to 16 are refused.
for threads in 1 2 3 16; do
    expect 0 "$tool" pack --force --threads $threads t$threads.zrv "$golden"/* files/readme.txt files/mixed.bin \
        files/sites.ini
done
expect 0 "$tool" pack --force -T 4 t4.zrv "$golden"/* files/readme.txt files/mixed.bin files/sites.ini
for threads in 2 3 4 16; do
    cmp -s t1.zrv t$threads.zrv || fail "--threads $threads gives another archive than --threads 1"
done
expect 0 "$tool" test t3.zrv
for bad in 0 17 two; do
    expect 2 "$tool" pack --force --threads $bad t.zrv files/readme.txt
    contains "from 1 to 16"
done
expect 2 "$tool" pack --force t.zrv files/readme.txt -T

# Too much data for the archive is refused before any file is read: here at the second of two
# sparse files that could not both be read in any reasonable time.
truncate -s 1200M files/huge1.bin
truncate -s 1200M files/huge2.bin
expect 1 "$tool" pack x.zrv files/readme.txt files/huge1.bin files/huge2.bin
contains "Archive would exceed 2147483647 bytes of expanded data at huge2.bin"
[ ! -e x.zrv ] && [ ! -e x.zrv.tmp ] || fail "a refused pack left a file"
rm -f files/huge1.bin files/huge2.bin

# Progress goes to standard error only when it is a terminal, and not with --quiet.
expect 0 "$tool" pack --force p.zrv files/sites.ini
grep -q "MB/s" "$work/out" && fail "progress shown on a file"
if command -v script >/dev/null; then
    for command in "pack --force p.zrv files/sites.ini" "test p.zrv"; do
        script -qec "$tool $command" /dev/null >"$work/out" 2>&1 || fail "$command on a terminal"
        contains "%  [0-9.]* MB/s"
        script -qec "$tool $command --quiet" /dev/null >"$work/out" 2>&1 || fail "$command --quiet on a terminal"
        grep -q "MB/s" "$work/out" && fail "progress shown with --quiet: $command"
    done
fi

# Without an epoch: the file's time in local time, and read-only files marked so.
unset SOURCE_DATE_EPOCH
touch -d "2001-02-03 04:05:06" files/readme.txt
chmod a-w files/readme.txt
expect 0 "$tool" pack t.zrv files/readme.txt
expect 0 "$tool" list t.zrv
contains "2001-02-03 04:05:06  0021"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all tcompress checks passed"
