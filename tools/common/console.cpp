#include "common/console.h"

#include <cerrno>
#include <cstdio>

namespace toolkit {

bool printLine(const QString& line) {
  const QByteArray bytes = ToolProtocol::oneLine(line).toUtf8() + '\n';
  const size_t n = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  return std::fflush(stdout) == 0 && n == static_cast<size_t>(bytes.size()) && !std::ferror(stdout);
}

Reason reasonForErrno(int error, Reason fallback) {
  switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return Reason::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOENT:
    case ENOTDIR:
      return Reason::OutputUnwritable;
    case ENAMETOOLONG:
      return Reason::NameTooLong;
    default:
      return fallback;
  }
}

void printFailure(const QString& tool, Reason reason, const QString& why) {
  printLine(ToolProtocol::reasonLine(tool, reason));
  printLine(tool + QStringLiteral(": error: ") + why);
}

}  // namespace toolkit
