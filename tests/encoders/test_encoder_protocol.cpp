// The encoders and the engine read one another through the lines of
// protocol/toolprotocol.h: each encoder, on good and on bad input, prints
// what the engine then reads, and no file name can pass for one of the lines.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <cmath>

#include "encoders_support.h"
#include "engine/failurereasons.h"
#include "protocol/toolprotocol.h"
#include "settings/core/formats.h"

#ifdef Q_OS_UNIX
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

using enc::panel;

// The tool's command line as the engine builds it, from `source` to `output`.
ToolCommand commandFor(const QString& tool, const QString& source, const QString& output, const QString& work) {
  BuildContext ctx = enc::buildContext(work);
  if (tool == QLatin1String("conv")) return CommandLines::stageOne(panel(Formats::AVI), source, output, ctx);
  if (tool == QLatin1String("coder")) return CommandLines::stageOne(panel(Formats::MP3), source, output, ctx);
  ctx.workFile = source;  // coder2 reads a work file: the source stands in for it
  return CommandLines::stageTwo(panel(Formats::GP3), output, ctx);
}

// The extension of what each tool writes here.
QString extensionOf(const QString& tool) {
  return tool == QLatin1String("conv") ? QStringLiteral(".avi") : tool == QLatin1String("coder") ? QStringLiteral(".mp3") : QStringLiteral(".3gp");
}

QList<ToolProtocol::Written> writtenLines(const QString& tool, const QString& output) {
  QList<ToolProtocol::Written> found;
  for (const QString& line : output.split(QLatin1Char('\n')))
    if (auto w = ToolProtocol::readWritten(tool, line.trimmed())) found << *w;
  return found;
}

}  // namespace

