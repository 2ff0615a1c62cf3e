#pragma once
#include <QIdentityProxyModel>

class FileQueue;

// How the list view LV shows the queue: the same rows and columns, with the
// file being converted standing out (bold on a light background) and a file
// whose last conversion failed carrying a warning icon and its reason as the
// row's tool tip.
class QueueRows : public QIdentityProxyModel {
  Q_OBJECT
 public:
  explicit QueueRows(FileQueue* queue, QObject* parent = nullptr);

  // The file being converted: the head of the queue stands out while it is
  // this file. An empty path: none.
  void setRunning(const QString& source);
  bool isRunningRow(int row) const;

  QVariant data(const QModelIndex& index, int role) const override;

 private:
  void headChanged();

  FileQueue* queue_;
  QString running_;
};
