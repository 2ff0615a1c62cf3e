#include "filelist/filesearch.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <cstring>
#include <vector>

#if defined(Q_OS_UNIX)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#else
#include <filesystem>
#endif

namespace {

inline char16_t upper(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  return static_cast<char16_t>(QChar::toUpper(char32_t(c)));
}

// One entry of a listing: its full path, of which the name starts at the
// listing's prefix length.
struct Entry {
  QString path;
  bool folder;
};

// readListing: the one place that talks to the system's directory API. Reads
// every entry of `folder` except "." and ".." into `entries`, unsorted, each
// path made of `prefix` and the name; a symbolic link to a folder is left out.
// False when the folder cannot be listed.
#if defined(Q_OS_UNIX)

bool readListing(const QString& folder, const QString& prefix, std::vector<Entry>& entries) {
  DIR* dir = ::opendir(QFile::encodeName(folder).constData());
  if (!dir) return false;
  const int fd = ::dirfd(dir);
  QStringDecoder decode(QStringConverter::System, QStringConverter::Flag::Stateless);
  while (const dirent* d = ::readdir(dir)) {
    const char* name = d->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    unsigned char type = d->d_type;
    struct stat st;
    if (type == DT_UNKNOWN) {  // file systems that do not say: ask
      if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
        type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
    }
    // A link to a folder is skipped: descending it could loop for ever.
    if (type == DT_LNK && ::fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode)) continue;

    const qsizetype length = static_cast<qsizetype>(std::strlen(name));
    QString path(prefix.size() + length, Qt::Uninitialized);
    std::copy_n(prefix.constData(), prefix.size(), path.data());
    const QChar* end = decode.appendToBuffer(path.data() + prefix.size(), QByteArrayView(name, length));
    path.truncate(end - path.constData());
    entries.push_back({std::move(path), type == DT_DIR});
  }
  ::closedir(dir);
  return true;
}

#else

namespace fs = std::filesystem;

bool readListing(const QString& folder, const QString& prefix, std::vector<Entry>& entries) {
  std::error_code ec;
  fs::directory_iterator it(fs::path(folder.toStdWString()), ec);
  if (ec) return false;
  // An error while reading ends the listing; what was read still counts.
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    std::error_code tec;
    bool isFolder = false;
    if (it->is_symlink(tec)) {
      // A link to a folder is skipped: descending it could loop for ever.
      if (it->is_directory(tec)) continue;
    } else {
      isFolder = it->is_directory(tec);
    }
    const QString name = TrimFindName(QString::fromStdWString(it->path().filename().native()));
    if (!name.isEmpty()) entries.push_back({prefix + name, isFolder});
  }
  return true;
}

#endif

}  // namespace

QString TrimFindName(const QString& name) {
  qsizetype end = name.indexOf(QChar(0));
  if (end < 0) end = name.size();
  while (end > 0 && name[end - 1] == QLatin1Char(' ')) --end;
  return name.left(end);
}

void SearchFolder(const QString& folder, QStringList& list) {
  FileSearch::walk(folder, [&list](QStringList&& files) { list += files; });
}

namespace FileSearch {

bool nameLess(QStringView a, QStringView b) {
  const qsizetype n = std::min(a.size(), b.size());
  const char16_t* pa = a.utf16();
  const char16_t* pb = b.utf16();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t x = upper(pa[i]), y = upper(pb[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a.compare(b, Qt::CaseSensitive) < 0;
}

QString joinPath(const QString& folder, const QString& name) {
  if (folder.endsWith(QDir::separator())) return folder + name;
  return folder + QDir::separator() + name;
}

bool listFolder(const QString& folder, Listing& out) {
  out.files.clear();
  out.folders.clear();
  const QString prefix = joinPath(folder, QString());
  std::vector<Entry> entries;
  if (!readListing(folder, prefix, entries)) return false;
  const qsizetype from = prefix.size();
  std::sort(entries.begin(), entries.end(), [from](const Entry& a, const Entry& b) {
    return nameLess(QStringView(a.path).mid(from), QStringView(b.path).mid(from));
  });
  for (Entry& e : entries) {
    if (!e.folder)
      out.files.append(std::move(e.path));
    else if (out.folders.size() < MaxSubFolders)
      out.folders.append(std::move(e.path));
  }
  return true;
}

void walk(const QString& folder, const std::function<void(QStringList&&)>& found,
          const std::atomic_bool* stop) {
  // Popping a folder lists it and pushes its sub-folders last one first, so
  // the first sub-folder's whole tree comes before the second one's.
  std::vector<QString> stack{folder};
  Listing listing;
  while (!stack.empty()) {
    if (stop && stop->load(std::memory_order_relaxed)) return;
    const QString current = std::move(stack.back());
    stack.pop_back();
    if (!listFolder(current, listing)) continue;
    if (!listing.files.isEmpty()) found(std::move(listing.files));
    for (auto sub = listing.folders.crbegin(); sub != listing.folders.crend(); ++sub)
      stack.push_back(*sub);
  }
}

}  // namespace FileSearch

// ---- FolderScan ---------------------------------------------------------------

FolderScan::FolderScan(QObject* parent) : QObject(parent) {
  throttle_.setSingleShot(true);
  connect(&throttle_, &QTimer::timeout, this, &FolderScan::deliver);
}

FolderScan::~FolderScan() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void FolderScan::start(const QString& folder) {
  ++outstanding_;
  {
    std::lock_guard lock(mutex_);
    pending_.append(folder);
    if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
  }
  wake_.notify_one();
}

void FolderScan::run() {
  for (;;) {
    QString folder;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || !pending_.isEmpty(); });
      if (quit_) return;
      folder = pending_.takeFirst();
    }
    FileSearch::walk(folder, [this](QStringList&& files) { push(std::move(files)); }, &stop_);
    // Queued behind every delivery of this scan, so it arrives last.
    QMetaObject::invokeMethod(this, &FolderScan::scanDone, Qt::QueuedConnection);
  }
}

void FolderScan::push(QStringList&& files) {
  bool queue = false;
  {
    std::lock_guard lock(mutex_);
    if (ready_.isEmpty())
      ready_ = std::move(files);
    else
      ready_ += files;
    queue = !deliveryQueued_;
    deliveryQueued_ = true;
  }
  // One delivery at a time is queued; it takes whatever has piled up, so a
  // busy owner gets fewer, larger batches instead of a flood of events.
  if (queue) QMetaObject::invokeMethod(this, &FolderScan::deliverSoon, Qt::QueuedConnection);
}

void FolderScan::deliverSoon() {
  // Every batch makes the list lay out all its rows again, so batches come
  // no closer than kBatchInterval apart.
  const qint64 since = lastDelivery_.isValid() ? lastDelivery_.elapsed() : kBatchInterval;
  if (since >= kBatchInterval)
    deliver();
  else if (!throttle_.isActive())
    throttle_.start(static_cast<int>(kBatchInterval - since));
}

void FolderScan::deliver() {
  throttle_.stop();
  QStringList batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(ready_);
    deliveryQueued_ = false;
  }
  lastDelivery_.start();
  if (!batch.isEmpty()) Q_EMIT found(batch);
}

void FolderScan::scanDone() {
  deliver();
  if (outstanding_ > 0 && --outstanding_ == 0) Q_EMIT finished();
}
