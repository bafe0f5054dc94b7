#!/bin/sh
# Regenerates the screenshots in docs/ from the real program on a virtual
# screen: dialog.png, chooser.png and plain-words.png (a failed check's box),
# then, with a window manager drawing frames and titles as a desktop does,
# progress.png (a 20-minute conversion to MP3 under way), drop.png (the dialog
# after files were dropped on it), scale2.png (the dialog at
# QT_SCALE_FACTOR=2), picker.png (the source picker) and several-progress.png
# and several-done.png (three files converted into a folder at once). Needs Xvfb, ImageMagick
# (import, convert), xdotool, xwininfo, sox, openbox, and g++ with Qt's headers
# for the drag source of the drops (docs/drag-source.cpp).
# Usage: docs/make-screenshots.sh BUILD_DIR
set -eu

build=${1:?usage: $0 BUILD_DIR}
docs=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/wav.XXXX)
display=:$((90 + $$ % 9))

Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
program=
wm=
trap 'kill $program $wm 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY="$display"
sleep 1

sox -n -r 44100 -b 16 -c 2 "$work/voice.wav" synth 1 sine 440
cd "$work"
LANG=C.UTF-8 "$build/wavtrn" 2>/dev/null &
program=$!
sleep 2

geometry=$(xdotool search --sync --onlyvisible --name '^WAVTRN$' getwindowgeometry --shell | tr '\n' ' ')

xdotool type --delay 20 "$work/voice.wav"
xdotool key Tab Tab
xdotool type --delay 20 "$work/voice-adpcm.wav"

# The chooser with its format list open, over the dialog.
xdotool key alt+f
sleep 1.5
eval "$(xdotool search --sync --onlyvisible --name 'フォーマットの選択' getwindowgeometry --shell | tr '\n' ' ')"
# Format list: the second row's combo box, right of its label.
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 45 / 100)) click 1
sleep 1
import -window root "$work/chooser-full.png"
# The screen is black around the windows: trim to them.
convert "$work/chooser-full.png" -trim +repage "$docs/chooser.png"

# Pick IMA ADPCM 44,100 Hz stereo from the keyboard and confirm.
xdotool key Escape
sleep 0.3
xdotool key alt+t
# The fifth tag below PCM in the catalogue's order; the chooser keeps the
# 44,100 Hz stereo of its default format.
for i in 1 2 3 4 5; do xdotool key Down; done
xdotool key Return
sleep 1
import -window root "$work/dialog-full.png"
eval "$geometry"
convert "$work/dialog-full.png" -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$docs/dialog.png"

xdotool key Escape
wait "$program"

# A source that is no WAVE file: the failed check's box with its plain paragraph.
echo "meeting notes, not a recording" > "$work/notes.wav"
LANG=C.UTF-8 "$build/wavtrn" 2>/dev/null &
program=$!
xdotool search --sync --onlyvisible --name '^WAVTRN$' >/dev/null
sleep 1
xdotool type --delay 20 "$work/notes.wav"
xdotool key Tab
sleep 1.5
import -window root "$work/plain-full.png"
convert "$work/plain-full.png" -trim +repage "$docs/plain-words.png"
xdotool key Return
sleep 0.5
xdotool key Escape
wait "$program"

openbox >/dev/null 2>&1 &
wm=$!
sleep 1
# shellcheck disable=SC2046
g++ -std=c++20 -fPIC -O1 "$docs/drag-source.cpp" -o "$work/drag-source" $(pkg-config --cflags --libs Qt6Widgets)

# Waits for the dialog and keeps its place and size as DX DY DW DH. (xdotool
# misplaces a window in a window manager's frame by the frame; xwininfo does not.)
wait_for_dialog() {
    window=$(xdotool search --sync --onlyvisible --name '^WAVTRN$' | head -n 1)
    sleep 1
    info=$(xwininfo -id "$window")
    DX=$(echo "$info" | sed -n 's/.*Absolute upper-left X: *//p')
    DY=$(echo "$info" | sed -n 's/.*Absolute upper-left Y: *//p')
    DW=$(echo "$info" | sed -n 's/.*Width: *//p')
    DH=$(echo "$info" | sed -n 's/.*Height: *//p')
}

# drop FILE PX PY: drags FILE from a drag source onto the point of the dialog
# at PX, PY hundredths of its width and height, as a user drags from a file manager.
drop() {
    "$work/drag-source" "$1" 600 500 >/dev/null 2>&1 &
    dragger=$!
    eval "$(xdotool search --sync --onlyvisible --name '^drag-source$' getwindowgeometry --shell | tr '\n' ' ')"
    sx=$((X + 20)) sy=$((Y + 15)) tx=$((DX + DW * $2 / 100)) ty=$((DY + DH * $3 / 100))
    xdotool mousemove $sx $sy
    sleep 0.3
    xdotool mousedown 1
    for i in $(seq 20); do
        xdotool mousemove $((sx + (tx - sx) * i / 20)) $((sy + (ty - sy) * i / 20))
        sleep 0.05
    done
    xdotool mousemove $((tx + 1)) $ty
    sleep 0.4
    xdotool mouseup 1
    wait "$dragger"
}

