#!/usr/bin/env bash
# Whole-process speed and peak memory of tcompress next to gzip and lha on the same data, in the same
# run: `tcompress pack` (with 1, 2 and 4 threads and the default) against `gzip -9`, and `tcompress
# test` against `gzip -dc` and `lha t` (an .lzh archive of the same file, made once with jlha), on
# about 8 MiB of English text and of Windows executables. Every command runs RUNS times, the peers
# interleaved; the figures are medians. A benchmark, not a test. `lha` and `jlha` come from Debian's
# lhasa and jlha-utils; without them the lha rows are left out.
#
#   bench/pack_bench.sh [TCOMPRESS]      default build/native/tools/tcompress
#   RUNS=5                               runs of each command
#   BASELINE=path/to/other/tcompress     measures that binary too, as "baseline" (an older build)
#   MEMORY_GB=1                          size of the zero-filled file whose pack's peak memory is
#                                        measured once (0 skips it)
#
# Corpus (from files on this machine; nothing is downloaded):
#   text  /usr/share/common-licenses/*, then /usr/share/doc/*/copyright, in name order, cut at 8 MiB
#   exe   the x86-64 Windows DLLs and EXEs shipped with Wine, in name order, cut at 8 MiB
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=$(realpath "${1:-$root/build/native/tools/tcompress}")
runs=${RUNS:-5}
memory_gb=${MEMORY_GB:-1}
baseline=${BASELINE:-}
[[ -x $tool ]] || { echo "no tcompress at $tool (build the native preset first)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
[[ -z $baseline || -x $baseline ]] || { echo "no baseline tcompress at $baseline" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=881505440
cores=$(nproc)
mib=$((1 << 20))

# Concatenates the files named on standard input into $1, up to 8 MiB.
gather() {
    local out=$1 file
    : >"$out"
    while IFS= read -r file; do
        (($(stat -c %s "$out") >= 8 * mib)) && break
        cat "$file" >>"$out"
    done
    truncate -s "$((8 * mib))" "$out"
}
{
    find /usr/share/common-licenses -maxdepth 1 -type f ! -name '.*' | sort
    find /usr/share/doc -mindepth 2 -maxdepth 2 -name copyright -type f | sort
} | gather "$work/text"
find /usr/lib/x86_64-linux-gnu/wine/x86_64-windows -maxdepth 1 -type f \( -name '*.dll' -o -name '*.exe' \) |
    sort | gather "$work/exe"

# measure NAME COMMAND...: runs the command once; appends "microseconds peak-KB cpu-seconds" to
# $work/NAME (cpu: user + system, all threads).
measure() {
    local name=$1 start end
    shift
    start=$(date +%s%N)
    /usr/bin/time -f "%M %U %S" -o "$work/rss" "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    read -r kb user system <"$work/rss"
    echo "$(((end - start) / 1000)) $kb $(bc -l <<<"$user + $system")" >>"$work/$name"
}
# median NAME COLUMN: the median of a column (1 = microseconds, 2 = peak KB, 3 = CPU seconds).
median() {
    sort -n -k"$2" "$work/$1" | awk -v c="$2" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'
}

with_lha=0
command -v lha >/dev/null && command -v jlha >/dev/null && with_lha=1
thread_counts=(1 2 4)
tools=(tcompress)
[[ -n $baseline ]] && tools+=(baseline)
for sample in text exe; do
    data=$work/$sample
    gzip -9 -c "$data" >"$data.gz"
    "$tool" pack --force --quiet "$data.zrv" "$data" >/dev/null
    if ((with_lha)); then
        (cd "$work" && jlha a "$sample.lzh" "$sample" >/dev/null 2>&1)
    fi
    for ((run = 0; run < runs; ++run)); do
        measure "$sample.gzip9" sh -c "gzip -9 -c '$data' >'$work/out.gz'"
        for threads in "${thread_counts[@]}"; do
            measure "$sample.pack$threads" "$tool" pack --force --quiet --threads "$threads" "$work/out.zrv" "$data"
        done
        measure "$sample.packdefault" "$tool" pack --force --quiet "$work/out.zrv" "$data"
        [[ -n $baseline ]] && measure "$sample.baselinepack" "$baseline" pack --force "$work/out.zrv" "$data"
        measure "$sample.gunzip" gzip -dc "$data.gz"
        measure "$sample.test" "$tool" test --quiet "$data.zrv"
        ((with_lha)) && measure "$sample.lha" lha t "$work/$sample.lzh"
        [[ -n $baseline ]] && measure "$sample.baselinetest" "$baseline" test "$data.zrv"
    done
done

echo "tcompress $tool; $cores cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "medians of $runs runs, whole processes, peers interleaved in the same run; speed ratio = peer's time / this time;"
echo "cpu = user + system seconds of all the process's threads"
printf "\n%-6s %-30s %9s %9s %9s %9s %9s\n" data command seconds "MB/s" "x peer" "cpu s" "peak MB"
row() {  # row SAMPLE NAME LABEL PEER
    local us kb cpu peer_us
    us=$(median "$1.$2" 1)
    kb=$(median "$1.$2" 2)
    cpu=$(median "$1.$2" 3)
    peer_us=$(median "$1.$4" 1)
    printf "%-6s %-30s %9.3f %9.1f %9.2f %9.3f %9.1f\n" "$1" "$3" "$(bc -l <<<"$us / 1000000")" \
        "$(bc -l <<<"8 * $mib / $us")" "$(bc -l <<<"$peer_us / $us")" "$cpu" "$(bc -l <<<"$kb / 1024")"
}
for sample in text exe; do
    row "$sample" gzip9 "gzip -9" gzip9
    for threads in "${thread_counts[@]}"; do
        row "$sample" "pack$threads" "tcompress pack --threads $threads" gzip9
    done
    row "$sample" packdefault "tcompress pack (default: $cores)" gzip9
    [[ -n $baseline ]] && row "$sample" baselinepack "baseline pack" gzip9
    row "$sample" gunzip "gzip -dc" gunzip
    row "$sample" test "tcompress test" gunzip
    if ((with_lha)); then
        row "$sample" lha "lha t" lha
        row "$sample" test "tcompress test (vs lha t)" lha
        [[ -n $baseline ]] && row "$sample" baselinetest "baseline test (vs lha t)" lha
    fi
    [[ -n $baseline ]] && row "$sample" baselinetest "baseline test" gunzip
done

if ((memory_gb > 0)); then
    truncate -s "${memory_gb}G" "$work/zeros"
    /usr/bin/time -f "%M %e" -o "$work/rss" "$tool" pack --force --quiet "$work/zeros.zrv" "$work/zeros" >/dev/null
    read -r kb seconds <"$work/rss"
    printf "\npeak memory of tcompress pack of %d GiB of zeros (default threads): %.1f MB (%.1f s)\n" "$memory_gb" \
        "$(bc -l <<<"$kb / 1024")" "$seconds"
    /usr/bin/time -f "%M" -o "$work/rss" "$tool" test --quiet "$work/zeros.zrv" >/dev/null
    printf "peak memory of tcompress test of that archive: %.1f MB\n" "$(bc -l <<<"$(cat "$work/rss") / 1024")"
fi

ratio() {  # ratio SAMPLE NAME PEER: the peer's median time over this one's
    bc -l <<<"$(median "$1.$3" 1) / $(median "$1.$2" 1)"
}
goal() {  # goal TEXT VALUE AT-LEAST
    printf "%-44s %7.2f  at least %5.2f  %s\n" "$1" "$2" "$3" "$(bc -l <<<"$2 >= $3" | sed 's/1/met/;s/0/missed/')"
}
echo
goal "text pack (default threads) vs gzip -9" "$(ratio text packdefault gzip9)" 1.0
goal "exe pack (default threads) vs gzip -9" "$(ratio exe packdefault gzip9)" 3.0
if ((with_lha)); then
    for sample in text exe; do
        goal "$sample test vs lha t" "$(ratio $sample test lha)" 3.0
    done
fi
if [[ -n $baseline ]]; then
    for sample in text exe; do
        goal "$sample test vs gzip -dc, over the baseline's" \
            "$(bc -l <<<"$(ratio $sample test gunzip) / $(ratio $sample baselinetest gunzip)")" 1.0
    done
fi
