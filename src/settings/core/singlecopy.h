#pragma once
#include <QLockFile>
#include <QString>

// Keeps a second copy of Vantrel from running beside the first: a lock file in
// the user's runtime folder, held for the life of the process. A lock left by
// a copy that crashed (its process is gone, or the file is unreadable and
// nobody holds it) is taken over.
class SingleCopyLock {
 public:
  explicit SingleCopyLock(const QString& path = defaultPath());
  // False only when another running copy holds the lock; a lock that cannot
  // be made at all (no runtime folder, no permission) lets the program run.
  bool acquire();
  static QString defaultPath();
  // The running copy's local socket, beside the default lock: a second copy
  // hands its files there (ui/copyhandoff.h).
  static QString handoffPath();

 private:
  QLockFile lock_;
};
