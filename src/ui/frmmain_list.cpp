// The file list of the main window: adding, removing, the hint, folder scan
// and drops.
#include <QEvent>
#include <QFrame>
#include <QTreeView>

#include "filelist/pathhelpers.h"
#include "ui/ccommondialogs.h"
#include "ui/frmmain.h"

struct frmMain::ListState {
  explicit ListState(DialogBackend& b) : dialogs(b) {}
  CCommonDialogs dialogs;
};
void frmMain::Drop::operator()(ListState* p) const {
  delete p;
}


void frmMain::setupList() {
  list_ = decltype(list_)(new ListState(*dialogs_));
  list_->dialogs.Init(this);
}

CCommonDialogs& frmMain::commonDialogs() { return list_->dialogs; }

void frmMain::AppendFile(const QString& path) { lstFile.AppendFile(path); }

void frmMain::RefreshListHint() { picText->setVisible(lstFile.isEmpty()); }

void frmMain::imgAdd_Click() {}
void frmMain::showRemoveMenu() {}
void frmMain::imgRemove_Click() {}
void frmMain::menuRemoveAll_Click() {}
void frmMain::txtAction_Change() {}
void frmMain::AddFolder() {}
QString frmMain::ParsePath(const QString& sPathIn) const { return ::ParsePath(sPathIn); }

bool frmMain::listEvent(QObject*, QEvent*) { return false; }
