#!/usr/bin/env bash
# Configures and builds the 32-bit (x86) deliverables into <build-dir> (default: build/x86):
# Zarvex.exe, ZarvexDevice.ax and the Zarvex Test Camera, without tests. Compile and link only:
# these machines cannot run 32-bit programs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$root/build/x86}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" -DZARVEX_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target Zarvex ZarvexDevice ZarvexTestCamera
