#include <QApplication>

#include "runner/prompter.h"
#include "ui/desktop.h"
#include "ui/frmmain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vantrel"));
  QApplication::setOrganizationName(QStringLiteral("Vantrel"));
  MessageBoxPrompter boxes;
  setPrompter(&boxes);
  frmMain window;
  window.Form_Load();
  window.show();
  return app.exec();
}
