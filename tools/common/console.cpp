#include "common/console.h"

#include <cerrno>
#include <cstdio>

namespace toolkit {

bool printLine(const QString& line) {
  const QByteArray bytes = line.toUtf8() + '\n';
  const size_t n = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  return std::fflush(stdout) == 0 && n == static_cast<size_t>(bytes.size()) && !std::ferror(stdout);
}

QString reasonCode(Reason reason) {
  switch (reason) {
    case Reason::SourceMissing: return QStringLiteral("source-missing");
    case Reason::NotMedia: return QStringLiteral("not-media");
    case Reason::SourceIncomplete: return QStringLiteral("source-incomplete");
    case Reason::SourceDamaged: return QStringLiteral("source-damaged");
    case Reason::NeedsVideo: return QStringLiteral("needs-video");
    case Reason::NeedsAudio: return QStringLiteral("needs-audio");
    case Reason::DiskFull: return QStringLiteral("disk-full");
    case Reason::OutputUnwritable: return QStringLiteral("output-unwritable");
    case Reason::NameTooLong: return QStringLiteral("name-too-long");
    case Reason::NoFfmpeg: return QStringLiteral("no-ffmpeg");
    case Reason::EncodeFailed: return QStringLiteral("encode-failed");
    case Reason::Usage: return QStringLiteral("usage");
    case Reason::Stopped: return QStringLiteral("stopped");
    case Reason::OpensOtherFile: return QStringLiteral("opens-other-file");
    case Reason::PictureTooLarge: return QStringLiteral("picture-too-large");
  }
  return QStringLiteral("encode-failed");
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
  printLine(tool + QStringLiteral(": reason: ") + reasonCode(reason));
  printLine(tool + QStringLiteral(": error: ") + why);
}

}  // namespace toolkit
