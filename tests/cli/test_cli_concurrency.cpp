// Copies of vantrel-cli side by side, and whatever else writes into the same
// folder meanwhile: no output is lost, replaced or taken for another's, and
// each copy reports the name it really wrote.
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTime>
#include <QtTest>
#include <cmath>
#include <memory>

#include "cli_support.h"
#include "engine/commandline.h"

#ifdef Q_OS_UNIX
#include <cstdio>
#include <unistd.h>
#endif

namespace {

struct Tone {
  double seconds;
  int hertz;
};

bool makeTone(const QString& path, const Tone& t) {
  return QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                                      QStringLiteral("sine=frequency=%1:duration=%2").arg(t.hertz).arg(t.seconds), "-y",
                                      path}) == 0;
}

// Length and pitch of an audio file: decoded to 8 kHz mono, the pitch by
// counting sign changes.
Tone measure(const QString& path) {
  QProcess p;
  p.start("ffmpeg", {"-v", "error", "-i", path, "-f", "s16le", "-ac", "1", "-ar", "8000", "-"});
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return {0, 0};
  const QByteArray pcm = p.readAllStandardOutput();
  const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
  const qsizetype n = pcm.size() / 2;
  qsizetype changes = 0;
  for (qsizetype i = 1; i < n; ++i)
    if ((s[i - 1] < 0) != (s[i] < 0)) ++changes;
  const double seconds = double(n) / 8000.0;
  return {seconds, seconds > 0 ? int(std::lround(double(changes) / 2 / seconds)) : 0};
}

QStringList files(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

}  // namespace

