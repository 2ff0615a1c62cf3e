#include "engine/commandline.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBoundaryFinder>

#include "filelist/pathhelpers.h"
#include "settings/core/appdirs.h"
#include "settings/core/formats.h"

namespace CommandLines {

QString toolProgram(const QString& toolFolder, const QString& tool) {
#ifdef Q_OS_WIN
  return JoinPath(toolFolder, tool + QStringLiteral(".exe"));
#else
  return JoinPath(toolFolder, tool);
#endif
}
namespace {

QString channelCount(const PanelValues& v) { return QString::number(v.channel + 1); }

}  // namespace

QString outputExtension(int position) {
  const Formats::Format* f = Formats::format(position);
  return f ? QString::fromLatin1(f->extension) : QString();
}

QString fitBaseName(const QString& base, const QString& tail, int maxBytes) {
  const auto bytes = [](const QString& t) { return QFile::encodeName(t).size(); };
  const qsizetype room = maxBytes - bytes(tail);
  if (bytes(base) <= room) return base;
  // Cut at the last character boundary (a whole user-perceived character,
  // never half of a surrogate pair or of a multi-byte sequence) that fits.
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, base);
  qsizetype fits = 0;
  for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
    if (bytes(base.left(at)) > room) break;
    fits = at;
  }
  return base.left(fits);
}

namespace {
QString timeSuffix(const QTime& time) {
  return QLatin1Char('-') + QString::number(time.hour()) + QString::number(time.minute()) +
         QString::number(time.second());
}
QString fittedName(const QString& folder, const QString& base, const QString& tail) {
  return JoinPath(folder, fitBaseName(base, tail) + tail);
}
}  // namespace

QString outputFileName(const QString& folder, const QString& source, const QTime& time,
                       const QString& extension) {
  return fittedName(folder, BaseNameFromPath(source), timeSuffix(time) + extension);
}

QString uniqueOutputFileName(const QString& folder, const QString& source, const QTime& time,
                             const QString& extension,
                             const std::function<bool(const QString&)>& taken) {
  const QString base = BaseNameFromPath(source);
  const QString stamp = timeSuffix(time);
  for (int n = 1;; ++n) {
    const QString copy = n == 1 ? QString() : QStringLiteral("(%1)").arg(n);
    const QString candidate = fittedName(folder, base, stamp + copy + extension);
    if (!QFileInfo::exists(candidate) && !(taken && taken(candidate))) return candidate;
  }
}

ToolCommand stageOne(const PanelValues& v, const QString& source, const QString& outputFile,
                     const BuildContext& ctx) {
  const Formats::Format* f = Formats::format(v.format);
  if (!f) return {};
  const Formats::Stage& stage = f->stages[0];
  LineBuilder b(toolProgram(ctx.toolFolder, QString::fromLatin1(stage.tool)));
  switch (stage.line) {
    case Formats::Line::ConvMpeg2:
      b.lit(" ").quoted(source)
          .lit(" -oac lavc -lavcopts acodec=mp2:abitrate=").val(v.audioBitrate)
          .lit(" -ovc lavc -lavcopts vcodec=mpeg2video:vbitrate=").val(v.videoBitrate)
          .lit(":vpass=1 -ofps ").val(v.frameRate)
          .lit(" -of lavf -lavfopts format=yuv4mpeg -o ").quoted(outputFile);
      break;
    case Formats::Line::ConvMp4:
      b.lit(" ").quoted(source)
          .lit(" -oac mp3lame -lameopts preset=").val(v.audioBitrate)
          .lit(" -ovc lavc -lavcopts vcodec=mpeg4:vbitrate=").val(v.videoBitrate)
          .lit(" -of avi -o ").quoted(outputFile);
      break;
    case Formats::Line::CoderMp3:
      b.lit(" -i ").quoted(source)
          .lit(" -y -vn -ar ").val(v.sampleRate)
          .lit(" -ab ").val(v.audioBitrate)
          .lit("k -ac ").val(channelCount(v))
          .lit(" ").quoted(outputFile);
      break;
    case Formats::Line::ConvWork:  // every two-stage format makes the same work file
      b.lit(" ").quoted(source)
          .lit(" -oac mp3lame -lameopts preset=320 -ovc lavc -lavcopts vcodec=mpeg4:vbitrate=1200"
               " -of avi -o ").val(ctx.workFile);
      break;
    default:
      return {};
  }
  return b.command();
}

ToolCommand stageTwo(const PanelValues& v, const QString& outputFile, const BuildContext& ctx) {
  const Formats::Format* f = Formats::format(v.format);
  if (!f || f->stageCount < 2) return {};
  const Formats::Stage& stage = f->stages[1];
  const bool original = v.size == Formats::kOriginalSize;
  LineBuilder b(toolProgram(ctx.toolFolder, QString::fromLatin1(stage.tool)));
  b.lit(" -i ").val(ctx.workFile).lit(" -y ");
  switch (stage.line) {
    case Formats::Line::CoderReal:
      if (original) {
        b.lit("-vcodec rv10 -b 1200k -f rm  -ab 128k -ac 2 ");
      } else {
        b.lit("-s ").val(v.size)
            .lit(" -vcodec rv10 -b ").val(v.videoBitrate)
            .lit("k -f rm -ar ").val(v.sampleRate)
            .lit(" -ab ").val(v.audioBitrate)
            .lit("k -ac ").val(channelCount(v)).lit(" ");
      }
      break;
    case Formats::Line::CoderMov:
      if (!original) b.lit("-s ").val(v.size).lit(" ");
      b.lit("-ac 2 -ar 48000 -ab 128k ");
      break;
    case Formats::Line::Coder2Phone:
      b.lit("-s ").val(original ? QStringLiteral("320x240") : v.size)
          .lit(" -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k ");
      break;
    default:
      return {};
  }
  b.quoted(outputFile);
  return b.command();
}

}  // namespace CommandLines
