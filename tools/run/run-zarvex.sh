#!/usr/bin/env bash
# Starts the built Zarvex.exe inside the Wine bench of <build-dir>.
# With a DISPLAY it runs until you close it. Without one it runs on a virtual display, saves a
# screenshot of the main window to <build-dir>/zarvex-screenshot.png, closes Zarvex and stops the bench.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$root/build}
bench=$root/tools/bench/bench.sh
bin=$build/bin

# Register the two filter modules in the bench's prefix: the test camera stands in for a real
# camera (listed next to any camera Wine finds), and ZarvexDevice is the virtual camera that video
# applications in the prefix can pick.
register_modules() {
    "$root/tools/testcam/register-testcam.sh" "$build"
    "$bench" exec "$build" wine regsvr32 /s "$bin/ZarvexDevice.ax" </dev/null
}

if [ -n "${DISPLAY:-}" ]; then
    "$bench" start "$build"
    register_modules
    exec "$bench" exec "$build" wine "$bin/Zarvex.exe"
fi

"$bench" start "$build"
trap '"$bench" stop "$build"' EXIT
register_modules
"$bench" exec "$build" wine "$bin/Zarvex.exe" </dev/null >"$build/zarvex-run.log" 2>&1 &
app=$!
if ! "$bench" exec "$build" wine "$bin/zxprobe.exe" wait Zarvex 60000 </dev/null; then
    echo "Zarvex did not show its window (see $build/zarvex-run.log)" >&2
    exit 1
fi
sleep 1 # let the dialog finish painting
shot=$build/zarvex-screenshot.png
"$bench" exec "$build" sh -c "xwd -silent -name Zarvex | convert xwd:- '$shot'"
"$bench" exec "$build" wine "$bin/zxprobe.exe" close Zarvex </dev/null || true
wait "$app" || true
echo "Zarvex ran on a virtual display; screenshot of its main window: $shot"
