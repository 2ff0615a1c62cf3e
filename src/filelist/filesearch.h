#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// FileSearch: the files below a folder, for Add folder.
//
// Scan order: a folder's own files first, in the order of its listing, then
// the files below each of its sub-folders, depth first. A listing is in name
// order ignoring case (upper-cased UTF-16 units compared by value; names that
// differ only in case keep their exact order). Only the first 200 sub-folders
// of a folder (listing order) are scanned. Hidden files count like any other;
// a symbolic link to a folder is neither queued nor descended, so links can
// never make a scan loop. A folder that cannot be listed adds nothing.

// A find record's name field without the NUL and the blanks it ends with
// (everything from the first NUL on is padding).
QString TrimFindName(const QString& name);

// Appends to `list` every file below `folder` in scan order.
void SearchFolder(const QString& folder, QStringList& list);

namespace FileSearch {

constexpr int MaxSubFolders = 200;

// Listing order of two names in one folder.
bool nameLess(QStringView a, QStringView b);

// One folder read: full paths of its files and of its first 200 sub-folders,
// each in listing order. False (and both empty) when it cannot be listed.
struct Listing {
  QStringList files;
  QStringList folders;
};
bool listFolder(const QString& folder, Listing& out);

// Walks the tree below `folder`, handing the files of each folder (never an
// empty list) to `found` in scan order. One listing is read at a time and
// closed before the walk goes on; the walk keeps its own stack, so a deep
// tree cannot overflow the thread's stack. Ends early once `*stop` is true.
void walk(const QString& folder, const std::function<void(QStringList&&)>& found,
          const std::atomic_bool* stop = nullptr);

}  // namespace FileSearch

// Scans folders on a worker thread, one after the other in the order they
// were started, and hands the paths back on the owner's thread in scan order,
// in batches as they come: the owner's event loop never waits for the disk.
class FolderScan : public QObject {
  Q_OBJECT
 public:
  explicit FolderScan(QObject* parent = nullptr);
  // Stops a running walk and waits for the worker.
  ~FolderScan() override;

  // Queues a scan of `folder` behind those already started.
  void start(const QString& folder);
  // True from a start() until the finished() of the last queued scan.
  bool isRunning() const { return outstanding_ > 0; }

 Q_SIGNALS:
  // Paths found since the last batch, in scan order.
  void found(const QStringList& paths);
  // Every queued scan is over and all its paths were handed on.
  void finished();

 private:
  void run();  // worker thread
  void push(QStringList&& files);
  void deliverSoon();
  void deliver();
  void scanDone();

  std::mutex mutex_;
  std::condition_variable wake_;
  QStringList pending_;  // folders waiting for the worker
  QStringList ready_;    // paths found, not yet handed on
  bool deliveryQueued_ = false;
  bool quit_ = false;
  std::atomic_bool stop_{false};
  std::thread worker_;
  // Owner thread only.
  qint64 batchInterval() const;
  static constexpr qint64 kBatchInterval = 40;  // ms, at the least
  static constexpr qint64 kPathsPerExtraMs = 2000;
  int outstanding_ = 0;
  qint64 delivered_ = 0;  // paths handed on since the scans began
  QTimer throttle_;
  QElapsedTimer lastDelivery_;
};
