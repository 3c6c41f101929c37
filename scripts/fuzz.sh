#!/usr/bin/env bash
# Runs each fuzz target of the portable core for a bounded time under ASan and UBSan.
#
#   scripts/fuzz.sh [TARGET...]      (default: every target)
#   FUZZ_SECONDS=45                  seconds per target
#   FUZZ_JOBS=2                      targets fuzzed at the same time (one core each)
#
# Configures and builds the native-asan preset's fuzzers first. Each target starts from a fresh
# temporary corpus seeded with fuzz/corpus/<target>; a crash leaves its input in build/fuzz-crashes/
# and makes the script exit non-zero.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-45}
parallel=${FUZZ_JOBS:-2}
build=$root/build/native-asan
crashes=$root/build/fuzz-crashes
# Configured each time, so that the list of every target (written by fuzz/CMakeLists.txt) is current.
(cd "$root" && cmake --preset native-asan >/dev/null)
targets=${*:-$(cat "$build/fuzz/targets.txt")}
# Always bring the fuzzers up to date with the sources (cheap when nothing changed).
(cd "$root" && cmake --build "$build" -j2 --target $(for t in $targets; do printf 'fuzz_%s ' "$t"; done) >/dev/null)

mkdir -p "$crashes"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One target: its verdict in $work/<target>.out, its exit status in $work/<target>.status.
fuzz_one() {
    local target=$1 corpus=$work/$1 status=0
    mkdir -p "$corpus"
    cp "$root/fuzz/corpus/$target/"* "$corpus/"
    "$build/fuzz/fuzz_$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=16384 -artifact_prefix="$crashes/$target-" -print_final_stats=1 >"$work/$target.log" 2>&1 ||
        status=$?
    {
        echo "== $target: ${seconds}s"
        if ((status != 0)); then
            echo "!! $target failed; log follows, inputs in $crashes"
            tail -n 60 "$work/$target.log"
        else
            grep -E "^(stat::number_of_executed_units|Done)" "$work/$target.log" || true
        fi
    } >"$work/$target.out"
    echo "$status" >"$work/$target.status"
}
for target in $targets; do
    while (($(jobs -rp | wc -l) >= parallel)); do
        wait -n || true
    done
    fuzz_one "$target" &
done
wait
status=0
for target in $targets; do
    cat "$work/$target.out"
    [[ "$(cat "$work/$target.status" 2>/dev/null)" == 0 ]] || status=1
done
exit $status
