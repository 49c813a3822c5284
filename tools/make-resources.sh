#!/usr/bin/env bash
# Rebuilds the packaged pictures, sounds and intro movies under resources/.
# The outputs are committed; run this only to change them. Needs ImageMagick, sox and ffmpeg;
# `make-resources.sh icons` remakes only the tab-bar and application icons (drawn as SVG here,
# the application's PNG sizes rendered with gdk-pixbuf-thumbnailer); `make-resources.sh
# pictures` remakes the icons, backgrounds and tick icons only.
set -euo pipefail
cd "$(dirname "$0")/.."
images=resources/images
sounds=resources/sounds
movies=resources/movies
icons=resources/icons
mkdir -p "$images" "$sounds" "$movies" "$icons"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# tab_icon NAME PATH_DATA: a white glyph on a 30 x 30 canvas, for the tab bar.
tab_icon() {
  cat >"$images/$1" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="30" height="30" viewBox="0 0 30 30">
  <g fill="none" stroke="#ffffff" stroke-width="2.4" stroke-linecap="round" stroke-linejoin="round">$2</g>
</svg>
SVG
}

make_icons() {
  tab_icon tab_home.svg '<path d="M4 15 L15 5 L26 15"/><path d="M7 13 V25 H13 V18 H17 V25 H23 V13"/>'
  tab_icon tab_street.svg '<path d="M10 26 L13 4"/><path d="M20 26 L17 4"/><path d="M15 8 V11 M15 15 V18 M15 22 V25"/>'
  tab_icon tab_race.svg '<path d="M7 26 V4"/><path d="M7 5 H24 V15 H7"/><path d="M12 5 V15 M17 5 V15 M7 10 H24"/>'
  tab_icon tab_cars.svg '<path d="M4 20 V15 L8 9 H22 L26 15 V20 Z"/><circle cx="9.5" cy="21" r="2.6"/><circle cx="20.5" cy="21" r="2.6"/><path d="M9 14 H21"/>'
  tab_icon tab_recruit.svg '<circle cx="11" cy="10" r="4"/><path d="M3 25 C3 18 19 18 19 25"/><path d="M23 9 V17 M19 13 H27"/>'

  local app=net.streetclient.StreetClient
  cat >"$icons/$app.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#24407e"/><stop offset="1" stop-color="#070b1c"/>
    </linearGradient>
  </defs>
  <rect x="8" y="8" width="240" height="240" rx="44" fill="url(#sky)"/>
  <path d="M96 236 L118 60 M160 236 L138 60" stroke="#9aa3b8" stroke-width="10" fill="none"/>
  <path d="M128 80 V100 M128 124 V150 M128 176 V212" stroke="#ffd24a" stroke-width="8" fill="none"/>
  <g fill="#d8211c" stroke="#ffffff" stroke-width="6" stroke-linejoin="round">
    <path d="M58 172 V150 L78 124 H178 L198 150 V172 Z"/>
  </g>
  <g fill="#111111" stroke="#ffffff" stroke-width="5">
    <circle cx="88" cy="176" r="16"/><circle cx="168" cy="176" r="16"/>
  </g>
</svg>
SVG
  for size in 48 128 256; do
    gdk-pixbuf-thumbnailer -s "$size" "$icons/$app.svg" "$icons/$app-$size.png"
  done
}

# background NAME TOP_COLOUR BOTTOM_COLOUR PATTERN ANGLE
# A dark vertical gradient under a faint texture of its own, so that each kind of page has its
# colour and its grain. Drawn at double size (NAME@2x, for scale 2 and above) and reduced from
# it, so that both sizes show the same picture.
background() {
  local name=$1 top=$2 bottom=$3 pattern=$4 angle=$5
  local stem=${name%.jpg}
  convert -size 640x960 "gradient:$top-$bottom" \
    \( -size 1400x1400 "pattern:$pattern" -negate -scale 200% -evaluate multiply 0.07 -background black \
       -rotate "$angle" -gravity center -crop 640x960+0+0 +repage \) \
    -compose plus -composite \
    \( -size 640x960 xc:gray50 +noise Gaussian -colorspace gray -evaluate multiply 0.06 \) \
    -compose plus -composite \
    -strip -interlace none -sampling-factor 4:2:0 -quality 78 "$images/$stem@2x.jpg"
  convert "$images/$stem@2x.jpg" -resize 320x480 \
    -strip -interlace none -sampling-factor 4:2:0 -quality 72 "$images/$name"
}

