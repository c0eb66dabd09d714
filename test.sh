#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine (see README).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$root/build
"$root/tools/setup/deps.sh"
"$root/tools/setup/build.sh" "$build"
"$root/tools/bench/bench.sh" start "$build"
trap '"$root/tools/bench/bench.sh" stop "$build"' EXIT
ctest --test-dir "$build" --output-on-failure
