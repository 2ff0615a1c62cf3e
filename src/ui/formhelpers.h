#pragma once
#include <functional>

class QWidget;

// Small pieces shared by the program's forms.

// Moving a form by a press-and-drag on its body: hands the drag to the window
// system's own move loop. True when the window system took it over.
bool startWindowMove(QWidget* form);
// Tests record the moves instead of asking the window system; an empty
// handler restores the window system's move.
void setWindowMoveHandler(std::function<bool(QWidget*)> handler);

// Keeps the 96-dots-per-inch pixel height of the font of `form`, and so of
// every control that inherits it, on a screen of any logical resolution
// (geometry is already in logical pixels).
void keepFontPixelHeights(QWidget* form);