make_pictures() {
  background bg_start.jpg      '#3a3a44' '#050507' horizontal2 0
  background bg_default.jpg    '#123070' '#02040f' leftshingle 45
  background bg_fight.jpg      '#7a1410' '#120202' checkerboard 20
  background bg_investment.jpg '#0f5a2a' '#010d05' hexagons 0
  background bg_bank.jpg       '#6a5010' '#0f0a01' bricks 0
  background bg_hospital.jpg   '#0a5a5e' '#010c0d' crosshatch45 0
  background bg_other.jpg      '#4a1a6a' '#0a0312' circles 0

  # Tick icons of the Recruit table: ticked, and not ticked, at 30 and 60 pixels.
  for size in 30 60; do
    local suffix=""
    [ "$size" = 60 ] && suffix="@2x"
    local f=$(( size / 30 ))
    convert -size "${size}x${size}" xc:none -fill none -stroke '#2fbf3a' -strokewidth $((4 * f)) \
      -draw "stroke-linecap round stroke-linejoin round polyline $((6 * f)),$((16 * f)) $((12 * f)),$((22 * f)) $((24 * f)),$((8 * f))" \
      -strip -define png:exclude-chunks=date,time "$images/invited_icon$suffix.png"
    convert -size "${size}x${size}" xc:none -fill none -stroke '#9a9a9a' -strokewidth $((2 * f)) \
      -draw "circle $((15 * f)),$((15 * f)) $((15 * f)),$((3 * f))" \
      -strip -define png:exclude-chunks=date,time "$images/none$suffix.png"
  done
}

case "${1:-}" in
  icons)
    make_icons
    ls -l "$images"/tab_*.svg "$icons"
    exit 0 ;;
  pictures)
    command -v convert >/dev/null || { echo "make-resources: convert is missing" >&2; exit 1; }
    make_icons
    make_pictures
    ls -l "$images"
    exit 0 ;;
esac
make_icons

for tool in convert sox ffmpeg; do
  command -v "$tool" >/dev/null || { echo "make-resources: $tool is missing" >&2; exit 1; }
done
make_pictures

# The movies' titles need a font ImageMagick knows; without one they are still made, untitled.
font=""
for candidate in DejaVu-Sans-Bold Nimbus-Sans-Bold Helvetica-Bold; do
  if convert -list font | grep -qx "  Font: $candidate"; then font=$candidate; break; fi
done
[ -n "$font" ] || echo "make-resources: no usable font, the movies stay untitled" >&2

# Sounds: 11.025 kHz mono 16-bit keeps them small.
sox -q -n -r 11025 -c 1 -b 16 "$sounds/tap.aif" synth 0.025 square 1800 fade 0 0.025 0.02 gain -8
sox -q -n -r 11025 -c 2 -b 16 "$work/horn.wav" synth 0.6 sawtooth 415 sawtooth 523
sox -q "$work/horn.wav" -c 1 "$sounds/horn.aif" remix - fade 0.02 0.6 0.12 gain -n -6
sox -q -n -r 11025 -c 1 -b 16 "$sounds/engine.caf" synth 1.2 sawtooth 55:95 gain -8 tremolo 18 60 \
  lowpass 900 fade 0.1 1.2 0.3 gain -n -6
# CAF in its two usual encodings beside engine.caf: IMA4 ADPCM (a rising siren) and 16-bit
# little-endian PCM (a tyre squeal).
sox -q -n -r 22050 -c 1 -b 16 "$work/siren.wav" synth 0.8 sine 600:1200 fade 0.02 0.8 0.1 gain -n -8
ffmpeg -v error -y -i "$work/siren.wav" -c:a adpcm_ima_qt -map_metadata -1 -fflags +bitexact -f caf "$sounds/siren.caf"
sox -q -n -r 11025 -c 1 -b 16 "$work/brake.wav" synth 0.4 pinknoise bandpass 2500 600 fade 0 0.4 0.15 gain -n -10
ffmpeg -v error -y -i "$work/brake.wav" -c:a pcm_s16le -map_metadata -1 -fflags +bitexact -f caf "$sounds/brake.caf"

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
