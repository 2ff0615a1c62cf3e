#include "ui/formhelpers.h"

#include <QWidget>
#include <QWindow>

namespace {
std::function<bool(QWidget*)>& moveHandler() {
  static std::function<bool(QWidget*)> handler;
  return handler;
}
}  // namespace

bool startWindowMove(QWidget* form) {
  if (!form) return false;
  QWidget* top = form->window();
  if (moveHandler()) return moveHandler()(top);
  QWindow* handle = top->windowHandle();
  return handle && handle->startSystemMove();
}

void setWindowMoveHandler(std::function<bool(QWidget*)> handler) {
  moveHandler() = std::move(handler);
}

bool BodyDrag::move(QWidget* form, Qt::MouseButtons buttons) {
  if (!(buttons & Qt::LeftButton) || !pressed_) {
    pressed_ = pressed_ && (buttons & Qt::LeftButton);
    return false;
  }
  pressed_ = false;  // the window system's move loop takes the rest of the drag
  return startWindowMove(form);
}
