#pragma once
#include <Qt>
#include <functional>

class QWidget;

// Small pieces shared by the program's forms.

// Moving a form by a press-and-drag on its body: hands the drag to the window
// system's own move loop. True when the window system took it over.
bool startWindowMove(QWidget* form);
// Tests record the moves instead of asking the window system; an empty
// handler restores the window system's move.
void setWindowMoveHandler(std::function<bool(QWidget*)> handler);

// The press-and-drag on a form's body that moves it: feed it the form's mouse
// presses and moves. Only a move with the left button held that follows a
// left press on the body starts the window move, once per press.
class BodyDrag {
 public:
  void press(Qt::MouseButton button) { pressed_ = button == Qt::LeftButton; }
  // True when this move handed the drag to the window move.
  bool move(QWidget* form, Qt::MouseButtons buttons);

 private:
  bool pressed_ = false;
};
