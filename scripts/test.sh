#!/usr/bin/env bash
# Builds and runs every test of the project:
#   1. native: the formatting and include-circle checks, the portable core's unit tests and the fuzz
#      corpus replays (GoogleTest, ctest);
#   2. sanitizers: the same under ASan/UBSan (clang), then each fuzzer for a bounded time (beside
#      the Wine runs of stages 3 and 4, at the lowest priority);
#   3. Windows: every Windows test executable under Wine (one shared fresh prefix, 120 DPI; the
#      signed build's test in a prefix of its own, beside the others);
#   4. end to end: tandrel-setup.exe under Xvfb + Wine, driven with real input: the main window's
#      states, then five runs of scripts/e2e.sh (three installations, a damaged copy, a silent one),
#      then scripts/a11y.sh (a keyboard-only installation and removal read as a screen reader reads it);
#   5. reproducible (not run by default, about five minutes): scripts/check-reproducible.sh builds
#      the shipped programs again in another folder and compares them with the Windows build.
# Installs what is missing first (scripts/bootstrap.sh). Exits non-zero when anything fails.
#   FUZZ_SECONDS   seconds per fuzzer (default 45)
#   TANDREL_STAGES stages to run, default "native sanitize windows e2e"
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
source scripts/lib/wine.sh

scripts/bootstrap.sh || exit 1
stages=${TANDREL_STAGES:-native sanitize windows e2e}
passed=0
failed=0
failures=()
log_dir=$root/build/test-logs
mkdir -p "$log_dir"

# Adds the counts of a ctest log ("N% tests passed, F tests failed out of T") to the totals.
count_ctest() {
    local log=$1 line total fail
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [[ -z "$line" ]]; then
        failed=$((failed + 1))
        return
    fi
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    fail=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - fail))
    failed=$((failed + fail))
}

# Runs a stage step; a failing step is remembered and the next stage still runs.
step() {
    local name=$1
    shift
    echo "==> $name (at $(date +%T))"
    if ! "$@"; then
        echo "==> $name FAILED (at $(date +%T))"
        failures+=("$name")
        return 1
    fi
}
# A step that is a test of its own: counted as passed or failed.
counted_step() {
    if step "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
}

has_stage() { [[ " $stages " == *" $1 "* ]]; }

if has_stage native || has_stage windows || has_stage e2e || has_stage reproducible; then
    step "native build" bash -c 'cmake --preset native >/dev/null && cmake --build --preset native' || true
fi
if has_stage native; then
    counted_step "format check" scripts/check-format.sh
    counted_step "include circles" scripts/check-include-circles.sh
    ctest --preset native 2>&1 | tee "$log_dir/native.log"
    count_ctest "$log_dir/native.log"
fi

fuzz_ready=
if has_stage sanitize; then
    if step "sanitizer build" bash -c 'cmake --preset native-asan >/dev/null && cmake --build --preset native-asan'; then
        ctest --preset native-asan 2>&1 | tee "$log_dir/native-asan.log"
        count_ctest "$log_dir/native-asan.log"
        fuzz_ready=1
    else
        failed=$((failed + 1))
    fi
fi

if has_stage windows || has_stage e2e || has_stage reproducible; then
    step "windows build" bash -c 'cmake --preset windows >/dev/null && cmake --build --preset windows' || true
fi
# The Windows tests and the end-to-end runs drive Wine in prefixes and on displays of their own and
# spend much of their time waiting for windows and processes: they run side by side. The tests
# labelled own-prefix (the signed build, mostly compiling) run beside the others in prefixes of
# their own, at a lower priority; the rest share one prefix, one after another.
# Every test has a limit of its own; these bound a whole stage besides, so that a program that
# escaped a test's end (a Wine process that no signal to the test reaches, holding its output)
# makes the run fail instead of keeping it waiting: a stage cut short prints no summary and counts
# as failed.
stage_limit=2700
script_limit=1200
windows_pid=
if has_stage windows; then
    (
        display_ensure
        TANDREL_WINEPREFIX= nice -n 10 timeout -k 60 "$stage_limit" ctest --preset windows -L own-prefix \
            >"$log_dir/windows-own.log" 2>&1 &
        own_pid=$!
        wine_dir=$(mktemp -d /tmp/tandrel-test-wine.XXXXXX)
        if scripts/wine-prefix.sh create "$wine_dir" >/dev/null; then
            TANDREL_WINEPREFIX=$wine_dir/prefix timeout -k 60 "$stage_limit" ctest --preset windows -LE own-prefix \
                >"$log_dir/windows.log" 2>&1
            echo "windows tests ended at $(date +%T)" >>"$log_dir/windows.log"
        else
            echo "no Wine prefix" >"$log_dir/windows.log"
        fi
        scripts/wine-prefix.sh destroy "$wine_dir" >/dev/null 2>&1
        wait "$own_pid"
        echo "windows tests in prefixes of their own ended at $(date +%T)" >>"$log_dir/windows-own.log"
        display_stop
    ) &
    windows_pid=$!
    echo "==> windows tests (under Wine, beside the end-to-end runs; logs: $log_dir/windows*.log)"
    sleep 10  # its display first, so that the end-to-end runs take the next one
fi
# The fuzzers are bounded by time, not by work: they run beside the Wine runs at the lowest
# priority and take the processor time that those leave while they wait.
fuzz_pid=
if [[ -n "$fuzz_ready" ]]; then
    echo "==> fuzzing (at $(date +%T), beside the Wine runs; log: $log_dir/fuzz.log)"
    nice -n 19 scripts/fuzz.sh >"$log_dir/fuzz.log" 2>&1 &
    fuzz_pid=$!
fi

if has_stage e2e; then
    # The main window's own states (close confirmation by every way), then whole installations.
    for script in screenshot-main e2e a11y; do
        counted_step "$script" timeout -k 30 "$script_limit" "scripts/$script.sh"
    done
fi

fuzz_results() {  # waits for the fuzzers, shows their log; fails when one failed
    local status=0
    wait "$fuzz_pid" || status=$?
    cat "$log_dir/fuzz.log"
    return $status
}
if [[ -n "$fuzz_pid" ]]; then
    counted_step "fuzzing results" fuzz_results
fi

if [[ -n "$windows_pid" ]]; then
    wait "$windows_pid"
    for log in "$log_dir/windows.log" "$log_dir/windows-own.log"; do
        cat "$log"
        count_ctest "$log"
    done
fi

if has_stage reproducible; then
    counted_step "reproducible" scripts/check-reproducible.sh
fi

echo
if ((${#failures[@]} > 0)); then
    echo "failed steps: ${failures[*]}"
fi
echo "$passed passed, $failed failed (ended at $(date +%T))"
((failed == 0 && ${#failures[@]} == 0))
