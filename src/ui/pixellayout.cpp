#include "ui/pixellayout.h"

#include <QFont>
#include <QList>
#include <QWidget>
#include <utility>

void applyFixedPixelLayout(QWidget* window, double dpiX, double dpiY, QWidget* downScaled) {
  if (!window || dpiX <= 0 || dpiY <= 0) return;
  const double across = 96.0 / dpiX;
  const double down = 96.0 / dpiY;
  // Fonts are inherited: take every control's font first and set them all
  // afterwards, so that no control is scaled twice through its parent.
  QList<std::pair<QWidget*, QFont>> fonts;
  for (QWidget* w : window->findChildren<QWidget*>()) fonts.append({w, w->font()});
  for (auto& [w, font] : fonts) {
    if (font.pointSizeF() <= 0) continue;  // a pixel-sized font keeps its height already
    double factor = across;
    if (w == downScaled) factor *= down;
    font.setPointSizeF(font.pointSizeF() * factor);
    w->setFont(font);
  }
}

void applyFixedPixelLayout(QWidget* window, QWidget* downScaled) {
  if (!window) return;
  applyFixedPixelLayout(window, window->logicalDpiX(), window->logicalDpiY(), downScaled);
}
