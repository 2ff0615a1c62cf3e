#include "ui/queuerows.h"

#include <QApplication>
#include <QBrush>
#include <QFont>
#include <QIcon>
#include <QStyle>

#include "filelist/filequeue.h"

namespace {
const QColor kRunningBackground(255, 236, 179);
}

QueueRows::QueueRows(FileQueue* queue, QObject* parent) : QIdentityProxyModel(parent), queue_(queue) {
  setSourceModel(queue);
  // A removed head hands the place to the next file, which may or may not be
  // the one running.
  connect(queue, &QAbstractItemModel::rowsRemoved, this, &QueueRows::headChanged);
  connect(queue, &QAbstractItemModel::modelReset, this, &QueueRows::headChanged);
}

void QueueRows::setRunning(const QString& source) {
  if (running_ == source) return;
  running_ = source;
  headChanged();
}

bool QueueRows::isRunningRow(int row) const {
  // Always the head: a batch converts the head of the queue.
  return row == 0 && !running_.isEmpty() && !queue_->isEmpty() && queue_->at(0) == running_;
}

void QueueRows::headChanged() {
  if (rowCount() > 0) Q_EMIT dataChanged(index(0, 0), index(0, columnCount() - 1));
}

QVariant QueueRows::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int row = index.row();
  switch (role) {
    case Qt::BackgroundRole:
      if (isRunningRow(row)) return QBrush(kRunningBackground);
      break;
    case Qt::FontRole:
      if (isRunningRow(row)) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
      break;
    case Qt::DecorationRole:
      if (index.column() == 0 && !queue_->failure(row).isEmpty())
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
      break;
    case Qt::ToolTipRole: {
      const QString reason = queue_->failure(row);
      if (!reason.isEmpty()) return reason;
      break;
    }
    default:
      break;
  }
  return QIdentityProxyModel::data(index, role);
}
