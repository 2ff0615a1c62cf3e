#pragma once
// Running vantrel-cli from the build folder, beside the real encoders, with a
// cache of the test's own.
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

struct CliRun {
  int status = -1;
  QString out, err;
  QList<QJsonObject> json() const {
    QList<QJsonObject> objects;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
      QJsonParseError e;
      const QJsonDocument d = QJsonDocument::fromJson(line.toUtf8(), &e);
      if (e.error == QJsonParseError::NoError && d.isObject()) objects << d.object();
    }
    return objects;
  }
};

inline QString cliProgram() { return QStringLiteral(VANTREL_BUILD_DIR "/vantrel-cli"); }

inline void prepareCli(QProcess& p, const QString& cache) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CACHE_HOME", cache);
  env.insert("LC_ALL", "C.UTF-8");
  p.setProcessEnvironment(env);
  p.setProgram(cliProgram());
}

inline CliRun runCli(const QStringList& args, const QString& cache, int timeoutMs = 120000) {
  QProcess p;
  prepareCli(p, cache);
  p.setArguments(args);
  p.start();
  CliRun r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

// A short test clip made with FFmpeg's lavfi sources.
inline bool makeClip(const QString& path, int seconds, const QString& size = QStringLiteral("160x120")) {
  const QString d = QString::number(seconds);
  return QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=15:duration=" + d,
                                      "-f", "lavfi", "-i", "sine=frequency=440:duration=" + d, "-c:v", "libx264",
                                      "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", "-y",
                                      path}) == 0;
}

// Names without their time of day and copy number: "clip-14379(2).3gp" ->
// "clip.3gp" (both depend on when a file ends, not on what it holds).
inline QStringList timelessNames(const QString& folder) {
  QStringList names;
  for (QString n : QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name))
    names << n.remove(QRegularExpression("-\\d{1,6}(\\(\\d+\\))?(?=\\.[^.]+$)"));
  names.sort();
  return names;
}
