#!/usr/bin/env bash
# Builds what is missing and runs tandrel-setup.exe under Wine.
# With a display ($DISPLAY), the setup opens there and this script waits until it ends.
# Without one, it runs on a virtual display, saves a screenshot of the first screen
# (build/screenshots/setup.png) and ends the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
source scripts/lib/wine.sh

scripts/bootstrap.sh
cmake --preset native >/dev/null
cmake --build --preset native --target tcompress
cmake --preset windows >/dev/null
cmake --build --preset windows --target tandrel-setup
setup=$root/build/windows/src/app/tandrel-setup.exe

if [[ -n "${DISPLAY:-}" ]]; then
    exec scripts/wine-run.sh "$setup"
fi

shots=$root/build/screenshots
mkdir -p "$shots"
wine_dir=$(mktemp -d /tmp/tandrel-run-wine.XXXXXX)
trap 'scripts/wine-prefix.sh destroy "$wine_dir" >/dev/null 2>&1; display_stop' EXIT
display_ensure
scripts/wine-prefix.sh create "$wine_dir" >/dev/null
TANDREL_WINEPREFIX=$wine_dir/prefix scripts/wine-run.sh "$setup" &
wine_wait_desktop || echo "run-setup.sh: no window appeared; the screenshot shows why" >&2
import -window root "$shots/setup.png"
echo "No display: the setup ran on a virtual one. Screenshot: $shots/setup.png"
