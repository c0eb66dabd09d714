#!/usr/bin/env bash
# Starts the built Zarvex.exe inside the Wine bench of <build-dir>, with the Zarvex Test Camera (the
# bench has no real camera) and ZarvexDevice registered in the bench's prefix.
#
# With a DISPLAY: Zarvex, and ZarvexViewer showing what "ZarvexDevice" delivers, as any video
# application would: the live picture, and after a press and a double-click on the clip, the
# replay with its caption and fade. Closing Zarvex closes the viewer too.
# Without one: the scripted tour (tour.sh) on a virtual display; it prints the folder it wrote.
# Either way the bench is stopped afterwards if this script started it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bench=$root/tools/bench/bench.sh
bin=$build/bin

if [ -f "$("$bench" env "$build")" ]; then
    started=
else
    started=yes
fi
"$bench" start "$build"
stop_bench() { [ -z "$started" ] || "$bench" stop "$build"; }
trap stop_bench EXIT

if [ -z "${DISPLAY:-}" ]; then
    "$root/tools/run/tour.sh" "$build"
    exit
fi

# The test camera stands in for a real camera (listed next to any camera Wine finds); ZarvexDevice
# is the virtual camera that video applications in the prefix can pick.
"$root/tools/testcam/register-testcam.sh" "$build"
"$bench" exec "$build" wine regsvr32 /s "$bin/ZarvexDevice.ax" </dev/null
probe() { "$bench" exec "$build" wine "$bin/zxprobe.exe" "$@" </dev/null; }

"$bench" exec "$build" wine "$bin/Zarvex.exe" </dev/null &
app=$!
if ! probe wait Zarvex 60000; then
    wait "$app" || true
    echo "Zarvex did not show its window" >&2
    exit 1
fi
# Zarvex opens where it was last closed (100,100 the first time); the viewer opens to its right.
# It asks for the size Zarvex works at by default, so that the ring keeps it.
setting() { sed -n "s/^$1=\(-\{0,1\}[0-9]*\).*/\1/p" "$bin/Zarvex.ini" 2>/dev/null | head -n 1; }
px=$(setting PX)
py=$(setting PY)
at="$((${px:-100} + 460)),${py:-100}"
"$bench" exec "$build" wine "$bin/ZarvexViewer.exe" --size 512x384 --at "$at" </dev/null &
viewer=$!
wait "$app" || true
probe close 'ZarvexViewer*' >/dev/null 2>&1 || true
for _ in $(seq 50); do kill -0 "$viewer" 2>/dev/null || break; sleep 0.2; done
kill "$viewer" 2>/dev/null || true
wait "$viewer" 2>/dev/null || true
