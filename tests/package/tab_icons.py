#!/usr/bin/python3
# Whether a window snapshot shows the five tab icons: in the tab bar (the bottom 49 points), the
# square above each tab's title must hold the icon's light strokes on the bar's dark ground.
# Without the SVG loader the squares stay plain. Prints what it saw; exit status 1 when an icon
# is missing.
#   tab_icons.py SNAPSHOT.png
import sys

import gi
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf

picture = GdkPixbuf.Pixbuf.new_from_file(sys.argv[1])
width, height = picture.get_width(), picture.get_height()
scale = width // 320
channels, stride, pixels = picture.get_n_channels(), picture.get_rowstride(), picture.get_pixels()


def brightness(x, y):
    at = y * stride + x * channels
    return (pixels[at] + pixels[at + 1] + pixels[at + 2]) // 3


bar = height - 49 * scale
missing = []
for tab in range(5):
    left = tab * width // 5
    # The icon's 30-point square sits above the title, centred in the tab.
    xs = range(left + width // 10 - 15 * scale, left + width // 10 + 15 * scale)
    ys = range(bar + 3 * scale, bar + 31 * scale)
    light = sum(brightness(x, y) > 110 for x in xs for y in ys)
    share = light / (len(xs) * len(ys))
    print(f"tab {tab}: {share:.1%} of the icon's square is light")
    if share < 0.03:
        missing.append(tab)
if missing:
    print(f"no icon drawn in tab(s) {missing}")
    sys.exit(1)
