#!/usr/bin/env bash
# Time of an unattended installation under Wine, next to an NSIS installer of the same files built
# here (the peer), in the same run: each run installs into a new folder, the two interleaved; the
# figures are medians, with the ratio. A benchmark, not a test. Needs makensis (Debian: nsis).
#
#   bench/install_bench.sh [SETUP]       default build/windows/src/app/tandrel-setup.exe
#   RUNS=8                               installations of each
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
setup=$(realpath "${1:-$root/build/windows/src/app/tandrel-setup.exe}")
runs=${RUNS:-8}
command -v makensis >/dev/null || { echo "needs makensis (apt-get install nsis)" >&2; exit 1; }
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
display_ensure
"$root/scripts/wine-prefix.sh" create "$work/wine" >/dev/null
export TANDREL_WINEPREFIX=$work/wine/prefix
drive_c=$TANDREL_WINEPREFIX/drive_c

# The peer: the product's files, an uninstaller and an uninstall entry, as the setup writes them.
mkdir "$work/peer"
cp "$root/resources/payload/"* "$root/build/windows/tools/tandrel/Tandrel.exe" "$work/peer/"
{
    echo 'Target amd64-unicode'
    echo 'Name "Peer"'
    echo 'OutFile "peer-setup.exe"'
    echo 'SetCompressor /SOLID lzma'
    echo 'RequestExecutionLevel user'
    echo 'InstallDir "C:\PeerBench"'
    echo 'Section'
    echo '  SetOutPath "$INSTDIR"'
    for file in "$work/peer"/*; do echo "  File \"$(basename "$file")\""; done
    echo '  WriteUninstaller "$INSTDIR\Uninstall.exe"'
    echo '  WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\PeerBench" "DisplayName" "Peer"'
    echo '  WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\PeerBench" "UninstallString" "$INSTDIR\Uninstall.exe"'
    echo 'SectionEnd'
    echo 'Section "Uninstall"'
    echo 'SectionEnd'
} >"$work/peer/peer.nsi"
(cd "$work/peer" && makensis -V1 peer.nsi)
cp "$work/peer/peer-setup.exe" "$setup" "$work/"
chmod a+rx "$work"/*.exe

seconds() {  # exe args...: the wall time of one run, in seconds
    local start end
    start=$(date +%s%N)
    timeout 120 "$root/scripts/wine-run.sh" "$@" >/dev/null 2>&1 || { echo "$1 failed" >&2; exit 1; }
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# One of each first: the prefix's own start-up is not measured.
seconds "$work/peer-setup.exe" /S >/dev/null
seconds "$work/$(basename "$setup")" /VERYSILENT /NOICONS '/DIR=C:\OursBench' >/dev/null
peer=() ours=()
for _ in $(seq "$runs"); do
    rm -rf "$drive_c/PeerBench" "$drive_c/OursBench"
    peer+=("$(seconds "$work/peer-setup.exe" /S)")
    ours+=("$(seconds "$work/$(basename "$setup")" /VERYSILENT /NOICONS '/DIR=C:\OursBench')")
done
peer_ms=$(printf '%s\n' "${peer[@]}" | median)
ours_ms=$(printf '%s\n' "${ours[@]}" | median)
printf 'installation (median of %d, ms)  NSIS %s  tandrel-setup %s  ratio %.2f\n' "$runs" "$peer_ms" "$ours_ms" \
    "$(echo "$ours_ms / $peer_ms" | bc -l)"
