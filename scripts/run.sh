#!/usr/bin/env bash
# Builds the program and starts it in the current directory.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j "$(nproc 2>/dev/null || echo 2)" --target zorven >/dev/null
exec "$top/build/zorven"
