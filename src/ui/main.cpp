#include <QApplication>
#include <QDir>
#include <QScreen>

#include "filelist/pathhelpers.h"
#include "runner/prompter.h"
#include "settings/core/appdirs.h"
#include "settings/core/singlecopy.h"
#include "ui/chinese.h"
#include "ui/copyhandoff.h"
#include "ui/desktop.h"
#include "ui/frmmain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Settings in ~/.config/Vantrel, work files in ~/.cache/Vantrel.
  QApplication::setApplicationName(QStringLiteral("Vantrel"));
  // Qt's own dialogs and buttons in Chinese, like the rest of the window.
  Chinese::installQtTranslation(&app);
  Chinese::useQtDialogs();
  // Files named on the command line ("Open with") join the list.
  const QStringList files = FilesFromArguments(QApplication::arguments().mid(1), QDir::currentPath());
  // A second copy hands its files to the running one and ends: no window,
  // no message, no file written.
  SingleCopyLock lock;
  if (!lock.acquire()) {
    CopyHandoff::handOff(SingleCopyLock::handoffPath(), files);
    return 0;
  }
  // This copy's work folder; what copies that died left there goes now.
  AppDirs::workFolder();
  MessageBoxPrompter boxes;
  setPrompter(&boxes);
  frmMain window;
  window.Form_Load();
  window.AppendFiles(files);
  CopyHandoff handoff;
  QObject::connect(&handoff, &CopyHandoff::filesHandedIn, &window, &frmMain::takeHandedFiles);
  handoff.listen(SingleCopyLock::handoffPath());
  // Centred on the screen at start.
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    window.move(screen->availableGeometry().center() - window.rect().center());
  window.show();
  return app.exec();
}
