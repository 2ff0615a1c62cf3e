#pragma once
#include <QString>
#include <QtGlobal>
#include <vector>

// DirListing: the one place the folder scan talks to the system's directory
// API. One pass over a folder's entries, in whatever order the file system
// keeps them; the scan sorts them itself.
namespace DirListing {

struct Entry {
  QString path;  // the listing's prefix and the entry's name
  bool folder;
};

// Appends every entry of `folder` except "." and ".." to `entries`, each
// path made of `prefix` and the name. A symbolic link to a folder is left
// out: following it could make a scan loop. False (nothing appended) when
// the folder cannot be listed.
bool read(const QString& folder, const QString& prefix, std::vector<Entry>& entries);

#if defined(Q_OS_UNIX)
enum class Kind { File, Folder, LinkToFolder };
// What the entry `name` of the open folder `dirfd` is, given the type its
// listing reported (a DT_* value). The file system is asked only when the
// listing does not know (DT_UNKNOWN, as some file systems report for every
// entry) or reports a link. Anything that is neither a folder nor a link to
// one counts as a file, also an entry that vanished meanwhile.
Kind kindOf(int dirfd, const char* name, unsigned char type);
#endif

}  // namespace DirListing
