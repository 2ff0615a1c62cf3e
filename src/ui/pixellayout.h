#pragma once

class QWidget;

// Keeps a window's 96-dpi look on any screen. Geometry is already in logical
// pixels; what changes with the screen's logical dpi is the pixel height of a
// font of a given point size. So every control of `window` has its font point
// size multiplied by the across factor 96 / dpiX, and `downScaled` (the main
// window's output-folder box) once more by the down factor 96 / dpiY.
void applyFixedPixelLayout(QWidget* window, double dpiX, double dpiY,
                           QWidget* downScaled = nullptr);
// The same with the screen's own logical dpi.
void applyFixedPixelLayout(QWidget* window, QWidget* downScaled = nullptr);
