// Where the encoders write: nothing outside the output's own name, nothing
// left by a run that did not succeed (killed, its reader gone, a full or
// read-only disk), never through a planted link, and names that are only ever
// read as files.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QThread>

#include "encoders_support.h"
#include "settings/core/formats.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

extern char** environ;

namespace {

using enc::panel;

QString tool(const QString& name) { return QDir(QStringLiteral(VANTREL_DATA_DIR)).filePath(name); }

// coder making an MP3, as the program runs it (with -y) or without -y.
ToolCommand coderMp3(const QString& source, const QString& output, bool yes = true) {
  ToolCommand c;
  c.program = tool(QStringLiteral("coder"));
  c.args << "-i" << source;
  if (yes) c.args << "-y";
  c.args << "-vn" << "-ar" << "44100" << "-ab" << "128k" << "-ac" << "2" << output;
  return c;
}

#ifdef Q_OS_LINUX
int processesMentioning(const QString& text) {
  int n = 0;
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (pid.toInt() > 0 && pid.toInt() != QCoreApplication::applicationPid() && f.open(QIODevice::ReadOnly) &&
        f.readAll().contains(text.toUtf8()))
      ++n;
  }
  return n;
}

// Waits until no process mentions `text` (FFmpeg children end with their tool).
bool noProcessMentions(const QString& text, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (processesMentioning(text) > 0) {
    if (t.elapsed() > ms) return false;
    QThread::msleep(50);
  }
  return true;
}

bool run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
#endif

}  // namespace

class TestEncoderOutput : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString clip_, long_;
  int case_ = 0;

  QString path(const QString& name) const { return dir_.filePath(name); }

  // A fresh case folder with its own copy of `source`, so that the processes
  // of this case can be told by their command lines.
  QString caseFolder(const QString& source, QString* copy) {
    const QString folder = path(QStringLiteral("case%1").arg(++case_));
    QDir().mkpath(folder + QStringLiteral("/out"));
    QDir().mkpath(folder + QStringLiteral("/work"));
    *copy = folder + QStringLiteral("/src.mp4");
    QFile::copy(source, *copy);
    return folder;
  }

  // The command of `format` ("avi", "mp4", "mp3", "mov", "3gp") writing into
  // `out`; the two-stage formats read the work file, made here first.
  ToolCommand commandFor(const QString& format, const QString& source, const QString& out, const QString& work) {
    const BuildContext ctx = enc::buildContext(work);
    const int pos = format == "avi" ? Formats::AVI : format == "mp4" ? Formats::MP4HQ : format == "mp3" ? Formats::MP3
                    : format == "mov" ? Formats::MOV : Formats::GP3;
    const QString target = CommandLines::outputFileName(out, source, QTime(1, 2, 3), CommandLines::outputExtension(pos));
    if (Formats::format(pos)->stageCount != 2) return CommandLines::stageOne(panel(pos), source, target, ctx);
    const enc::Run one = enc::runTool(CommandLines::stageOne(panel(pos), source, {}, ctx));
    if (one.exitCode != 0) return {};
    return CommandLines::stageTwo(panel(pos), target, ctx);
  }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    clip_ = path(QStringLiteral("clip.mp4"));
    long_ = path(QStringLiteral("long.mp4"));
    QVERIFY(enc::makeClip(clip_, {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2", "-f", "lavfi", "-i",
                                  "sine=duration=2", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                                  "-c:a", "aac"}));
    QVERIFY(enc::makeClip(long_, {"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=30", "-f", "lavfi", "-i",
                                  "sine=duration=30", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                                  "-c:a", "aac", "-shortest"}));
  }