class TestCliConcurrency : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString cache_;
  QString path(const QString& name) const { return dir_.filePath(name); }

 private Q_SLOTS:
  void initTestCase() { cache_ = path("cache"); }

  // Three copies with two jobs each and one whose source fails, all into one
  // folder, all sources of one base name, started together: every reported
  // output exists and holds its own source, nothing unreported is there, and
  // the work root is empty once they are gone.
  void manyCopiesIntoOneFolder() {
    const Tone tones[] = {{0.6, 300}, {0.9, 500}, {1.2, 700}, {1.5, 900}, {1.8, 1100}, {2.1, 1300}};
    QStringList sources;
    for (int i = 0; i < 6; ++i) {
      const QString folder = path(QStringLiteral("src%1").arg(i));
      QDir().mkpath(folder);
      sources << folder + "/clip.wav";
      QVERIFY(makeTone(sources.last(), tones[i]));
    }
    QDir().mkpath(path("bad"));
    const QString bad = path("bad/clip.wav");
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("not a sound at all");
    f.close();
    const int rounds = qEnvironmentVariableIsSet("VANTREL_STRESS_ROUNDS") ? qEnvironmentVariableIntValue("VANTREL_STRESS_ROUNDS") : 20;
    for (int round = 0; round < rounds; ++round) {
      const QString out = path(QStringLiteral("out%1").arg(round));
      std::vector<std::unique_ptr<QProcess>> copies;
      for (int c = 0; c < 4; ++c) {
        auto p = std::make_unique<QProcess>();
        prepareCli(*p, cache_);
        const QStringList mine = c < 3 ? QStringList{sources[2 * c], sources[2 * c + 1]} : QStringList{bad, sources[0]};
        p->setArguments(QStringList{"--json", "-q", "-j", "2", "-f", "mp3", "-o", out} + mine);
        copies.push_back(std::move(p));
      }
      for (auto& p : copies) p->start();
      QMap<QString, QString> reported;  // output -> source
      int failed = 0;
      for (int c = 0; c < 4; ++c) {
        QProcess& p = *copies[size_t(c)];
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), c < 3 ? 0 : 1);
        CliRun r;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        for (const QJsonObject& o : r.json()) {
          if (o["status"].toString() != "converted") {
            ++failed;
            QCOMPARE(o["source"].toString(), bad);
            continue;
          }
          const QString output = o["output"].toString();
          QVERIFY2(!reported.contains(output), qPrintable(output));
          reported[output] = o["source"].toString();
        }
      }
      QCOMPARE(failed, 1);
      QCOMPARE(reported.size(), 7);
      QStringList names;
      for (auto it = reported.begin(); it != reported.end(); ++it) {
        names << QFileInfo(it.key()).fileName();
        const Tone want = tones[sources.indexOf(it.value())];
        const Tone got = measure(it.key());
        QVERIFY2(std::fabs(got.seconds - want.seconds) < 0.15 && std::abs(got.hertz - want.hertz) < 60,
                 qPrintable(QStringLiteral("round %1: %2 holds %3 s at %4 Hz, not %5 s at %6 Hz")
                                .arg(round).arg(it.key()).arg(got.seconds).arg(got.hertz).arg(want.seconds).arg(want.hertz)));
      }
      names.sort();
      QCOMPARE(files(out), names);
      QCOMPARE(files(cache_ + "/Vantrel/work"), QStringList());
    }
  }

  // A file that appears at the output's name while the conversion runs is
  // never replaced: the output takes the next free name and says so. A name
  // with "%1" in it comes out as it is on the plain line.
  void nameTakenMeanwhile() {
    const QString folder = path("taken");
    QDir().mkpath(folder + "/out");
    const QString source = folder + "/a%1b %2.wav";
    QVERIFY(makeTone(source, {1.0, 440}));
    // Every name the output could get in the next minute is somebody's.
    const QTime now = QTime::currentTime();
    QStringList planted;
    for (int s = 0; s < 60; ++s) {
      planted << CommandLines::outputFileName(folder + "/out/", source, now.addSecs(s), ".mp3");
      QFile p(planted.last());
      QVERIFY(p.open(QIODevice::WriteOnly));
      p.write("somebody's own file");
    }
    const CliRun r = runCli({"-f", "mp3", "-o", folder + "/out", source}, cache_);
    QCOMPARE(r.status, 0);
    const QString line = r.out.trimmed();
    QVERIFY2(line.startsWith("converted: " + source + " -> " + folder + "/out/a%1b %2-"), qPrintable(line));
    const QString output = line.section(" -> ", 1).section(" (", 0, 0);
    QVERIFY2(output.endsWith("(2).mp3"), qPrintable(output));
    QVERIFY(std::fabs(measure(output).seconds - 1.0) < 0.15);
    for (const QString& p : planted) {
      QFile in(p);
      QVERIFY(in.open(QIODevice::ReadOnly));
      QCOMPARE(in.readAll(), QByteArray("somebody's own file"));
    }
  }

#ifdef Q_OS_UNIX
  // A name whose bytes are not UTF-8 is refused with its own reason; the
  // valid name that Qt would read it as is not converted in its place.
  void nameNotUtf8() {
    const QString folder = path("bytes");
    QDir().mkpath(folder + "/in");
    const QByteArray raw = QFile::encodeName(folder) + "/in/a\xff.wav";
    QVERIFY(makeTone(folder + "/in/tmp.wav", {1.0, 440}));
    QCOMPARE(::rename(QFile::encodeName(folder + "/in/tmp.wav").constData(), raw.constData()), 0);
    const CliRun r = runCli({"--json", "-f", "mp3", "-o", folder + "/out", folder + "/in"}, cache_);
    ::unlink(raw.constData());
    QCOMPARE(r.status, 1);
    const QList<QJsonObject> objects = r.json();
    QCOMPARE(objects.size(), 1);
    QCOMPARE(objects[0]["reason"].toString(), QStringLiteral("name-not-utf8"));
    QCOMPARE(files(folder + "/out"), QStringList());
  }
#endif
};

QTEST_GUILESS_MAIN(TestCliConcurrency)
#include "test_cli_concurrency.moc"
