#include "encoders_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include "settings/core/formats.h"

#include "runner/dosoutputs.h"

namespace enc {

Run runTool(const ToolCommand& command, int timeoutMs) {
  Run run;
  DOSOutputs runner;
  QEventLoop loop;
  QObject::connect(&runner, &DOSOutputs::ReceiveOutputs, [&](const QString& chunk) { run.chunks << chunk; });
  QObject::connect(&runner, &DOSOutputs::CommandOver, &loop, &QEventLoop::quit);
  if (!runner.ExecuteCommand(command)) return run;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    run.timedOut = true;
    loop.quit();
  });
  timer.start(timeoutMs);
  loop.exec();
  if (run.timedOut) runner.terminateAndWait(3000);
  run.exitCode = runner.exitCode();
  run.crashed = runner.crashed();
  run.output = runner.Outputs();
  run.lastLine = runner.lastLine();
  const QStringList lines = run.output.trimmed().split(QLatin1Char('\n'));
  if (lines.size() >= 2) {
    const QString before = lines[lines.size() - 2].trimmed();
    const qsizetype at = before.indexOf(QLatin1String(": reason: "));
    if (at > 0) run.reason = before.mid(at + 10);
  }
  return run;
}

bool makeClip(const QString& path, const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-nostdin"), QStringLiteral("-v"),
                                                QStringLiteral("error")} + args + QStringList{QStringLiteral("-y"), path});
  return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Probe probe(const QString& path) {
  Probe r;
  QProcess p;
  p.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-of"),
                                      QStringLiteral("json"), QStringLiteral("-show_format"),
                                      QStringLiteral("-show_streams"), path});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) return r;
  const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
  const QJsonObject format = root.value(QLatin1String("format")).toObject();
  r.ok = true;
  r.formatName = format.value(QLatin1String("format_name")).toString();
  r.brand = format.value(QLatin1String("tags")).toObject().value(QLatin1String("major_brand")).toString();
  r.duration = format.value(QLatin1String("duration")).toString().toDouble();
  for (const QJsonValue& v : root.value(QLatin1String("streams")).toArray()) {
    const QJsonObject s = v.toObject();
    const QString type = s.value(QLatin1String("codec_type")).toString();
    if (type == QLatin1String("video") && r.videoCodec.isEmpty()) {
      r.videoCodec = s.value(QLatin1String("codec_name")).toString();
      r.frameRate = s.value(QLatin1String("r_frame_rate")).toString();
      r.size = QSize(s.value(QLatin1String("width")).toInt(), s.value(QLatin1String("height")).toInt());
    } else if (type == QLatin1String("audio") && r.audioCodec.isEmpty()) {
      r.audioCodec = s.value(QLatin1String("codec_name")).toString();
      r.sampleRate = s.value(QLatin1String("sample_rate")).toString().toInt();
      r.channels = s.value(QLatin1String("channels")).toInt();
    }
  }
  return r;
}

BuildContext buildContext(const QString& workFolder) {
  return BuildContext{QStringLiteral(VANTREL_DATA_DIR), QDir(workFolder).filePath(QStringLiteral("tmp.mp4"))};
}

QStringList folderEntries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QByteArray fileHash(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash h(QCryptographicHash::Sha256);
  h.addData(&f);
  return h.result();
}

bool writeFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

PanelValues panel(int position) {
  const Formats::Preset p = *Formats::presetFor(position);
  return PanelValues{position, p.videoBitrate.value_or(QStringLiteral("1200")), p.frameRate.value_or(QStringLiteral("29")),
                     p.size.value_or(Formats::kOriginalSize), p.sampleRate, p.audioBitrate, p.channel};
}

}  // namespace enc
