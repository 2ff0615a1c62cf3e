#include "filelist/filequeue.h"

FileQueue::FileQueue(QObject* parent) : QAbstractTableModel(parent) {}

void FileQueue::AppendFile(const QString& path) { appendFiles({path}); }

void FileQueue::appendFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  const int first = count();
  beginInsertRows({}, first, first + static_cast<int>(paths.size()) - 1);
  paths_ += paths;
  for (qsizetype i = 0; i < paths.size(); ++i) failures_.append(QString());
  endInsertRows();
  Q_EMIT countChanged(count());
}

void FileQueue::removeAt(int index) {
  if (index < 0 || index >= count()) return;
  beginRemoveRows({}, index, index);
  paths_.removeAt(index);
  failures_.removeAt(index);
  endRemoveRows();
  Q_EMIT countChanged(count());
}

void FileQueue::clear() {
  if (paths_.isEmpty()) return;
  beginResetModel();
  paths_.clear();
  failures_.clear();
  endResetModel();
  Q_EMIT countChanged(0);
}

void FileQueue::setFailure(int index, const QString& reason) {
  if (index < 0 || index >= count() || failures_[index] == reason) return;
  failures_[index] = reason;
  Q_EMIT dataChanged(this->index(index, 0), this->index(index, 1));
}

QString FileQueue::formatTag(const QString& path) {
  const QString t = path.trimmed();
  return (t.size() < 3 ? t : t.right(3)).toUpper();
}

int FileQueue::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }
int FileQueue::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant FileQueue::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count()) return {};
  if (role == FailureRole) return failures_[index.row()];
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  const QString& p = paths_[index.row()];
  return index.column() == 0 ? p : formatTag(p);
}

QVariant FileQueue::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == 0 ? QStringLiteral("文件名") : QStringLiteral("格式");
}

Qt::ItemFlags FileQueue::flags(const QModelIndex& index) const {
  // A flat list: saying so spares the view a question per row each time it
  // lays out the rows.
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                         : Qt::NoItemFlags;
}
