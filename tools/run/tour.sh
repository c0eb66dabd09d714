#!/usr/bin/env bash
# The scripted tour: what a person would do on a first run, done through the real Zarvex dialog's
# controls (zxprobe), with the Zarvex Test Camera as the camera and ZarvexViewer watching
# "ZarvexDevice" as any video application would.
#
#   tour.sh <build-dir> [<folder>]      (the folder defaults to <build-dir>/tour-<date>-<time>)
#
# Live for a few seconds, both time sliders set to 2 seconds, a press of "キャプチャ", the clip
# waited for (list item "1"), played with a double-click, and saved as AVI (the save-as dialog and
# the compressor chooser answered). Written into the folder:
#   dialog.png    the dialog with the clip in its list
#   live.png      ZarvexDevice's picture while live
#   replay.png    ZarvexDevice's picture during the replay, caption showing
#   clip.avi      the saved clip
#   report.txt    what happened, and the AVI's streams as ffprobe reads them
# It prints the folder, and exits 0 only if every step worked.
#
# It uses the bench of <build-dir> (starting it when needed; stopping it is its starter's business),
# registers the test camera and ZarvexDevice in it, and puts ZarvexDevice's registration back as it
# found it. Zarvex runs from a copy in the folder, so the tour's settings are its own.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$build/tour-$(date +%Y%m%d-%H%M%S)}
bench=$root/tools/bench/bench.sh
bin=$build/bin

# The clip's length: both sliders go to this many seconds.
seconds=2
# The viewer asks ZarvexDevice for the size Zarvex works at by default, so the ring keeps it.
width=512
height=384
fps=30

mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -rf "$out/program" "$out"/{dialog,live,replay}.png "$out"/*.bmp "$out/clip.avi" "$out/steps.log"
report=$out/report.txt
: >"$report"
app_pid=
viewer_pid=
registered_device=

say() { echo "$*" | tee -a "$report"; }
fail() {
    say "FAILED: $*"
    echo "tour: $out" >&2
    exit 1
}
inbench() { "$bench" exec "$build" "$@" </dev/null; }
probe() { inbench wine "$bin/zxprobe.exe" "$@"; }
winpath() { inbench winepath -w "$1"; }
# A step that must work: its description goes into the report, and its failure ends the tour.
step() {
    local what=$1
    shift
    "$@" >>"$out/steps.log" 2>&1 || fail "$what (see steps.log)"
    say "ok: $what"
}

# Ends what the tour started, by process id, whichever way it ends.
cleanup() {
    local rc=$?
    if [ -n "$viewer_pid" ] && kill -0 "$viewer_pid" 2>/dev/null; then
        probe close 'ZarvexViewer*' >/dev/null 2>&1 || true
    fi
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
        probe close Zarvex >/dev/null 2>&1 || true
    fi
    for pid in $viewer_pid $app_pid; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
        kill "$pid" 2>/dev/null || true
    done
    if [ "$registered_device" = yes ]; then
        inbench wine regsvr32 /s /u "$bin/ZarvexDevice.ax" >/dev/null 2>&1 || true
    fi
    rm -rf "$out/program"
    exit $rc
}
trap cleanup EXIT

# A snapshot of what the viewer shows, as PNG (the viewer writes BMP).
snapshot() {
    local name=$1
    probe snapshot 'ZarvexViewer*' "$(winpath "$out/$name.bmp")" &&
        convert "$out/$name.bmp" "$out/$name.png" && rm -f "$out/$name.bmp"
}

# Whether a picture shows the red caption: red pixels in its top left corner, where the test
# camera paints only black and white.
has_caption() {
    local share
    share=$(convert "$out/$1.png" -crop 160x48+0+0 +repage -fx 'r>0.5 && g<0.3 && b<0.3' \
        -format '%[fx:mean]' info:)
    awk -v s="$share" 'BEGIN { exit !(s > 0.01) }'
}

# A clip snapshot with the caption, once the replay's fade-in (under a second) is over; a busy
# machine may be late, so it tries a few times.
snapshot_replay() {
    sleep 1
    for _ in 1 2 3 4 5; do
        snapshot replay && has_caption replay && return 0
        sleep 0.3
    done
    return 1
}

# The dialog writes the file on its own thread and answers no message meanwhile: the file is whole
# once the dialog answers again and its size holds still.
wait_saved() {
    local size=-1 now
    for _ in $(seq 60); do
        sleep 0.5
        probe text Zarvex 1019 >/dev/null 2>&1 || continue
        now=$(stat -c %s "$1" 2>/dev/null || echo -1)
        [ "$now" -gt 0 ] && [ "$now" = "$size" ] && return 0
        size=$now
    done
    return 1
}

say "Zarvex tour, $(date '+%Y-%m-%d %H:%M:%S')"
"$bench" start "$build"
"$root/tools/testcam/register-testcam.sh" "$build"
# ZarvexDevice's class key names the module path; it is put back unregistered if it was so.
if ! inbench wine reg query 'HKCR\CLSID\{3C4B03D4-A958-4358-897D-AD5BA46F2774}' >/dev/null 2>&1; then
    registered_device=yes
fi
inbench wine regsvr32 /s "$bin/ZarvexDevice.ax"

mkdir -p "$out/program"
cp "$bin/Zarvex.exe" "$out/program/"
printf '[Settings]\r\nVideoDevice=Zarvex Test Camera\r\nVideoFormat=0\r\n' >"$out/program/Zarvex.ini"
inbench wine "$out/program/Zarvex.exe" >"$out/zarvex.log" 2>&1 &
app_pid=$!
step "Zarvex shows its dialog" probe wait Zarvex 60000
step "the camera is Zarvex Test Camera" probe wait-text Zarvex 1006 "Zarvex Test Camera"
# To the right of the dialog (at 100,100 on its first start), so the screenshot shows the dialog alone.
inbench wine "$bin/ZarvexViewer.exe" --size "${width}x$height" --at 560,100 >"$out/viewer.log" 2>&1 &
viewer_pid=$!
step "ZarvexViewer shows ZarvexDevice" probe wait 'ZarvexViewer*' 60000

step "PreTime slider to $seconds s" probe slide Zarvex 1002 $seconds
step "EndTime slider to $seconds s" probe slide Zarvex 1005 $seconds
stride=$(((width * 24 + 31) / 32 * 4))
ring_mb=$((fps * 2 * seconds * stride * height / 1048576))
step "the ring holds $((2 * seconds)) s: 1019 shows $ring_mb MB" probe wait-text Zarvex 1019 "$ring_mb MB" 10000
sleep 3
step "ZarvexDevice shows the live picture (live.png)" snapshot live

step "press キャプチャ" probe click Zarvex 1
step "the clip comes: list item \"1\"" probe wait-count Zarvex 1000 1 30000
[ "$(probe text Zarvex 1000 0 | tr -d '\r')" = 1 ] || fail "the list item reads \"1\""
step "the controls come back" probe wait-enabled Zarvex 2 1 10000
sleep 0.5 # the list view paints its thumbnail
step "screenshot of the dialog (dialog.png)" inbench sh -c "xwd -silent -name Zarvex | convert xwd:- '$out/dialog.png'"

step "play clip 1 (double-click)" probe dblclick Zarvex 1000 0
step "the playback holds the capture controls" probe wait-enabled Zarvex 2 0 5000
step "ZarvexDevice shows the replay with its caption (replay.png)" snapshot_replay
step "the playback ends" probe wait-enabled Zarvex 2 1 30000

avi=$out/clip.avi
step "press 保存..." probe click Zarvex 4
step "the save-as dialog takes clip.avi" probe save-as Zarvex "$(winpath "$avi")"
step "the compressor chooser: OK (uncompressed)" probe confirm Zarvex
step "clip.avi is written" wait_saved "$avi"

step "close Zarvex" probe close Zarvex
wait "$app_pid" || true
app_pid=
step "close ZarvexViewer" probe close 'ZarvexViewer*'
wait "$viewer_pid" || true
viewer_pid=

# What ffprobe reads in the file.
streams=$(ffprobe -v error -show_entries \
    stream=index,codec_type,codec_name,width,height,r_frame_rate,nb_frames,sample_rate,channels,duration \
    -of compact=p=0 "$avi") || fail "ffprobe cannot read clip.avi"
video=$(grep 'codec_type=video' <<<"$streams" || true)
sound=$(grep 'codec_type=audio' <<<"$streams" || true)
field() { sed -n "s/.*$1=\([^|]*\).*/\1/p" <<<"$2"; }
frames=$(field nb_frames "$video")
# A PCM stream's length counts sample frames of 4 bytes (16-bit stereo).
samples=$(field nb_frames "$sound")
say ""
say "clip 1: ${frames:-?} frames of ${width}x$height at $fps per second; ${samples:+$((samples * 4))} sound bytes"
say "clip.avi as ffprobe reads it:"
while read -r line; do say "  $line"; done <<<"$streams"
[ "$(field codec_name "$video")" = rawvideo ] || fail "clip.avi has an uncompressed video stream"
[ "$(field width "$video")x$(field height "$video")" = "${width}x$height" ] || fail "the video is ${width}x$height"
[ "$frames" = $((fps * 2 * seconds)) ] || fail "the video holds $((fps * 2 * seconds)) frames"
[ "$(field codec_name "$sound")" = pcm_s16le ] || fail "clip.avi has a PCM sound stream"
[ "${samples:-0}" -gt 0 ] 2>/dev/null || fail "the sound stream holds samples"
say ""
say "all steps worked"
echo "$out"
