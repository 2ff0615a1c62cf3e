#include "engine/commandline.h"

#include <QFileInfo>

#include "filelist/pathhelpers.h"
#include "protocol/names.h"
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

namespace {
QString timeSuffix(const QTime& time) {
  return QLatin1Char('-') + QString::number(time.hour()) + QString::number(time.minute()) +
         QString::number(time.second());
}
}  // namespace

QString outputFileName(const QString& folder, const QString& source, const QTime& time,
                       const QString& extension) {
  return JoinPath(folder, ToolProtocol::copyName(BaseNameFromPath(source), timeSuffix(time), 1, extension));
}

QString uniqueOutputFileName(const QString& folder, const QString& source, const QTime& time,
                             const QString& extension,
                             const std::function<bool(const QString&)>& taken) {
  const QString base = BaseNameFromPath(source);
  const QString stamp = timeSuffix(time);
  for (int copy = 1;; ++copy) {
    const QString candidate = JoinPath(folder, ToolProtocol::copyName(base, stamp, copy, extension));
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
