#include "ui/formhelpers.h"

#include <QWidget>
#include <QWindow>

namespace {
std::function<bool(QWidget*)>& moveHandler() {
  static std::function<bool(QWidget*)> handler;
  return handler;
}

void scaleFont(QWidget* w, qreal factor) {
  QFont f = w->font();
  if (f.pointSizeF() <= 0) return;  // a pixel-sized font keeps its height anyway
  f.setPointSizeF(f.pointSizeF() * factor);
  w->setFont(f);
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

void keepFontPixelHeights(QWidget* form) {
  const qreal dpi = form->logicalDpiY();
  if (dpi <= 0 || qFuzzyCompare(dpi, 96.0)) return;
  scaleFont(form, 96.0 / dpi);
}
