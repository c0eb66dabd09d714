#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine (see README).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$root/build
"$root/tools/setup/deps.sh"
"$root/tools/setup/build.sh" "$build"
# The 32-bit deliverables too, compiled and linked only: these machines cannot run 32-bit programs.
"$root/tools/setup/build-x86.sh" "$build/x86"
"$root/tools/bench/bench.sh" start "$build"
trap '"$root/tools/bench/bench.sh" stop "$build"' EXIT
# Tests that need a video device find the test camera registered in the bench's prefix.
"$root/tools/testcam/register-testcam.sh" "$build"
ctest --test-dir "$build" --output-on-failure
