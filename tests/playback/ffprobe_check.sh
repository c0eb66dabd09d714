#!/usr/bin/env bash
# Reads files saved by the AVI export back with FFmpeg (ffprobe and ffmpeg), readers we did not
# write: stream kinds, codecs, sizes, rates and counts, and every decoded frame and sound byte.
#
#   ffprobe_check.sh <build-dir> <avi_sample_writer.exe>
#
# Wine does start a Linux program from CreateProcess, but detached: no wait, no exit code, no
# redirected output. So the check runs here on the Linux side, after the Windows program (run in
# the build's bench) has saved the samples and written down what each must hold.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 <build-dir> <avi_sample_writer.exe>" >&2; exit 2; }
build=$1
writer=$2
for tool in ffprobe ffmpeg cmp; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (tools/setup/deps.sh installs ffmpeg)"; exit 1; }
done
dir=$(mktemp -d "${TMPDIR:-/tmp}/zarvex-ffprobe.XXXXXX")
trap 'rm -rf "$dir"' EXIT
# Wine's drive Z: is the Linux root.
"$build/bench/wine-run" "$writer" "Z:${dir//\//\\}"

passed=0
failed=0
check() { # what expected actual
    if [ "$2" = "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1: expected '$2', got '$3'"
    fi
}
# The fields of one stream kind (v or a) as ffprobe reports them, one "key=value" a line.
probe() { # file stream-kind fields [ffprobe options…]
    local file=$1 kind=$2 fields=$3
    shift 3
    ffprobe -v error "$@" -select_streams "$kind" -show_entries "stream=$fields" -of default=nw=1 "$file" </dev/null
}
value() { # probe-output key
    sed -n "s/^$2=//p" <<<"$1"
}
same_bytes() { # what expected-file command…
    local what=$1 expected=$2
    shift 2
    if "$@" | cmp -s - "$expected"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $what differs from what was saved"
    fi
}

[ -s "$dir/manifest.txt" ] || { echo "FAIL: the writer saved nothing"; exit 1; }
while read -r name frames width height rate samples <&3; do
    f=$dir/$name.avi
    streams=$([ "$samples" -ge 0 ] && echo 2 || echo 1)
    check "$name: streams" "$streams" "$(ffprobe -v error -show_entries format=nb_streams -of default=nw=1:nk=1 "$f" </dev/null)"
    video=$(probe "$f" v codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames -count_frames)
    check "$name: video codec" rawvideo "$(value "$video" codec_name)"
    check "$name: pixel format" bgr24 "$(value "$video" pix_fmt)"
    check "$name: width" "$width" "$(value "$video" width)"
    check "$name: height" "$height" "$(value "$video" height)"
    check "$name: frame rate" "$rate/1" "$(value "$video" r_frame_rate)"
    check "$name: frames read" "$frames" "$(value "$video" nb_read_frames)"
    same_bytes "$name: video" "$dir/$name.bgr" ffmpeg -nostdin -v error -i "$f" -map 0:v:0 -f rawvideo -pix_fmt bgr24 -
    sound=$(probe "$f" a codec_name,sample_rate,channels)
    if [ "$samples" -ge 0 ]; then
        check "$name: sound codec" pcm_s16le "$(value "$sound" codec_name)"
        check "$name: sample rate" 44100 "$(value "$sound" sample_rate)"
        check "$name: channels" 2 "$(value "$sound" channels)"
        same_bytes "$name: sound" "$dir/$name.pcm" ffmpeg -nostdin -v error -i "$f" -map 0:a:0 -f s16le -
    else
        check "$name: no sound stream" "" "$sound"
    fi
done 3<"$dir/manifest.txt"
echo "ffprobe: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
