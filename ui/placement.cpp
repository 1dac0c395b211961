#include "ui/placement.h"

void PlaceOnScreen(long long width, long long height, long long x, long long y,
                   const PixelRect& screen, long long* left, long long* top) {
    long long l = x, t = y;
    if (t + height > screen.bottom) t -= t + height - screen.bottom;
    if (l + width > screen.right) l -= l + width - screen.right;
    if (t < screen.top) t = screen.top;
    if (l < screen.left) l = screen.left;
    if (l == 0 && t == 0) l = 1;
    *left = l;
    *top = t;
}

long long ScaleForDpi(long long pixels, unsigned fromDpi, unsigned toDpi) {
    if (fromDpi == 0 || toDpi == 0 || fromDpi == toDpi) return pixels;
    const long long scaled = pixels * toDpi;
    const long long half = fromDpi / 2;
    return (scaled >= 0 ? scaled + half : scaled - half) / fromDpi;
}
