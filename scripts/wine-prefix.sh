#!/usr/bin/env bash
# Makes or removes a Wine prefix for a whole test run:
#     scripts/wine-prefix.sh create DIR     (fresh prefix in DIR/prefix; prints its path)
#     scripts/wine-prefix.sh destroy DIR    (ends its wineserver, removes DIR)
# Export TANDREL_WINEPREFIX=DIR/prefix so that scripts/wine-run.sh uses it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/lib/wine.sh"
wine_init_user
case "${1:-}" in
    create)
        mkdir -p "$2"
        chmod 755 "$2"
        wine_make_prefix "$2/prefix"
        echo "$2/prefix"
        ;;
    destroy)
        wine_stop_prefix "$2/prefix"
        rm -rf "$2"
        ;;
    *)
        echo "usage: wine-prefix.sh create|destroy DIR" >&2
        exit 2
        ;;
esac
