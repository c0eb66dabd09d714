#!/usr/bin/env bash
# Runs a test program in this build's Wine bench with a cap on the size of every file it writes,
# so that its writes meet a full disk for real: past the cap the system refuses them (EFBIG), as
# it would with no space left.
#
#   run_with_file_limit.sh <build-dir> <cap in KiB> <program.exe> [arguments…]
#
# The program learns the cap from ZARVEX_FILE_LIMIT_KB and fails when it is missing.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 <build-dir> <cap-KiB> <program.exe> [arguments…]" >&2; exit 2; }
build=$1
limit=$2
shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Start the bench (prefix, servers) first: the cap must not apply to what starting it writes.
"$here/../../tools/bench/bench.sh" start "$build"
trap '' XFSZ # a write past the cap then fails instead of killing the writer
ulimit -f "$limit"
export ZARVEX_FILE_LIMIT_KB=$limit
exec "$build/bench/wine-run" "$@"
