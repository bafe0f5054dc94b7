#!/bin/sh
# Regenerates docs/dialog.png and docs/chooser.png from the real program on a
# virtual screen. Needs Xvfb, ImageMagick (import, convert), xdotool and sox.
# Usage: docs/make-screenshots.sh BUILD_DIR
set -eu

build=${1:?usage: $0 BUILD_DIR}
docs=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/wav.XXXX)
display=:$((90 + $$ % 9))

Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$program" 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
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
# The fifth tag below PCM in the catalogue's order.
for i in 1 2 3 4 5; do xdotool key Down; done
xdotool key alt+a
# 44,100 Hz, 4 bits, stereo: the twelfth format.
for i in $(seq 11); do xdotool key Down; done
xdotool key Return
sleep 1
import -window root "$work/dialog-full.png"
eval "$geometry"
convert "$work/dialog-full.png" -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$docs/dialog.png"

xdotool key Escape
wait "$program"
echo "wrote $docs/dialog.png and $docs/chooser.png"
