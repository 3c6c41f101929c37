# The start of every test script that drives the built programs under Wine. Source it with the
# script's name, right after the script has named its arguments:
#     source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-test.sh" NAME || exit 1
# Sets scripts (this project's scripts folder), loads the Wine helpers and the checks (each line
# starting with NAME) and makes the test's prefix (see wine_test_prefix).
scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$scripts/lib/wine.sh"
CHECK_PREFIX=$1
source "$scripts/lib/checks.sh"
wine_test_prefix "$1"
