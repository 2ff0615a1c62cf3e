// The file list of the main window: adding, removing, the hint, folder scan
// and drops.
#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

#include "filelist/filesearch.h"
#include "filelist/pathhelpers.h"
#include "ui/ccommondialogs.h"
#include "ui/dialogbackend.h"
#include "ui/frmmain.h"
#include "ui/frmmenu.h"

namespace {
const QString kDropHint = QStringLiteral("拖拽文件到这里开始转换");
const QString kSearching = QStringLiteral("搜索文件...");

// The local files and folders of a drop, in the order the data lists them.
QStringList droppedPaths(const QMimeData* data) {
  QStringList paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && !url.toLocalFile().isEmpty())
      paths.append(QDir::toNativeSeparators(url.toLocalFile()));
  return paths;
}
}  // namespace

struct frmMain::ListState {
  explicit ListState(DialogBackend& b) : dialogs(b) {}
  CCommonDialogs dialogs;
  QString lastFolder;  // folder of the last file added, for the next Add file
  std::unique_ptr<frmMenu> menu;
  FolderScan scan;
};
void frmMain::Drop::operator()(ListState* p) const {
  delete p;
}

void frmMain::setupList() {
  list_ = decltype(list_)(new ListState(*dialogs_));
  list_->dialogs.Init(this);
  list_->menu = std::make_unique<frmMenu>(*this, txtAction);

  // Two columns that fill the list exactly: the path about four fifths, the
  // tag the rest. Long paths are shortened in the middle, never scrolled.
  LV->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  LV->setTextElideMode(Qt::ElideMiddle);
  QHeaderView* header = LV->header();
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Fixed);
  header->setSectionResizeMode(1, QHeaderView::Stretch);
  header->resizeSection(0, 361);

  // Drops are handled by listEvent() on the viewport.
  LV->setAcceptDrops(true);
  LV->viewport()->setAcceptDrops(true);
  LV->viewport()->installEventFilter(this);

  connect(txtAction, &QLineEdit::textChanged, this, &frmMain::txtAction_Change);
  connect(&list_->scan, &FolderScan::found, this,
          [this](const QStringList& paths) { lstFile.appendFiles(paths); });
  connect(&list_->scan, &FolderScan::finished, this, [this] {
    lblText->setText(kDropHint);
    RefreshListHint();
    Q_EMIT folderScanFinished();
  });
  RefreshListHint();
}

CCommonDialogs& frmMain::commonDialogs() { return list_->dialogs; }

void frmMain::AppendFile(const QString& path) { lstFile.AppendFile(path); }

void frmMain::AppendFiles(const QStringList& paths) {
  for (const QString& path : paths) AppendFile(path);
  if (!lstFile.isEmpty()) picText->hide();
}

void frmMain::takeHandedFiles(const QStringList& paths) {
  AppendFiles(paths);
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void frmMain::RefreshListHint() { picText->setVisible(lstFile.isEmpty()); }

void frmMain::imgAdd_Click() {
  CCommonDialogs& dialog = list_->dialogs;
  dialog.setTitle(QStringLiteral("Open Files"));
  if (!list_->lastFolder.isEmpty()) dialog.setPath(list_->lastFolder);
  dialog.setFilter(QStringLiteral("所有格式文件(*.*)|*.*"));
  if (!dialog.ShowOpen()) return;
  const QString file = dialog.FileName();
  if (!file.isEmpty()) {
    list_->lastFolder = ParsePath(file);
    AppendFile(file);
  }
  RefreshListHint();
}

void frmMain::showRemoveMenu() { list_->menu->menuRemove->exec(QCursor::pos()); }

void frmMain::imgRemove_Click() {
  if (!lstFile.isEmpty()) {
    const QModelIndexList rows = LV->selectionModel()->selectedRows();
    if (!rows.isEmpty()) lstFile.removeAt(rows.first().row());
  }
  if (lstFile.isEmpty()) picText->show();
}

void frmMain::menuRemoveAll_Click() {
  // List and queue are one model: they empty together, so nothing that runs
  // meanwhile can leave one of them behind.
  lstFile.clear();
  picText->show();
}

void frmMain::txtAction_Change() {
  const QString command = txtAction->text();
  if (command == QLatin1String("RemoveSelected")) imgRemove_Click();
  txtAction->setText(QString());
}

void frmMain::AddFolder() {
  const auto folder =
      dialogs_->existingFolder(this, QStringLiteral("选择一个文件夹:"), QString());
  picText->show();
  lblText->setText(kSearching);
  if (!folder || folder->isEmpty()) {
    // Nothing to search; a scan still running keeps its notice.
    if (!list_->scan.isRunning()) {
      lblText->setText(kDropHint);
      RefreshListHint();
    }
    return;
  }
  // The walk runs on a worker thread; its files join the list in batches as
  // they are found, so the window keeps repainting and taking clicks and
  // drops meanwhile. A second Add folder queues behind the first.
  list_->scan.start(*folder);
}

bool frmMain::folderScanRunning() const { return list_->scan.isRunning(); }

QString frmMain::ParsePath(const QString& sPathIn) const { return ::ParsePath(sPathIn); }

bool frmMain::listEvent(QObject* watched, QEvent* event) {
  if (!LV || watched != LV->viewport()) return false;
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (droppedPaths(drag->mimeData()).isEmpty()) {
        drag->ignore();
      } else {
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
      }
      return true;
    }
    case QEvent::DragLeave:
      return true;
    case QEvent::Drop: {
      // LV_OLEDragDrop: every local file or folder joins the end of the
      // queue, also behind a running batch; a drop never starts one.
      auto* drop = static_cast<QDropEvent*>(event);
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      AppendFiles(droppedPaths(drop->mimeData()));
      return true;
    }
    default:
      return false;
  }
}
