#!/usr/bin/env bash
# Installs what is missing, builds, and starts Zarvex (see README).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$root/tools/setup/deps.sh"
"$root/tools/setup/build.sh" "$root/build"
exec "$root/tools/run/run-zarvex.sh" "$root/build"
