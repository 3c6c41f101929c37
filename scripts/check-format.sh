#!/usr/bin/env bash
# Fails when a C++ file of the repository is not formatted as .clang-format says.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bad=0
while IFS= read -r file; do
    if ! clang-format --dry-run -Werror "$file" >/dev/null 2>&1; then
        echo "not formatted: $file"
        bad=1
    fi
done < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests tools bench fuzz -name '*.cpp' -o -name '*.h')
exit $bad