#ifdef Q_OS_UNIX
  // Links planted at the output's name and at the names earlier versions used
  // for their partial files (".vantrel-<pid>.part", for the next pids) are
  // never followed, and the link at the name is never replaced, with -y or
  // without: the output takes the next free name.
  // The same holds on file systems without unnamed files, where the partial
  // file has a random name of its own ("named").
  void plantedLinks_data() {
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("victimExists");
    QTest::addColumn<bool>("named");
    for (const bool named : {false, true}) {
      const char* road = named ? ", named partial" : "";
      QTest::addRow("dangling link at the name, no -y%s", road) << false << false << named;
      QTest::addRow("link to a file at the name, no -y%s", road) << false << true << named;
      QTest::addRow("link to a file at the name, -y%s", road) << true << true << named;
    }
  }

  void plantedLinks() {
    QFETCH(bool, yes);
    QFETCH(bool, victimExists);
    QFETCH(bool, named);
    if (named) qputenv("VANTREL_TOOL_NAMED_PARTIAL", "1");
    auto unset = qScopeGuard([] { qunsetenv("VANTREL_TOOL_NAMED_PARTIAL"); });
    QString src;
    const QString folder = caseFolder(clip_, &src);
    const QString out = folder + QStringLiteral("/out");
    const QString victim = folder + QStringLiteral("/victim.mp3");
    if (victimExists) QVERIFY(enc::writeFile(victim, "the victim's own file"));
    const QString output = out + QStringLiteral("/result.mp3");
    QVERIFY(QFile::link(victim, output));
    QFile lastPid(QStringLiteral("/proc/sys/kernel/ns_last_pid"));
    QStringList planted;
    if (lastPid.open(QIODevice::ReadOnly)) {
      const int next = lastPid.readAll().trimmed().toInt() + 1;
      for (int pid = next; pid < next + 300; ++pid) {
        planted << QStringLiteral(".vantrel-%1.part").arg(pid);
        QVERIFY(QFile::link(victim, out + QLatin1Char('/') + planted.last()));
      }
    }
    const QByteArray before = enc::fileHash(victim);
    const enc::Run run = enc::runTool(coderMp3(src, output, yes));
    QCOMPARE(enc::fileHash(victim), before);
    QCOMPARE(QFileInfo::exists(victim), victimExists);
    for (const QString& name : planted) QVERIFY(QFileInfo(out + QLatin1Char('/') + name).isSymLink());
    QStringList left = enc::folderEntries(out);
    for (const QString& name : planted) left.removeAll(name);
    QCOMPARE(left, (QStringList{QStringLiteral("result(2).mp3"), QStringLiteral("result.mp3")}));
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QCOMPARE(QFileInfo(output).symLinkTarget(), victim);
    QVERIFY(enc::probe(out + QStringLiteral("/result(2).mp3")).ok);
  }

  // A tool ended abruptly leaves no file at all in the output folder, and
  // its FFmpeg children end with it: killed outright (SIGKILL), or its
  // reader gone (the program killed), when it stops by itself at its next
  // progress line instead of dying on SIGPIPE or running on.
  void endedAbruptly_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("kill");
    QTest::newRow("conv mp4 killed") << "mp4" << true;
    QTest::newRow("coder mp3 killed") << "mp3" << true;
    QTest::newRow("coder2 3gp killed") << "3gp" << true;
    QTest::newRow("conv avi reader gone") << "avi" << false;
    QTest::newRow("coder mp3 reader gone") << "mp3" << false;
  }

  void endedAbruptly() {
    QFETCH(QString, format);
    QFETCH(bool, kill);
    QString src;
    const QString folder = caseFolder(long_, &src);
    const ToolCommand cmd = commandFor(format, src, folder + "/out", folder + "/work");
    QVERIFY(!cmd.isEmpty());
    int fds[2];
    QVERIFY(::pipe(fds) == 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    QList<QByteArray> args{QFile::encodeName(cmd.program)};
    for (const QString& a : cmd.args) args << QFile::encodeName(a);
    std::vector<char*> argv;
    for (QByteArray& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    QCOMPARE(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    QByteArray seen;
    char buf[512];
    while (!seen.contains("Pos:") && !seen.contains("time=")) {
      const ssize_t n = ::read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      seen.append(buf, n);
    }
    if (kill) ::kill(pid, SIGKILL);
    ::close(fds[0]);
    int status = 0;
    QElapsedTimer t;
    t.start();
    while (::waitpid(pid, &status, WNOHANG) == 0 && t.elapsed() < 10000) QThread::msleep(20);
    if (t.elapsed() >= 10000) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      QFAIL("the tool ran on after its reader had gone");
    }
    if (kill) {
      QVERIFY(WIFSIGNALED(status));
    } else {
      QVERIFY2(WIFEXITED(status), qPrintable(QStringLiteral("ended by signal %1").arg(WTERMSIG(status))));
      QCOMPARE(WEXITSTATUS(status), 143);
    }
#ifdef Q_OS_LINUX
    QVERIFY(noProcessMentions(QStringLiteral("case%1/").arg(case_)));
#endif
    QCOMPARE(enc::folderEntries(folder + "/out"), QStringList());
  }
#endif

#ifdef Q_OS_LINUX
  // An output folder on a full disk or a read-only one: a non-zero exit with
  // the reason, and no file, for every kind of tool. Needs root to mount a
  // small tmpfs (CI runs as root).
  void unwritableFolder_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("code");
    QTest::newRow("full: conv mp4") << "mp4" << "size=96k" << "disk-full";
    QTest::newRow("full: coder mp3") << "mp3" << "size=96k" << "disk-full";
    QTest::newRow("full: coder mov") << "mov" << "size=96k" << "disk-full";
    QTest::newRow("full: coder2 3gp") << "3gp" << "size=96k" << "disk-full";
    QTest::newRow("read-only: conv mp4") << "mp4" << "ro" << "output-unwritable";
    QTest::newRow("read-only: coder mp3") << "mp3" << "ro" << "output-unwritable";
  }

  void unwritableFolder() {
    QFETCH(QString, format);
    QFETCH(QString, options);
    QFETCH(QString, code);
    if (::geteuid() != 0) QSKIP("mounting a small tmpfs for the output folder needs root");
    QString src;
    const QString folder = caseFolder(long_, &src);
    const QString out = folder + "/out";
    if (!run("mount", {"-t", "tmpfs", "-o", options, "tmpfs", out}))
      QSKIP("this machine does not allow mounting a tmpfs");
    const ToolCommand cmd = commandFor(format, src, out, folder + "/work");
    const enc::Run r = enc::runTool(cmd);
    const QStringList left = enc::folderEntries(out);
    QVERIFY(run("umount", {out}));
    QVERIFY2(r.exitCode == 1, qPrintable(r.output));
    QCOMPARE(r.reason, code);
    QCOMPARE(left, QStringList());
  }
#endif

  // Source and output names that look like FFmpeg protocols or options are
  // read as plain files in the working folder.
  void protocolLikeNames_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("output");
    QTest::newRow("coder pipe: to file:") << "coder"
        << QStringList{"-i", "pipe:x.mp4", "-y", "-vn", "-ar", "44100", "-ab", "128k", "-ac", "2", "file:y.mp3"}
        << "file:y.mp3";
    QTest::newRow("conv pipe: to file:") << "conv"
        << QStringList{"pipe:x.mp4", "-oac", "mp3lame", "-lameopts", "preset=128", "-ovc", "lavc", "-lavcopts",
                       "vcodec=mpeg4:vbitrate=800", "-of", "avi", "-o", "file:y.avi"}
        << "file:y.avi";
    QTest::newRow("coder2 a name like an option") << "coder2"
        << QStringList{"-i", "pipe:x.mp4", "-y", "-s", "176x144", "-vcodec", "mpeg4", "-acodec", "amr_nb", "-ac", "1",
                       "-ar", "8000", "-ab", "12.2k", "./-y.3gp"}
        << "-y.3gp";
  }

  void protocolLikeNames() {
    QFETCH(QString, program);
    QFETCH(QStringList, args);
    QFETCH(QString, output);
    QString src;
    const QString folder = caseFolder(clip_, &src);
    QVERIFY(QFile::rename(src, folder + "/pipe:x.mp4"));
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(tool(program), args);
    QVERIFY(p.waitForFinished(120000));
    const QByteArray text = p.readAll();
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, text.constData());
    QVERIFY(enc::probe(folder + "/" + output).ok);
    QCOMPARE(enc::fileHash(folder + "/pipe:x.mp4"), enc::fileHash(clip_));
  }

  // A name at the file system's limit is written (also when it is taken and
  // the next name has to be cut to fit); one byte more fails
  // at once with its reason, before any coding.
  void namesAtTheLimit_data() {
    QTest::addColumn<bool>("named");
    QTest::newRow("unnamed partial") << false;
    QTest::newRow("named partial") << true;
  }

  void namesAtTheLimit() {
    QFETCH(bool, named);
    if (named) qputenv("VANTREL_TOOL_NAMED_PARTIAL", "1");
    auto unset = qScopeGuard([] { qunsetenv("VANTREL_TOOL_NAMED_PARTIAL"); });
    QString src;
    const QString folder = caseFolder(clip_, &src);
    const QString atLimit = folder + "/out/" + QString(251, QLatin1Char('n')) + ".mp3";
    const enc::Run fits = enc::runTool(coderMp3(src, atLimit));
    QVERIFY2(fits.exitCode == 0, qPrintable(fits.output));
    QVERIFY(enc::probe(atLimit).ok);
    // Taken now: the next name, cut to fit, and the older file as it was.
    const QByteArray older = enc::fileHash(atLimit);
    const enc::Run next = enc::runTool(coderMp3(src, atLimit));
    QVERIFY2(next.exitCode == 0, qPrintable(next.output));
    QCOMPARE(enc::fileHash(atLimit), older);
    QVERIFY(enc::probe(folder + "/out/" + QString(248, QLatin1Char('n')) + "(2).mp3").ok);
    QCOMPARE(enc::folderEntries(folder + "/out").size(), 2);

    const QString over = folder + "/out/" + QString(252, QLatin1Char('n')) + ".mp3";
    QElapsedTimer t;
    t.start();
    const enc::Run tooLong = enc::runTool(coderMp3(src, over));
    QCOMPARE(tooLong.exitCode, 1);
    QCOMPARE(tooLong.reason, QStringLiteral("name-too-long"));
    QVERIFY2(!tooLong.output.contains(QLatin1String("time=")), qPrintable(tooLong.output));
    QCOMPARE(enc::folderEntries(folder + "/out").size(), 2);

    const enc::Run noFolder = enc::runTool(coderMp3(src, folder + "/missing/result.mp3"));
    QCOMPARE(noFolder.exitCode, 1);
    QCOMPARE(noFolder.reason, QStringLiteral("output-unwritable"));
  }
};

QTEST_GUILESS_MAIN(TestEncoderOutput)
#include "test_encoder_output.moc"
