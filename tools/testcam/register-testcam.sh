#!/usr/bin/env bash
# Registers the Zarvex Test Camera (build/bin/ZarvexTestCamera.ax) in the Wine bench of <build-dir>,
# so that every program in that prefix finds "Zarvex Test Camera" among its video capture devices.
#
#   register-testcam.sh [--unregister] [build-dir]     (build-dir defaults to build)
#
# Registration is what regsvr32 does: DllRegisterServer writes the COM class keys (pointing at the
# .ax in the build tree) and lists the camera in the video input device category. It is idempotent.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
flag=
if [ "${1:-}" = "--unregister" ]; then
    flag=/u
    shift
fi
build=$(cd "${1:-$root/build}" && pwd)
module=$build/bin/ZarvexTestCamera.ax
[ -f "$module" ] || { echo "register-testcam: $module not built" >&2; exit 1; }
# shellcheck disable=SC2086
"$root/tools/bench/bench.sh" exec "$build" wine regsvr32 /s $flag "$module" </dev/null
