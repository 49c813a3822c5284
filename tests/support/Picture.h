#pragma once

// Pictures the window's tests read (snapshots, the packaged art), with the library the window
// draws with. Pixels are (r, g, b), a transparent one as it would show over white.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <array>
#include <cstdlib>
#include <string>

namespace scenario {

struct Pixel {
    int r, g, b;
    int operator[](int channel) const { return channel == 0 ? r : channel == 1 ? g : b; }
    int distance(const Pixel& o) const { return std::abs(r - o.r) + std::abs(g - o.g) + std::abs(b - o.b); }
    int brightness() const { return (r + g + b) / 3; }
};

class Picture {
public:
    explicit Picture(const std::string& path) : pixbuf_(gdk_pixbuf_new_from_file(path.c_str(), nullptr)) {}
    ~Picture()
    {
        if (pixbuf_)
            g_object_unref(pixbuf_);
    }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    bool loaded() const { return pixbuf_ != nullptr; }
    int width() const { return gdk_pixbuf_get_width(pixbuf_); }
    int height() const { return gdk_pixbuf_get_height(pixbuf_); }
    Pixel at(int x, int y) const
    {
        int channels = gdk_pixbuf_get_n_channels(pixbuf_);
        const guchar* p = gdk_pixbuf_read_pixels(pixbuf_) + y * gdk_pixbuf_get_rowstride(pixbuf_) + x * channels;
        int alpha = channels == 4 ? p[3] : 255;
        auto over = [alpha](int v) { return (v * alpha + 255 * (255 - alpha)) / 255; };
        return {over(p[0]), over(p[1]), over(p[2])};
    }
    // Mean channel difference between this picture's square at (x, y) and all of `other`.
    double difference(int x, int y, const Picture& other, int side) const
    {
        long total = 0;
        for (int j = 0; j < side; ++j)
            for (int i = 0; i < side; ++i)
                total += at(x + i, y + j).distance(other.at(i, j));
        return static_cast<double>(total) / (side * side * 3);
    }

private:
    GdkPixbuf* pixbuf_;
};

} // namespace scenario