# A 20-minute source converted to MPEG Layer-3, 44,100 Hz, 128 kbit/s, stereo:
# the progress window over the dialog, then cancelled.
sox -n -r 44100 -b 16 -c 2 "$work/long.wav" synth 1200 sine 440 sine 660 gain -6
LANG=C.UTF-8 "$build/wavtrn" "$work/long.wav" 2>/dev/null &
program=$!
wait_for_dialog
xdotool key alt+t
xdotool type --delay 20 "$work/long-mp3.wav"
xdotool key alt+f
sleep 1.5
# Typed letters find the tag; the chooser keeps the source's rate and channels
# (96 kbit/s stereo); the list goes by rate, bit rate, channels: two rows down
# is 128 kbit/s stereo.
xdotool key alt+t
xdotool type --delay 100 "MP"
xdotool key alt+a Down Down Return
sleep 1
xdotool key alt+t Return
sleep 3
import -window root "$work/progress-full.png"
convert "$work/progress-full.png" -trim +repage "$docs/progress.png"
xdotool key Escape
sleep 1
xdotool key Return
sleep 0.5
xdotool key Escape
wait "$program"

# Files dropped on the source field and on the destination field.
sox -n -r 22050 -b 16 -c 1 "$work/speech.wav" synth 3 sine 300
LANG=C.UTF-8 "$build/wavtrn" 2>/dev/null &
program=$!
wait_for_dialog
drop "$work/speech.wav" 54 16
drop "$work/speech-copy.wav" 52 48
import -window root "$work/drop-full.png"
convert "$work/drop-full.png" -trim +repage "$docs/drop.png"
xdotool search --onlyvisible --name '^WAVTRN$' windowactivate --sync
xdotool key Escape
wait "$program"

# Twice the size, as on a screen of twice the density.
QT_SCALE_FACTOR=2 LANG=C.UTF-8 "$build/wavtrn" "$work/voice.wav" 2>/dev/null &
program=$!
wait_for_dialog
import -window root "$work/scale2-full.png"
convert "$work/scale2-full.png" -trim +repage "$docs/scale2.png"
xdotool key Escape
wait "$program"
# The source picker over the dialog, moved to the middle of the screen.
LANG=C.UTF-8 "$build/wavtrn" "$work/voice.wav" 2>/dev/null &
program=$!
wait_for_dialog
xdotool windowmove "$window" 280 200
sleep 0.5
xdotool key alt+b
sleep 2
import -window root "$work/picker-full.png"
convert "$work/picker-full.png" -trim +repage "$docs/picker.png"
xdotool key Escape
sleep 0.5
xdotool key Escape
wait "$program"

# Three files named to the program at once: the folder picker (answered by
# typing the folder), the chooser (MPEG Layer-3 at the source's rate), the
# progress window of the batch, and the closing box.
sox -n -r 44100 -b 16 -c 2 "$work/interview-1.wav" synth 600 sine 440 sine 660 gain -6
sox -n -r 44100 -b 16 -c 2 "$work/interview-2.wav" synth 600 sine 330 gain -6
mkdir -p "$work/converted"
LANG=C.UTF-8 "$build/wavtrn" "$work/interview-1.wav" "$work/interview-2.wav" "$work/notes.wav" 2>/dev/null &
program=$!
wait_for_dialog
sleep 1
xdotool type --delay 20 "$work/converted"
xdotool key Return
sleep 1.5
xdotool key alt+t
xdotool type --delay 100 "MP"
xdotool key Return
sleep 2
import -window root "$work/several-full.png"
convert "$work/several-full.png" -trim +repage "$docs/several-progress.png"
xdotool search --sync --onlyvisible --name '^WAVTRN$' >/dev/null
# The closing box comes when both long files are converted.
for i in $(seq 60); do
    [ -n "$(xdotool search --onlyvisible --name '^WAVTRN$' 2>/dev/null | sed -n 2p)" ] && break
    sleep 1
done
sleep 1
import -window root "$work/closing-full.png"
convert "$work/closing-full.png" -trim +repage "$docs/several-done.png"
xdotool key Return
sleep 0.5
xdotool key Escape
wait "$program"
echo "wrote $docs/dialog.png, chooser.png, plain-words.png, progress.png, drop.png, scale2.png, picker.png," \
     "several-progress.png and several-done.png"
