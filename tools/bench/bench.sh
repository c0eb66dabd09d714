#!/usr/bin/env bash
# The Wine test bench: a private Wine prefix, an X display, a sound server and a persistent
# wineserver, all kept under one state folder inside the build tree.
#
#   bench.sh start <build-dir>        start what is missing (idempotent), print nothing on success
#   bench.sh stop  <build-dir>        stop what "start" started, by process id
#   bench.sh exec  <build-dir> cmd…   run a command inside the bench (starting it if needed)
#   bench.sh env   <build-dir>        print the environment file's path
#
# Everything it starts is recorded as a pid file under <build-dir>/bench; "stop" kills only those
# processes, never anything found by name.
set -euo pipefail

usage() { echo "usage: $0 start|stop|exec|env <build-dir> [command…]" >&2; exit 2; }
[ $# -ge 2 ] || usage
verb=$1
build=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
state=$build/bench
prefix=$build/wine
envfile=$state/env.sh
mkdir -p "$state"

# A pid file is live when the process exists and still runs the program we started.
alive() {
    local f=$state/$1.pid pid
    [ -s "$f" ] || return 1
    pid=$(cat "$f")
    kill -0 "$pid" 2>/dev/null || return 1
    grep -q "$2" "/proc/$pid/cmdline" 2>/dev/null
}

stop_pid() {
    local f=$state/$1.pid pid
    [ -s "$f" ] || return 0
    pid=$(cat "$f")
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$f"
}

start_display() {
    if [ -n "${DISPLAY:-}" ] && ! [ -s "$state/xvfb.pid" ]; then
        echo "$DISPLAY" >"$state/display"
        return
    fi
    if alive xvfb Xvfb; then return; fi
    local fifo=$state/xvfb.fd
    rm -f "$fifo"
    mkfifo "$fifo"
    # -displayfd lets Xvfb pick a free display number and tell us which.
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >"$state/xvfb.log" 2>&1 9>&- &
    echo $! >"$state/xvfb.pid"
    local n
    read -r -t 20 n <"$fifo" || { echo "bench: Xvfb did not start (see $state/xvfb.log)" >&2; exit 1; }
    rm -f "$fifo"
    echo ":$n" >"$state/display"
}

start_sound() {
    local rt=$state/runtime
    mkdir -p "$rt"
    chmod 0700 "$rt"
    if alive pulse pulseaudio && [ -S "$rt/pulse/native" ]; then return; fi
    stop_pid pulse
    rm -rf "$rt/pulse"
    XDG_RUNTIME_DIR=$rt HOME=$state setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 \
        --disallow-exit --disable-shm=yes \
        --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=zarvex_null" \
        --load=module-always-sink </dev/null >"$state/pulse.log" 2>&1 9>&- &
    echo $! >"$state/pulse.pid"
    for _ in $(seq 100); do [ -S "$rt/pulse/native" ] && break; sleep 0.1; done
    [ -S "$rt/pulse/native" ] || { echo "bench: PulseAudio did not start (see $state/pulse.log)" >&2; exit 1; }
    XDG_RUNTIME_DIR=$rt HOME=$state pactl set-default-sink zarvex_null
    XDG_RUNTIME_DIR=$rt HOME=$state pactl set-default-source zarvex_null.monitor
}

write_env() {
    cat >"$envfile" <<EOF
export WINEPREFIX='$prefix'
export WINEARCH=win64
export WINEDEBUG=\${ZARVEX_WINEDEBUG:--all}
export WINEDLLOVERRIDES='mscoree,mshtml='
export DISPLAY='$(cat "$state/display")'
export XDG_RUNTIME_DIR='$state/runtime'
export PULSE_SERVER='unix:$state/runtime/pulse/native'
export ZARVEX_BENCH='$state'
EOF
}

start_wine() {
    # shellcheck disable=SC1090
    . "$envfile"
    if ! [ -f "$prefix/.zarvex-ready" ]; then
        stop_pid wineserver
        rm -rf "$prefix"
        wineboot -i </dev/null >"$state/wineboot.log" 2>&1 9>&-
        wineserver -w
        # The main dialog asks for "ＭＳ Ｐゴシック"; map it (and the Latin faces the dialogs use)
        # onto installed fonts so the captions render as text, not boxes.
        iconv -f UTF-8 -t UTF-16LE "$here/fonts.reg" | { printf '\xff\xfe'; cat; } >"$state/fonts.reg"
        wine regedit /S "$(winepath -w "$state/fonts.reg")" </dev/null >>"$state/wineboot.log" 2>&1 9>&-
        wineserver -w
        touch "$prefix/.zarvex-ready"
    fi
    if alive wineserver wineserver; then return; fi
    setsid wineserver -f -p </dev/null >"$state/wineserver.log" 2>&1 9>&- &
    echo $! >"$state/wineserver.pid"
    # Wine clients find the server through a socket named after the prefix's device and inode;
    # wait for it so the first client does not race to start a server of its own.
    local sock
    sock=/tmp/.wine-$(id -u)/server-$(printf '%x-%x' "$(stat -c %d "$prefix")" "$(stat -c %i "$prefix")")/socket
    for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
    # Wine's own background processes (services, device manager, explorer) start with the first
    # client and live as long as the persistent server. Start them here, detached from whatever
    # pipes our caller holds, so that no test run waits on them for its output to end.
    wine cmd /c exit </dev/null >>"$state/wineserver.log" 2>&1 9>&-
}

start() {
    exec 9>"$state/lock"
    flock 9
    start_display
    start_sound
    write_env
    start_wine
    flock -u 9
}

stop() {
    exec 9>"$state/lock"
    flock 9
    if [ -f "$envfile" ]; then
        # shellcheck disable=SC1090
        (. "$envfile" && [ -s "$state/wineserver.pid" ] && wineserver -k 2>/dev/null) || true
    fi
    stop_pid wineserver
    stop_pid pulse
    stop_pid xvfb
    rm -f "$state/display" "$envfile"
    flock -u 9
}

case $verb in
start) start ;;
stop) stop ;;
env) echo "$envfile" ;;
exec)
    [ $# -ge 1 ] || usage
    [ -f "$envfile" ] && alive wineserver wineserver || start
    # shellcheck disable=SC1090
    . "$envfile"
    exec "$@"
    ;;
*) usage ;;
esac
