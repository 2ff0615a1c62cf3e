#include "filelist/dirlisting.h"

#include <algorithm>
#include <cstring>
#include <optional>

#if defined(Q_OS_UNIX)
#include <QFile>
#include <QStringDecoder>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <filesystem>

#include "filelist/filesearch.h"
#endif

namespace DirListing {

#if defined(Q_OS_UNIX)

Kind kindOf(int dirfd, const char* name, unsigned char type) {
  struct stat st;
  if (type == DT_UNKNOWN) {
    if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Kind::File;
    if (S_ISDIR(st.st_mode)) return Kind::Folder;
    if (!S_ISLNK(st.st_mode)) return Kind::File;
    type = DT_LNK;
  }
  if (type == DT_DIR) return Kind::Folder;
  if (type == DT_LNK && ::fstatat(dirfd, name, &st, 0) == 0 && S_ISDIR(st.st_mode))
    return Kind::LinkToFolder;
  return Kind::File;
}

namespace {

// Calls `each(name, type)` for every entry of the open folder `fd`, "." and
// ".." included. Linux hands out a folder's entries in one call for most
// folders, into a buffer of ours; elsewhere the C library's reader does.
template <typename Each>
void forEachEntry(int fd, Each&& each) {
#if defined(Q_OS_LINUX)
  alignas(dirent64) char buffer[32 * 1024];
  for (;;) {
    const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
    if (got <= 0) return;
    for (ssize_t at = 0; at < got;) {
      const auto* d = reinterpret_cast<const dirent64*>(buffer + at);
      each(d->d_name, d->d_type);
      at += d->d_reclen;
    }
  }
#else
  DIR* dir = ::fdopendir(::dup(fd));
  if (!dir) return;
  while (const dirent* d = ::readdir(dir)) each(d->d_name, d->d_type);
  ::closedir(dir);
#endif
}

}  // namespace

bool read(const QString& folder, const QString& prefix, std::vector<Entry>& entries) {
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Names are decoded the way QFile::decodeName does (UTF-8, a sequence that
  // is not valid UTF-8 becoming U+FFFD); plain ASCII names, the common case,
  // are widened directly.
  std::optional<QStringDecoder> decode;
  forEachEntry(fd, [&](const char* name, unsigned char type) {
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) return;
    const Kind kind = kindOf(fd, name, type);
    if (kind == Kind::LinkToFolder) return;

    const auto length = static_cast<qsizetype>(std::strlen(name));
    QString path(prefix.size() + length, Qt::Uninitialized);
    QChar* out = std::copy_n(prefix.constData(), prefix.size(), path.data());
    bool ascii = true;
    for (qsizetype i = 0; i < length; ++i) {
      const auto c = static_cast<unsigned char>(name[i]);
      if (c >= 0x80) {
        ascii = false;
        break;
      }
      out[i] = QChar(c);
    }
    if (!ascii) {
      if (!decode) decode.emplace(QStringConverter::System, QStringConverter::Flag::Stateless);
      const QChar* end = decode->appendToBuffer(out, QByteArrayView(name, length));
      path.truncate(end - path.constData());
    }
    entries.push_back({std::move(path), kind == Kind::Folder});
  });
  ::close(fd);
  return true;
}

#else

namespace fs = std::filesystem;

bool read(const QString& folder, const QString& prefix, std::vector<Entry>& entries) {
  std::error_code ec;
  fs::directory_iterator it(fs::path(folder.toStdWString()), ec);
  if (ec) return false;
  // An error while reading ends the listing; what was read still counts.
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    std::error_code tec;
    bool isFolder = false;
    if (it->is_symlink(tec)) {
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

}  // namespace DirListing
