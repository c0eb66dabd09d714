#!/usr/bin/env bash
# A soak run of the built Zarvex.exe inside the Wine bench of <build-dir> (tools/soak/zxsoak.cpp).
#
#   soak.sh <build-dir> [minutes] [zxsoak options...]      (minutes defaults to 60)
#
# It starts the bench, registers the test camera and ZarvexDevice, runs zxsoak.exe, and keeps
# everything it printed in <build-dir>/soak/soak-<date>.log (the table and verdict on the output,
# the run's events on the error output). The bench is stopped afterwards only if this script
# started it. Exit code: zxsoak's (0 when the verdict passes).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 <build-dir> [minutes] [zxsoak options...]" >&2; exit 2; }
build=$(cd "$1" && pwd)
shift
minutes=60
if [ $# -ge 1 ] && [[ $1 =~ ^[0-9]+$ ]]; then
    minutes=$1
    shift
fi
bench=$root/tools/bench/bench.sh
[ -f "$build/bin/zxsoak.exe" ] || { echo "soak: $build/bin/zxsoak.exe not built" >&2; exit 1; }

# A bench that was already up (someone is working in it) is left running.
if [ -s "$build/bench/wineserver.pid" ] && kill -0 "$(cat "$build/bench/wineserver.pid")" 2>/dev/null; then
    started=no
else
    started=yes
fi
"$bench" start "$build"
if [ $started = yes ]; then
    trap '"$bench" stop "$build"' EXIT
fi
"$root/tools/testcam/register-testcam.sh" "$build"
"$bench" exec "$build" wine regsvr32 /s "$build/bin/ZarvexDevice.ax" </dev/null

mkdir -p "$build/soak"
log=$build/soak/soak-$(date +%Y%m%d-%H%M%S).log
echo "soak: $minutes minutes; log in $log"
set +e
{
    echo "# $(date -u '+%Y-%m-%d %H:%M:%S') UTC, $(nproc) cores, load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
    "$bench" exec "$build" wine "$build/bin/zxsoak.exe" --minutes "$minutes" "$@" </dev/null 2>&1
    status=$?
    echo "# load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
    exit $status
} | tee "$log"
status=${PIPESTATUS[0]}
set -e
exit "$status"
