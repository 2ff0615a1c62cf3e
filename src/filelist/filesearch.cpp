#include "filelist/filesearch.h"
#include "filelist/pathhelpers.h"

#include <QDir>
#include <algorithm>
#include <string_view>
#include <vector>

#include "filelist/dirlisting.h"

namespace {

inline char16_t upper(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  return static_cast<char16_t>(QChar::toUpper(char32_t(c)));
}

// Buffers one walk reuses from folder to folder.
struct Scratch {
  std::vector<DirListing::Entry> entries;
  std::vector<char16_t> keys;  // every entry's name upper-cased, one after the other
  struct Key {
    quint32 at, size, entry;
  };
  std::vector<Key> order;
};

bool listInto(const QString& folder, FileSearch::Listing& out, Scratch& s) {
  out.files.clear();
  out.folders.clear();
  s.entries.clear();
  s.keys.clear();
  s.order.clear();
  const QString prefix = JoinPath(folder, QString());
  if (!DirListing::read(folder, prefix, s.entries)) return false;

  // Each name is upper-cased once; the sort then compares plain units.
  const qsizetype from = prefix.size();
  size_t total = 0;
  for (const DirListing::Entry& e : s.entries) total += static_cast<size_t>(e.path.size() - from);
  s.keys.resize(total);
  s.order.resize(s.entries.size());
  char16_t* key = s.keys.data();
  for (size_t i = 0; i < s.entries.size(); ++i) {
    const QString& path = s.entries[i].path;
    const auto* name = reinterpret_cast<const char16_t*>(path.constData()) + from;
    const auto size = static_cast<quint32>(path.size() - from);
    s.order[i] = {static_cast<quint32>(key - s.keys.data()), size, static_cast<quint32>(i)};
    for (quint32 k = 0; k < size; ++k) *key++ = upper(name[k]);
  }
  const char16_t* keys = s.keys.data();
  std::sort(s.order.begin(), s.order.end(), [&](const Scratch::Key& a, const Scratch::Key& b) {
    const int c = std::u16string_view(keys + a.at, a.size).compare(std::u16string_view(keys + b.at, b.size));
    if (c != 0) return c < 0;
    // Equal but for case: the exact units decide.
    return QStringView(s.entries[a.entry].path).mid(from) < QStringView(s.entries[b.entry].path).mid(from);
  });

  out.files.reserve(static_cast<qsizetype>(s.entries.size()));
  for (const Scratch::Key& k : s.order) {
    DirListing::Entry& e = s.entries[k.entry];
    if (!e.folder)
      out.files.append(std::move(e.path));
    else if (out.folders.size() < FileSearch::MaxSubFolders)
      out.folders.append(std::move(e.path));
  }
  return true;
}

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

bool listFolder(const QString& folder, Listing& out) {
  Scratch scratch;
  return listInto(folder, out, scratch);
}

void walk(const QString& folder, const std::function<void(QStringList&&)>& found,
          const std::atomic_bool* stop) {
  // Popping a folder lists it and pushes its sub-folders last one first, so
  // the first sub-folder's whole tree comes before the second one's.
  std::vector<QString> stack{folder};
  Listing listing;
  Scratch scratch;
  while (!stack.empty()) {
    if (stop && stop->load(std::memory_order_relaxed)) return;
    const QString current = std::move(stack.back());
    stack.pop_back();
    if (!listInto(current, listing, scratch)) continue;
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

qint64 FolderScan::batchInterval() const {
  // Every batch makes the list lay out all its rows again, a cost that grows
  // with the rows: batches come further apart as more paths have been handed
  // on, so that the owner's share of time spent on them stays about the same.
  return std::max(kBatchInterval, delivered_ / kPathsPerExtraMs);
}

void FolderScan::deliverSoon() {
  const qint64 interval = batchInterval();
  const qint64 since = lastDelivery_.isValid() ? lastDelivery_.elapsed() : interval;
  if (since >= interval)
    deliver();
  else if (!throttle_.isActive())
    throttle_.start(static_cast<int>(interval - since));
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
  delivered_ += batch.size();
  if (!batch.isEmpty()) Q_EMIT found(batch);
}

void FolderScan::scanDone() {
  deliver();
  if (outstanding_ > 0 && --outstanding_ == 0) {
    delivered_ = 0;
    Q_EMIT finished();
  }
}
