#pragma once

namespace kit {

struct Point {
    double x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0, height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;
    Rect() = default;
    Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
    bool operator==(const Rect&) const = default;
};

struct Color {
    double red = 0, green = 0, blue = 0, alpha = 0;
    static Color clearColor() { return {0, 0, 0, 0}; }
    static Color blackColor() { return {0, 0, 0, 1}; }
    static Color whiteColor() { return {1, 1, 1, 1}; }
    bool operator==(const Color&) const = default;
};

} // namespace kit
