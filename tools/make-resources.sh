#!/usr/bin/env bash
# Rebuilds the packaged pictures, sounds and intro movies under resources/.
# The outputs are committed; run this only to change them. Needs ImageMagick, sox and ffmpeg.
set -euo pipefail
cd "$(dirname "$0")/.."
images=resources/images
sounds=resources/sounds
movies=resources/movies
mkdir -p "$images" "$sounds" "$movies"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in convert sox ffmpeg; do
  command -v "$tool" >/dev/null || { echo "make-resources: $tool is missing" >&2; exit 1; }
done

# Labels need a font ImageMagick knows; without one the pictures are still drawn, only unlabelled.
font=""
for candidate in DejaVu-Sans-Bold Nimbus-Sans-Bold Helvetica-Bold; do
  if convert -list font | grep -qx "  Font: $candidate"; then font=$candidate; break; fi
done
[ -n "$font" ] || echo "make-resources: no usable font, backgrounds stay unlabelled" >&2


# background NAME TOP_COLOUR BOTTOM_COLOUR STRIPE_ANGLE
# A dark vertical gradient with faint diagonal stripes, labelled with its own file name so
# that a screenshot tells which picture is up.
background() {
  local name=$1 top=$2 bottom=$3 angle=$4
  local label=()
  if [ -n "$font" ]; then
    label=(-font "$font" -gravity center -pointsize 28
           -fill 'rgba(0,0,0,0.6)' -annotate +2+82 "$name"
           -fill 'rgba(255,255,255,0.55)' -annotate +0+80 "$name")
  fi
  convert -size 320x480 "gradient:$top-$bottom" \
    \( -size 1000x1000 pattern:leftshingle -negate -evaluate multiply 0.06 -background black -rotate "$angle" \
       -gravity center -crop 320x480+0+0 +repage \) \
    -compose plus -composite \
    "${label[@]}" \
    -strip -interlace none -sampling-factor 4:2:0 -quality 72 "$images/$name"
}

background bg_start.jpg      '#3a3a44' '#050507' 0
background bg_default.jpg    '#123070' '#02040f' 45
background bg_fight.jpg      '#7a1410' '#120202' -45
background bg_investment.jpg '#0f5a2a' '#010d05' 30
background bg_bank.jpg       '#6a5010' '#0f0a01' -30
background bg_hospital.jpg   '#0a5a5e' '#010c0d' 60
background bg_other.jpg      '#4a1a6a' '#0a0312' -60

# Tick icons of the Recruit table: ticked, and not ticked.
convert -size 30x30 xc:none -fill none -stroke '#2fbf3a' -strokewidth 4 \
  -draw 'stroke-linecap round stroke-linejoin round polyline 6,16 12,22 24,8' \
  -strip -define png:exclude-chunks=date,time "$images/invited_icon.png"
convert -size 30x30 xc:none -fill none -stroke '#9a9a9a' -strokewidth 2 \
  -draw 'circle 15,15 15,3' \
  -strip -define png:exclude-chunks=date,time "$images/none.png"

# Sounds: 11.025 kHz mono 16-bit keeps them small.
sox -q -n -r 11025 -c 1 -b 16 "$sounds/tap.aif" synth 0.025 square 1800 fade 0 0.025 0.02 gain -8
sox -q -n -r 11025 -c 2 -b 16 "$work/horn.wav" synth 0.6 sawtooth 415 sawtooth 523
sox -q "$work/horn.wav" -c 1 "$sounds/horn.aif" remix - fade 0.02 0.6 0.12 gain -n -6
sox -q -n -r 11025 -c 1 -b 16 "$sounds/engine.caf" synth 1.2 sawtooth 55:95 gain -8 tremolo 18 60 \
  lowpass 900 fade 0.1 1.2 0.3 gain -n -6

# Intro movies: a 3-second title card that fades in and out, with and without a tone.
card="$work/card.png"
if [ -n "$font" ]; then
  convert -size 320x480 xc:black -font "$font" -fill white -gravity center -pointsize 34 \
    -annotate +0-10 'street-client' -fill '#bbbbbb' -pointsize 14 -annotate +0+30 'intro' "$card"
else
  convert -size 320x480 xc:black -fill white -draw 'rectangle 40,230 280,250' "$card"
fi
video=(-loop 1 -framerate 10 -t 3 -i "$card")
encode=(-vf 'fade=t=in:st=0:d=0.8,fade=t=out:st=2.2:d=0.8,format=yuv420p'
        -c:v libx264 -preset veryslow -crf 34 -tune stillimage -r 10
        -map_metadata -1 -fflags +bitexact -movflags +faststart -f mp4)
ffmpeg -v error -y "${video[@]}" -f lavfi -t 3 -i 'sine=frequency=440:sample_rate=22050' \
  "${encode[@]}" -c:a aac -b:a 24k -ac 1 -af 'afade=t=in:d=0.3,afade=t=out:st=2.4:d=0.6,volume=0.3' \
  -shortest "$movies/halvex_v1.m4v"
ffmpeg -v error -y "${video[@]}" "${encode[@]}" -an "$movies/halvex_no_sound_v1.m4v"

ls -l "$images" "$sounds" "$movies"
