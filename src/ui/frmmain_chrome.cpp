// The frame of the main window: tool bar, command switch, hot spots, links,
// output-folder picker and moving the window by its body.
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>

#include "settings/core/appdirs.h"
#include "ui/dialogbackend.h"
#include "ui/frmmain.h"

struct frmMain::ChromeState {};
void frmMain::Drop::operator()(ChromeState* p) const {
  delete p;
}


void frmMain::setupChrome() {
  chrome_ = decltype(chrome_)(new ChromeState());
  static const int command[7] = {0, 6, 1, -1, 2, 4, -1};
  for (int i = 0; i < 7; ++i)
    if (CmdToolsBar[i]) connect(CmdToolsBar[i], &QToolButton::clicked, this, [this, i] {
        CmdToolsBar_Click(i);
      });
  Q_UNUSED(command);
  connect(cmdBrowse, &QPushButton::clicked, this, &frmMain::cmdBrowse_Click);
}

void frmMain::CmdToolsBar_Click(int index) {
  static const int command[7] = {0, 6, 1, -1, 2, 4, -1};
  if (index >= 0 && index < 7) imgToolbar_Click(command[index]);
}

void frmMain::imgToolbar_Click(int index) {
  switch (index) {
    case 0: imgAdd_Click(); break;
    case 1: showRemoveMenu(); break;
    case 2: showOptionsDialog(); break;
    case 3: imgHelp_Click(); break;
    case 4: imgExit_Click(); break;
    case 6: AddFolder(); break;
    default: break;
  }
}

void frmMain::imgHelp_Click() {}
void frmMain::imgMin_Click() { showMinimized(); }
void frmMain::lblFeed_Click() {}
void frmMain::lblWeb_Click() {}
void frmMain::cmdBrowse_Click() { imgBrowse_Click(); }
void frmMain::Form_MouseMove() {}

void frmMain::imgBrowse_Click() {
  const auto folder = dialogs_->existingFolder(this, QStringLiteral("请选择一个文件夹:"), txtPath->text());
  txtPath->setText(folder ? *folder : AppDirs::defaultOutputFolder());
}

bool frmMain::chromeEvent(QObject*, QEvent*) { return false; }
void frmMain::mousePressEvent(QMouseEvent* event) { QWidget::mousePressEvent(event); }
void frmMain::mouseMoveEvent(QMouseEvent* event) { QWidget::mouseMoveEvent(event); }
