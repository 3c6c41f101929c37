#!/usr/bin/env bash
# Install, re-install and removal under Wine, next to NSIS installers of the same files built here
# (the peers: one packed with zlib, one with solid LZMA), in the same run, in one Wine prefix. A
# benchmark, not a test. Needs makensis (Debian: nsis) and /usr/bin/time (Debian: time).
#
#   bench/install_bench.sh [SETUP]   default build/windows/src/app/tandrel-setup.exe (the shipped
#                                    payload: resources/payload and the built Tandrel.exe)
#   RUNS=5                           rounds; each round installs with every installer into a new
#                                    folder, installs again into it, then removes it, the installers
#                                    interleaved at each step
#   LARGE=1                          also a generated payload of 120 files, about 30 MB (half text,
#                                    half Windows executables from Wine, in slices of 120-380 KB),
#                                    with a setup built for it through TANDREL_PAYLOAD_DIR in
#                                    build/bench-large (configured and built when missing or stale);
#                                    LARGE=0 skips it
#   LARGE_SETUP=file                 the setup of that payload built already (an older build, to
#                                    compare): the payload is still generated, nothing is built
#
# Our setup runs as `/VERYSILENT /NOICONS /NOBACKUP /DIR=...` (NSIS overwrites what it replaces, so
# ours does not keep backups either), its removal as `Uninstall.exe /VERYSILENT`; NSIS as `/S /D=...`
# and `Uninstall.exe /S _?=<folder>` (in place, so that it returns when done). Every figure is the
# median of RUNS: the wall time, and the CPU time (user + system) of every process the run started
# (not Wine's server and services, which stay up for the whole benchmark). Ratios are ours over the
# peer's: below 1 is faster than NSIS. It also prints the size of each setup and of the
# Uninstall.exe that each installation writes (bench/size_map.py says what the bytes of ours are for).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
setup=$(realpath "${1:-$root/build/windows/src/app/tandrel-setup.exe}")
runs=${RUNS:-5}
large=${LARGE:-1}
command -v makensis >/dev/null || { echo "needs makensis (apt-get install nsis)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
[[ -f $setup ]] || { echo "no setup at $setup (build the windows preset first)" >&2; exit 1; }
source "$root/scripts/lib/wine.sh"
wine_init_user

work=$(mktemp -d /tmp/tandrel-install-bench.XXXXXX)
chmod 755 "$work"
cleanup() {
    wine_stop_prefix "$work/wine/prefix"
    display_stop
    rm -rf "$work"
}
trap cleanup EXIT

# The generated payload and its setup, built through TANDREL_PAYLOAD_DIR. The files are made the
# same way every time, so an unchanged build folder is reused.
large_setup() {
    local payload=$root/build/bench-large-payload build=$root/build/bench-large mib=$((1 << 20))
    rm -rf "$payload"
    mkdir -p "$payload"
    {
        find /usr/share/common-licenses -maxdepth 1 -type f ! -name '.*' | sort
        find /usr/share/doc -mindepth 2 -maxdepth 2 -name copyright -type f | sort
    } | while IFS= read -r f; do cat "$f"; done | head -c $((16 * mib)) >"$work/text"
    find /usr/lib/x86_64-linux-gnu/wine/x86_64-windows -maxdepth 1 -type f \( -name '*.dll' -o -name '*.exe' \) |
        sort | while IFS= read -r f; do cat "$f"; done | head -c $((32 * mib)) >"$work/exe"
    local i size offset source name
    for ((i = 0; i < 120; ++i)); do
        size=$((120000 + (i * 7919) % 260000))
        if ((i % 2)); then
            source=$work/exe name=$(printf 'bin/module%03d.dll' "$i")
            offset=$(((i * 250000) % (32 * mib - 400000)))
        else
            source=$work/text name=$(printf 'doc/text%03d.txt' "$i")
            offset=$(((i * 130000) % (16 * mib - 400000)))
        fi
        mkdir -p "$payload/$(dirname "$name")"
        tail -c +$((offset + 1)) "$source" | head -c "$size" >"$payload/$name"
    done
    rm -f "$work/text" "$work/exe"
    if [[ -n ${LARGE_SETUP:-} ]]; then
        realpath "$LARGE_SETUP"
        return
    fi
    {
        cd "$root" &&
            cmake --preset windows -B "$build" -DTANDREL_TESTS=OFF -DTANDREL_PAYLOAD_DIR="$payload" &&
            cmake --build "$build" --target tandrel-setup
    } >"$work/large-build.log" 2>&1 || { tail -30 "$work/large-build.log" >&2; exit 1; }
    echo "$build/src/app/tandrel-setup.exe"
}

display_ensure
"$root/scripts/wine-prefix.sh" create "$work/wine" >/dev/null
export TANDREL_WINEPREFIX=$work/wine/prefix
drive_c=$TANDREL_WINEPREFIX/drive_c
# Wine's server and its system programs stay up for the whole benchmark (stopped by cleanup): each
# figure is then the installer's own start and work, not the start of Wine's services around it.
wine_as_user "$TANDREL_WINEPREFIX" wineserver -p

# peers NAME: builds NAME-nsis-zlib.exe and NAME-nsis-lzma.exe in $work from the files of $files_dir
# (with their folders).
peers() {
    local name=$1 compressor dir
    shift
    for compressor in zlib lzma; do
        dir=$work/peer-$name-$compressor
        mkdir -p "$dir"
        {
            echo 'Target amd64-unicode'
            echo "Name \"Peer\""
            echo "OutFile \"$work/$name-nsis-$compressor.exe\""
            [[ $compressor == lzma ]] && echo 'SetCompressor /SOLID lzma' || echo 'SetCompressor zlib'
            echo 'RequestExecutionLevel user'
            echo 'InstallDir "C:\PeerBench"'
            echo 'Section'
            echo '  SetOutPath "$INSTDIR"'
            echo "  File /r \"$files_dir/*\""
            echo '  WriteUninstaller "$INSTDIR\Uninstall.exe"'
            echo '  WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\PeerBench" "DisplayName" "Peer"'
            echo '  WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\PeerBench" "UninstallString" "$INSTDIR\Uninstall.exe"'
            echo 'SectionEnd'
            echo 'Section "Uninstall"'
            echo '  RMDir /r "$INSTDIR"'
            echo '  DeleteRegKey HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\PeerBench"'
            echo 'SectionEnd'
        } >"$dir/peer.nsi"
        (cd "$dir" && makensis -V1 peer.nsi)
    done
}

# The CPU time of a run is counted through a control group of its own where one can be made (a
# cgroup2 hierarchy, as root): it holds every process the run starts, also those Wine detaches from
# their parent (our uninstaller's copy in TEMP), which a parent's count of its children misses.
# Elsewhere the count of the started process and what it waited for stands in, and says so.
cgroups=
for dir in /sys/fs/cgroup/unified /sys/fs/cgroup; do
    if [[ -f $dir/cgroup.procs && -f $dir/cpu.stat ]] && mkdir "$dir/tandrel-bench-$$" 2>/dev/null; then
        rmdir "$dir/tandrel-bench-$$"
        cgroups=$dir
        break
    fi
done

# measure KEY EXE ARGS...: one run; appends "milliseconds cpu-seconds" to $work/KEY.
measure() {
    local key=$1 start end group= usage
    shift
    [[ -n $cgroups ]] && group=$cgroups/tandrel-bench-$$-$RANDOM && mkdir "$group"
    start=$(date +%s%N)
    /usr/bin/time -f "%U %S" -o "$work/cpu" timeout 300 \
        bash -c '[[ -z $1 ]] || echo $$ >"$1/cgroup.procs"; shift; exec "$@"' measured "$group" \
        "$root/scripts/wine-run.sh" "$@" >"$work/run.log" 2>&1 ||
        { echo "$key: $* failed (exit code $?): $(head -c 2000 "$work/run.log")" >&2; exit 1; }
    end=$(date +%s%N)
    if [[ -n $group ]]; then
        usage=$(awk '$1 == "usage_usec" { print $2 / 1000000 }' "$group/cpu.stat")
        rmdir "$group" 2>/dev/null || echo "$key: processes outlived the run: $(cat "$group/cgroup.procs")" >&2
    else
        read -r user system <"$work/cpu"
        usage=$(bc -l <<<"$user + $system")
    fi
    echo "$(((end - start) / 1000000)) $usage" >>"$work/$key"
}
median() {  # KEY COLUMN
    sort -n -k"$2" "$work/$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# bench NAME SETUP: the three installers of one payload, RUNS rounds, then the table.
bench() {
    local name=$1 ours=$2 round kind folder
    cp "$ours" "$work/$name-ours.exe"
    chmod a+rx "$work"/*.exe
    # One of each first, removed again: the prefix's own first starts are not measured.
    for kind in nsis-zlib nsis-lzma; do
        "$root/scripts/wine-run.sh" "$work/$name-$kind.exe" /S '/D=C:\Warm' >/dev/null 2>&1
        stat -c %s "$drive_c/Warm/Uninstall.exe" >"$work/$name-$kind.uninstaller"
        "$root/scripts/wine-run.sh" "$drive_c/Warm/Uninstall.exe" /S '_?=C:\Warm' >/dev/null 2>&1
        rm -rf "$drive_c/Warm"
    done
    "$root/scripts/wine-run.sh" "$work/$name-ours.exe" /VERYSILENT /NOICONS '/DIR=C:\Warm' >/dev/null 2>&1
    stat -c %s "$drive_c/Warm/Uninstall.exe" >"$work/$name-ours.uninstaller"
    "$root/scripts/wine-run.sh" "$drive_c/Warm/Uninstall.exe" /VERYSILENT >/dev/null 2>&1
    rm -rf "$drive_c/Warm"
    for ((round = 0; round < runs; ++round)); do
        for step in install reinstall; do
            for kind in nsis-zlib nsis-lzma ours; do
                folder=Bench-$kind
                [[ $step == install ]] && rm -rf "${drive_c:?}/$folder"
                if [[ $kind == ours ]]; then
                    measure "$name.$step.$kind" "$work/$name-ours.exe" /VERYSILENT /NOICONS /NOBACKUP "/DIR=C:\\$folder"
                else
                    measure "$name.$step.$kind" "$work/$name-$kind.exe" /S "/D=C:\\$folder"
                fi
            done
        done
        for kind in nsis-zlib nsis-lzma ours; do
            folder=Bench-$kind
            if [[ $kind == ours ]]; then
                measure "$name.remove.$kind" "$drive_c/$folder/Uninstall.exe" /VERYSILENT
            else
                measure "$name.remove.$kind" "$drive_c/$folder/Uninstall.exe" /S "_?=C:\\$folder"
            fi
        done
    done
    printf '\n%s payload: %s files, %s bytes; setup %s bytes (NSIS zlib %s, LZMA %s: x%.2f, x%.2f)\n' "$name" \
        "$(find "$files_dir" -type f | wc -l)" "$(find "$files_dir" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')" \
        "$(stat -c %s "$work/$name-ours.exe")" "$(stat -c %s "$work/$name-nsis-zlib.exe")" \
        "$(stat -c %s "$work/$name-nsis-lzma.exe")" \
        "$(bc -l <<<"$(stat -c %s "$work/$name-ours.exe") / $(stat -c %s "$work/$name-nsis-zlib.exe")")" \
        "$(bc -l <<<"$(stat -c %s "$work/$name-ours.exe") / $(stat -c %s "$work/$name-nsis-lzma.exe")")"
    printf '%s Uninstall.exe %s bytes (NSIS zlib %s, LZMA %s: x%.2f, x%.2f)\n' "$name" \
        "$(<"$work/$name-ours.uninstaller")" "$(<"$work/$name-nsis-zlib.uninstaller")" \
        "$(<"$work/$name-nsis-lzma.uninstaller")" \
        "$(bc -l <<<"$(<"$work/$name-ours.uninstaller") / $(<"$work/$name-nsis-zlib.uninstaller")")" \
        "$(bc -l <<<"$(<"$work/$name-ours.uninstaller") / $(<"$work/$name-nsis-lzma.uninstaller")")"
    printf '%-10s %9s %9s %9s %7s %7s %8s %8s %8s %7s %7s\n' step "ours ms" "zlib ms" "lzma ms" "x zlib" "x lzma" \
        "ours cpu" "zlib cpu" "lzma cpu" "x zlib" "x lzma"
    for step in install reinstall remove; do
        local o z l oc zc lc
        o=$(median "$name.$step.ours" 1) z=$(median "$name.$step.nsis-zlib" 1) l=$(median "$name.$step.nsis-lzma" 1)
        oc=$(median "$name.$step.ours" 2) zc=$(median "$name.$step.nsis-zlib" 2) lc=$(median "$name.$step.nsis-lzma" 2)
        printf '%-10s %9.0f %9.0f %9.0f %7.2f %7.2f %8.2f %8.2f %8.2f %7.2f %7.2f\n' "$step" "$o" "$z" "$l" \
            "$(bc -l <<<"$o / $z")" "$(bc -l <<<"$o / $l")" "$oc" "$zc" "$lc" \
            "$(bc -l <<<"$oc / ($zc + 0.0001)")" "$(bc -l <<<"$oc / ($lc + 0.0001)")"
    done
}

echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); medians of $runs rounds; ratios are ours / NSIS's"
if [[ -n $cgroups ]]; then
    echo "CPU: every process of a run, counted in a control group of its own"
else
    echo "CPU: the started process and what it waited for only (no control group could be made)"
fi
files_dir=$work/shipped
mkdir -p "$files_dir"
cp "$root/resources/payload/"* "$(dirname "$setup")/../../tools/tandrel/Tandrel.exe" "$files_dir/"
peers shipped
bench shipped "$setup"
if ((large)); then
    large=$(large_setup)
    files_dir=$root/build/bench-large-payload
    peers large
    bench large "$large"
fi
