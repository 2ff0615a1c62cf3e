#pragma once
#include <QLocalServer>
#include <QObject>
#include <QStringList>

// The files a second copy was started with ("Open with" while Vantrel runs)
// reach the running copy through a local socket beside the single-copy lock;
// the second copy then ends. A message is each path in UTF-8 followed by a
// NUL, and one more NUL at the end; the running copy answers one byte once
// it has taken them.
class CopyHandoff : public QObject {
  Q_OBJECT
 public:
  explicit CopyHandoff(QObject* parent = nullptr);
  // The running copy's side: listens at `path` (a socket left there by a copy
  // that died is replaced; only the lock's holder calls this). False when it
  // cannot listen: the program runs on without it.
  bool listen(const QString& path);
  // The second copy's side: hands `files` (absolute paths; none just brings
  // the window up) to the copy listening at `path`. True once that copy has
  // taken them; false when none answers within `timeoutMs`.
  static bool handOff(const QString& path, const QStringList& files, int timeoutMs = 5000);

 Q_SIGNALS:
  void filesHandedIn(const QStringList& files);

 private:
  QLocalServer server_;
};
