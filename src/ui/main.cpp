#include <QApplication>
#include <QScreen>

#include "runner/prompter.h"
#include "settings/core/singlecopy.h"
#include "ui/chinese.h"
#include "ui/desktop.h"
#include "ui/frmmain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vantrel"));
  QApplication::setOrganizationName(QStringLiteral("Vantrel"));
  // Qt's own dialogs and buttons in Chinese, like the rest of the window.
  Chinese::installQtTranslation(&app);
  Chinese::useQtDialogs();
  // A second copy ends at once: no window, no message, no file written.
  SingleCopyLock lock;
  if (!lock.acquire()) return 0;
  MessageBoxPrompter boxes;
  setPrompter(&boxes);
  frmMain window;
  window.Form_Load();
  // Centred on the screen at start.
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    window.move(screen->availableGeometry().center() - window.rect().center());
  window.show();
  return app.exec();
}
