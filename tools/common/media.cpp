#include "common/media.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>

#include "common/console.h"

namespace toolkit {
namespace {

double number(const QJsonValue& v) {
  if (v.isDouble()) return v.toDouble();
  bool ok = false;
  const double d = v.toString().toDouble(&ok);
  return ok ? d : 0.0;
}

Rational rate(const QJsonValue& v) {
  const auto r = parseFrameRate(v.toString());
  return r.value_or(Rational{0, 1});
}

QString lastLine(const QByteArray& text) {
  const QList<QByteArray> lines = text.trimmed().split('\n');
  return QString::fromUtf8(lines.isEmpty() ? QByteArray() : lines.last().trimmed());
}

}  // namespace

QString findProgram(const QString& name) {
  const QString beside = QStandardPaths::findExecutable(
      name, {QCoreApplication::applicationDirPath()});
  if (!beside.isEmpty()) return beside;
  const QString onPath = QStandardPaths::findExecutable(name);
  if (!onPath.isEmpty()) return onPath;
  throw ToolError(QStringLiteral("%1 was not found; install FFmpeg").arg(name));
}

MediaInfo parseProbe(const QByteArray& json) {
  const QJsonObject root = QJsonDocument::fromJson(json).object();
  MediaInfo info;
  const QJsonObject format = root.value(QLatin1String("format")).toObject();
  info.duration = number(format.value(QLatin1String("duration")));
  info.kbps = number(format.value(QLatin1String("bit_rate"))) / 1000.0;
  for (const QJsonValue& sv : root.value(QLatin1String("streams")).toArray()) {
    const QJsonObject s = sv.toObject();
    const QString type = s.value(QLatin1String("codec_type")).toString();
    const bool coverArt =
        s.value(QLatin1String("disposition")).toObject().value(QLatin1String("attached_pic")).toInt() == 1;
    if (type == QLatin1String("video") && !coverArt && !info.hasVideo) {
      info.hasVideo = true;
      info.videoIndex = s.value(QLatin1String("index")).toInt();
      info.size = QSize(s.value(QLatin1String("width")).toInt(), s.value(QLatin1String("height")).toInt());
      info.frameRate = rate(s.value(QLatin1String("avg_frame_rate")));
      if (info.frameRate.value() <= 0 || info.frameRate.value() > 1000)
        info.frameRate = rate(s.value(QLatin1String("r_frame_rate")));
      info.videoDuration = number(s.value(QLatin1String("duration")));
      const double frames = number(s.value(QLatin1String("nb_frames")));
      if (frames > 0 && info.frameRate.value() > 0) info.declaredVideoDuration = frames / info.frameRate.value();
    } else if (type == QLatin1String("audio") && !info.hasAudio) {
      info.hasAudio = true;
      info.audioIndex = s.value(QLatin1String("index")).toInt();
      info.sampleRate = int(number(s.value(QLatin1String("sample_rate"))));
      info.channels = s.value(QLatin1String("channels")).toInt();
      info.audioDuration = number(s.value(QLatin1String("duration")));
    }
  }
  return info;
}

MediaInfo probe(const QString& path) {
  const QFileInfo fi(path);
  if (!fi.exists()) throw ToolError(QStringLiteral("the source does not exist: %1").arg(path));
  if (!fi.isFile()) throw ToolError(QStringLiteral("the source is not a file: %1").arg(path));
  if (fi.size() == 0) throw ToolError(QStringLiteral("the source is empty: %1").arg(path));

  QProcess p;
  p.setStandardInputFile(QProcess::nullDevice());
  p.start(findProgram(QStringLiteral("ffprobe")),
          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-of"), QStringLiteral("json"),
           QStringLiteral("-show_format"), QStringLiteral("-show_streams"), path});
  if (!p.waitForStarted() || !p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
    throw ToolError(QStringLiteral("ffprobe could not read the source"));
  if (p.exitCode() != 0) {
    QString why = lastLine(p.readAllStandardError());
    const QString prefix = path + QLatin1String(": ");
    if (why.startsWith(prefix)) why = why.mid(prefix.size());
    throw ToolError(QStringLiteral("the source is not a media file FFmpeg can read: %1")
                        .arg(why.isEmpty() ? QStringLiteral("unknown format") : why));
  }
  const MediaInfo info = parseProbe(p.readAllStandardOutput());
  // A header that counts more frames than the data holds (a cut-off AVI).
  const double missing = info.declaredVideoDuration - info.videoDuration;
  if (info.videoDuration > 0 && missing > std::max(0.5, 0.05 * info.declaredVideoDuration))
    throw ToolError(QStringLiteral("the source is truncated: its header promises %1 s of video, the file holds %2 s")
                        .arg(info.declaredVideoDuration, 0, 'f', 2).arg(info.videoDuration, 0, 'f', 2));
  if (!info.hasVideo && !info.hasAudio)
    throw ToolError(QStringLiteral("the source holds neither video nor audio"));
  return info;
}

}  // namespace toolkit
