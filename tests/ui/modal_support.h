#pragma once
// Acting on a modal box or dialog while it runs its own message loop, the way
// a user would meet it.
#include <QApplication>
#include <QTimer>
#include <functional>
#include <memory>

namespace modal {

// Runs `act` once a modal widget of type T is active, polling every 10 ms
// for up to five seconds. `act` should close it (or the test hangs).
template <class T>
void when(std::function<void(T*)> act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  auto tries = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [poll, tries, act] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w && w->isVisible()) {
      poll->deleteLater();
      act(w);
    } else if (++*tries > 500) {
      poll->deleteLater();
    }
  });
  poll->start();
}

}  // namespace modal
