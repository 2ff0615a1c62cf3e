#pragma once
#include <QAbstractTableModel>
#include <QStringList>

// The queue of source files (lstFile) and, as a two-column table model, the
// rows the list view LV shows: "文件名" (the path) and "格式" (the last three
// characters of the trimmed path, upper-cased). The view shows this model, so
// list and queue are always in step: entry k is row k+1.
class FileQueue : public QAbstractTableModel {
  Q_OBJECT
 public:
  // The reason an entry's last conversion failed (a QString, empty when it
  // did not fail), in every column.
  static constexpr int FailureRole = Qt::UserRole + 1;

  explicit FileQueue(QObject* parent = nullptr);

  // The one step that queues a path.
  void AppendFile(const QString& path);
  // Queues many paths at once (one model update).
  void appendFiles(const QStringList& paths);
  void removeAt(int index);
  void clear();

  int count() const { return static_cast<int>(paths_.size()); }
  bool isEmpty() const { return paths_.isEmpty(); }
  QString at(int index) const { return paths_.value(index); }
  const QStringList& paths() const { return paths_; }

  // Marks an entry as failed with a reason (an empty reason takes the mark
  // away). The mark goes with its entry until the entry leaves the queue.
  void setFailure(int index, const QString& reason);
  QString failure(int index) const { return failures_.value(index); }

  static QString formatTag(const QString& path);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 Q_SIGNALS:
  void countChanged(int count);

 private:
  QStringList paths_;
  QStringList failures_;  // one per entry, in step with paths_
};
