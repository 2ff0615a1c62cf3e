#include "engine/commandline.h"

#include <QFileInfo>

#include "filelist/pathhelpers.h"
#include "settings/core/appdirs.h"
#include "settings/core/formats.h"

namespace CommandLines {
namespace {

QString toolProgram(const BuildContext& ctx, const QString& tool) {
#ifdef Q_OS_WIN
  const QString name = tool + QStringLiteral(".exe");
#else
  const QString name = tool;
#endif
  return AppDirs::join(ctx.toolFolder, name);
}

QString channelCount(const PanelValues& v) { return QString::number(v.channel + 1); }

}  // namespace

QString outputExtension(int position) {
  static const char* const ext[] = {".rmvb", ".rm", ".mpg", ".avi", ".mp4",
                                    ".mov",  ".mp4", ".3gp", ".mp3"};
  if (position < 0 || position >= Formats::Count) return {};
  return QString::fromLatin1(ext[position]);
}

QString outputFileName(const QString& folder, const QString& source, const QTime& time,
                       const QString& extension) {
  const QString name = BaseNameFromPath(source) + QLatin1Char('-') + QString::number(time.hour()) +
                       QString::number(time.minute()) + QString::number(time.second());
  return AppDirs::join(folder, name + extension);
}

QString uniqueOutputFileName(const QString& folder, const QString& source, const QTime& time,
                             const QString& extension) {
  const QString first = outputFileName(folder, source, time, extension);
  if (!QFileInfo::exists(first)) return first;
  const QString stem = first.left(first.size() - extension.size());
  for (int n = 2;; ++n) {
    const QString candidate = stem + QStringLiteral("(%1)").arg(n) + extension;
    if (!QFileInfo::exists(candidate)) return candidate;
  }
}

QString stageOneTool(int position) {
  if (position == Formats::MP3) return QStringLiteral("coder");
  if (position >= 0 && position < Formats::MP3) return QStringLiteral("conv");
  return {};
}

QString stageTwoTool(int position) {
  if (position == Formats::MP4Phone || position == Formats::GP3) return QStringLiteral("coder2");
  if (Formats::isTwoStage(position)) return QStringLiteral("coder");
  return {};
}

ToolCommand stageOne(const PanelValues& v, const QString& source, const QString& outputFile,
                     const BuildContext& ctx) {
  const QString tool = stageOneTool(v.format);
  if (tool.isEmpty()) return {};
  LineBuilder b(toolProgram(ctx, tool));
  switch (v.format) {
    case Formats::MPG:
    case Formats::AVI:
      b.lit(" ").quoted(source)
          .lit(" -oac lavc -lavcopts acodec=mp2:abitrate=").val(v.audioBitrate)
          .lit(" -ovc lavc -lavcopts vcodec=mpeg2video:vbitrate=").val(v.videoBitrate)
          .lit(":vpass=1 -ofps ").val(v.frameRate)
          .lit(" -of lavf -lavfopts format=yuv4mpeg -o ").quoted(outputFile);
      break;
    case Formats::MP4HQ:
      b.lit(" ").quoted(source)
          .lit(" -oac mp3lame -lameopts preset=").val(v.audioBitrate)
          .lit(" -ovc lavc -lavcopts vcodec=mpeg4:vbitrate=").val(v.videoBitrate)
          .lit(" -of avi -o ").quoted(outputFile);
      break;
    case Formats::MP3:
      b.lit(" -i ").quoted(source)
          .lit(" -y -vn -ar ").val(v.sampleRate)
          .lit(" -ab ").val(v.audioBitrate)
          .lit("k -ac ").val(channelCount(v))
          .lit(" ").quoted(outputFile);
      break;
    default:  // the two-stage positions all make the same work file
      b.lit(" ").quoted(source)
          .lit(" -oac mp3lame -lameopts preset=320 -ovc lavc -lavcopts vcodec=mpeg4:vbitrate=1200"
               " -of avi -o ").val(ctx.workFile);
      break;
  }
  return b.command();
}

ToolCommand stageTwo(const PanelValues& v, const QString& outputFile, const BuildContext& ctx) {
  const QString tool = stageTwoTool(v.format);
  if (tool.isEmpty()) return {};
  const bool original = v.size == Formats::kOriginalSize;
  LineBuilder b(toolProgram(ctx, tool));
  b.lit(" -i ").val(ctx.workFile).lit(" -y ");
  switch (v.format) {
    case Formats::RMVB:
    case Formats::RM:
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
    case Formats::MOV:
      if (!original) b.lit("-s ").val(v.size).lit(" ");
      b.lit("-ac 2 -ar 48000 -ab 128k ");
      break;
    default:  // the phone formats
      b.lit("-s ").val(original ? QStringLiteral("320x240") : v.size)
          .lit(" -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k ");
      break;
  }
  b.quoted(outputFile);
  return b.command();
}

}  // namespace CommandLines
