// Where a saved window position is put back on the screen.
#pragma once

// A rectangle in screen pixels, 64-bit so that no hand-edited value can wrap.
struct PixelRect {
    long long left = 0, top = 0, right = 0, bottom = 0;
};

// Where a window of the given size goes when it is put back at (x, y) inside the
// screen: first pulled back up and left by what sticks out below and to the right,
// then down and right so that no edge lies above or left of the screen, and the
// corner (0, 0) itself becomes (1, 0).
void PlaceOnScreen(long long width, long long height, long long x, long long y,
                   const PixelRect& screen, long long* left, long long* top);

// A length in pixels measured at fromDpi, at toDpi instead, rounded to the nearest
// pixel; unchanged when either scale is unknown (0).
long long ScaleForDpi(long long pixels, unsigned fromDpi, unsigned toDpi);