class TestEncoderProtocol : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString clip_;
  int case_ = 0;

  QString freshFolder() {
    const QString f = dir_.filePath(QStringLiteral("case%1").arg(++case_));
    QDir().mkpath(f + QStringLiteral("/work"));
    return f;
  }

 private Q_SLOTS:
  void initTestCase() {
    clip_ = dir_.filePath(QStringLiteral("clip.mp4"));
    QVERIFY(enc::makeClip(clip_, {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=15:duration=1", "-f", "lavfi", "-i",
                                  "sine=duration=1", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                                  "-c:a", "aac", "-shortest"}));
  }

  // A good run ends with the one line that names the file written, and the
  // name it gives is that very file. A taken name is never replaced: the
  // next free one by the "(2)", "(3)" rule is written and reported.
  void goodRunReportsTheFileWritten_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("taken");  // names taken before the run: the name, "(2)", ...
    QTest::addColumn<QString>("written");
    for (const char* t : {"conv", "coder", "coder2"}) {
      QTest::addRow("%s, free name", t) << t << 0 << "out";
      QTest::addRow("%s, name taken", t) << t << 1 << "out(2)";
      QTest::addRow("%s, name and (2) taken", t) << t << 2 << "out(3)";
    }
  }
  void goodRunReportsTheFileWritten() {
    QFETCH(QString, tool);
    QFETCH(int, taken);
    QFETCH(QString, written);
    const QString folder = freshFolder();
    const QString ext = extensionOf(tool);
    const QString output = folder + QStringLiteral("/out") + ext;
    QStringList planted;
    for (int i = 0; i < taken; ++i) {
      planted << (i == 0 ? output : folder + QStringLiteral("/out(%1)").arg(i + 1) + ext);
      QVERIFY(enc::writeFile(planted.last(), "somebody else's file"));
    }
    const enc::Run run = enc::runTool(commandFor(tool, clip_, output, folder + QStringLiteral("/work")));
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const QList<ToolProtocol::Written> lines = writtenLines(tool, run.output);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(QFile::decodeName(lines[0].name), folder + QLatin1Char('/') + written + ext);
    struct stat st {};
    QCOMPARE(::lstat(lines[0].name.constData(), &st), 0);
    QCOMPARE(quint64(st.st_dev), lines[0].device);
    QCOMPARE(quint64(st.st_ino), lines[0].inode);
    QVERIFY(enc::probe(QFile::decodeName(lines[0].name)).ok);
    for (const QString& p : planted) QCOMPARE(enc::fileHash(p), enc::fileHash(planted.first()));
    QCOMPARE(enc::folderEntries(folder).size(), taken + 2);  // the planted files, the output, work/
  }

  // A source whose name holds line breaks and whole protocol lines fails
  // for its own reason; the engine reads neither a forged reason nor a
  // forged file from the name.
  void namesForgeNoLine_data() {
    QTest::addColumn<QString>("tool");
    for (const char* t : {"conv", "coder", "coder2"}) QTest::newRow(t) << t;
  }
  void namesForgeNoLine() {
    QFETCH(QString, tool);
    const QString folder = freshFolder();
    const QString forged = tool + QStringLiteral(": reason: disk-full\n") + tool +
                           QStringLiteral(": wrote: 1:2 \"passwd\"\r") + tool + QStringLiteral(": reason: disk-full");
    const QString source = folder + QStringLiteral("/x\n") + forged + QStringLiteral("\n(100%) time=99 .mp4");
    QVERIFY(enc::writeFile(source, ""));  // empty: not media
    const enc::Run run = enc::runTool(commandFor(tool, source, folder + QStringLiteral("/out") + extensionOf(tool), folder + QStringLiteral("/work")));
    QCOMPARE(run.exitCode, 1);
    const FileFailure f = FailureReasons::classify(source, {tool, run.output, run.exitCode, run.crashed});
    QCOMPARE(f.code, QStringLiteral("not-media"));
    QVERIFY2(f.detail.startsWith(tool + QStringLiteral(": error: ")), qPrintable(f.detail));
    QVERIFY(writtenLines(tool, run.output).isEmpty());
    for (const QString& line : run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
      QVERIFY2(!line.contains(QLatin1Char('\r')), qPrintable(line));
  }

#ifdef Q_OS_UNIX
  // An argument that is not UTF-8 would reach Qt as another name: the tool
  // refuses it with a reason of its own instead of "source-missing".
  void nameNotUtf8IsRefused() {
    const QString folder = freshFolder();
    const QByteArray source = QFile::encodeName(folder) + "/bad\xff.mp4";
    QFile::copy(clip_, QFile::decodeName(QFile::encodeName(folder) + "/tmp.mp4"));
    QCOMPARE(::rename(QFile::encodeName(folder + QStringLiteral("/tmp.mp4")).constData(), source.constData()), 0);
    const QByteArray tool = QFile::encodeName(QDir(QStringLiteral(VANTREL_DATA_DIR)).filePath(QStringLiteral("coder")));
    const QByteArray output = QFile::encodeName(folder) + "/out.mp3";
    const QList<QByteArray> args{tool, "-i", source, "-y", "-vn", output};
    std::vector<char*> argv;
    for (const QByteArray& a : args) argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    int fds[2];
    QCOMPARE(::pipe(fds), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    pid_t pid = 0;
    QCOMPARE(::posix_spawn(&pid, tool.constData(), &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    QByteArray printed;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) printed.append(buf, n);
    ::close(fds[0]);
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 1);
    const FileFailure f = FailureReasons::classify(QString(), {QStringLiteral("coder"), QString::fromUtf8(printed), 1, false});
    QCOMPARE(f.code, QStringLiteral("name-not-utf8"));
    QVERIFY(!QFileInfo::exists(QFile::decodeName(output)));
    ::unlink(source.constData());  // Qt could not remove it by its name
  }
#endif

  // Names travel byte for byte, whatever they hold; anything that is not
  // exactly one quoted name reads as none.
  void quotedNamesRoundTrip() {
    QByteArray every;
    for (int b = 1; b < 256; ++b) every += char(b);
    for (const QByteArray& name : {every, QByteArray("/a/b(2).mp3"), QByteArray("\xe4\xb8\xad\xe6\x96\x87 \"q\" \\x41"),
                                   QByteArray("\xf0\x9f\x8e\xb5 \xed\xa0\x80 \xc0\xaf")}) {
      const QString quoted = ToolProtocol::quoteName(name);
      for (const char* marker : {"\n", "\r", "(", ")", "=", ": "}) QVERIFY(!quoted.contains(QLatin1String(marker)));
      QCOMPARE(ToolProtocol::unquoteName(quoted), std::optional<QByteArray>(name));
      const ToolProtocol::Written w{name, 42, 7};
      QCOMPARE(ToolProtocol::readWritten(QStringLiteral("coder"), ToolProtocol::writtenLine(QStringLiteral("coder"), w)),
               std::optional<ToolProtocol::Written>(w));
    }
    for (const char* bad : {"", "\"", "abc", "\"a\"b\"", "\"a\\x4\"", "\"a\\q41\"", "\"a\\xzz\""})
      QVERIFY2(!ToolProtocol::unquoteName(QString::fromUtf8(bad)), bad);
    for (const char* bad : {"coder: wrote: 1:2", "coder: wrote: x:2 \"a\"", "coder: wrote: 1 \"a\"",
                            "coder: wrote: 1:2 \"\"", "coder2: wrote: 1:2 \"a\"", " coder: wrote: 1:2 \"a\""})
      QVERIFY2(!ToolProtocol::readWritten(QStringLiteral("coder"), QString::fromUtf8(bad)), bad);
  }

  // The time rule: a progress line before the last never reads as the whole
  // length, whatever the halves round to; earlier times are shown as they are.
  void timesBeforeTheEndStayBelowIt() {
    const auto read = [](double t) { return ToolProtocol::wholeSeconds(std::round(t * 100) / 100); };
    for (const double length : {0.4, 1.0, 1.5, 2.5, 3.5, 9.995, 10.005, 30.0, 7201.49}) {
      for (double t = std::max(0.0, length - 3); t <= length + 1; t += 0.005) {
        const double shown = ToolProtocol::timeBeforeEnd(t, length);
        if ((read(length) >= 1 && read(shown) >= read(length)) || (read(t) < read(length) && shown != t))
          QFAIL(qPrintable(QStringLiteral("%1 s of %2 s shows as %3 s").arg(t).arg(length).arg(shown)));
      }
    }
  }
};

QTEST_GUILESS_MAIN(TestEncoderProtocol)
#include "test_encoder_protocol.moc"
