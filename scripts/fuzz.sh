#!/bin/sh
# Runs each fuzz target of the portable core for a bounded time under ASan and UBSan.
#
#   scripts/fuzz.sh [TARGET...]      (default: every target)
#   FUZZ_SECONDS=45                  seconds per target
#
# Builds the native-asan preset first when its fuzzers are missing. Each target starts from a fresh
# temporary corpus seeded with fuzz/corpus/<target>; a crash leaves its input in build/fuzz-crashes/
# and makes the script exit non-zero.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-45}
build=$root/build/native-asan
crashes=$root/build/fuzz-crashes
targets=${*:-archive_reader archive_component rle_decode lzh_decode roundtrip command_line install_record}

missing=
for target in $targets; do
    [ -x "$build/fuzz/fuzz_$target" ] || missing=1
done
if [ -n "$missing" ]; then
    (cd "$root" && cmake --preset native-asan >/dev/null)
fi
# Always bring the fuzzers up to date with the sources (cheap when nothing changed).
(cd "$root" && cmake --build "$build" -j2 --target $(for t in $targets; do printf 'fuzz_%s ' "$t"; done) >/dev/null)

mkdir -p "$crashes"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in $targets; do
    corpus=$work/$target
    mkdir -p "$corpus"
    cp "$root/fuzz/corpus/$target/"* "$corpus/"
    echo "== $target: ${seconds}s"
    if ! "$build/fuzz/fuzz_$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=16384 -artifact_prefix="$crashes/$target-" -print_final_stats=1 >"$work/$target.log" 2>&1; then
        echo "!! $target failed; log follows, inputs in $crashes"
        tail -n 60 "$work/$target.log"
        status=1
    else
        grep -E "^(stat::number_of_executed_units|Done)" "$work/$target.log" || true
    fi
done
exit $status
