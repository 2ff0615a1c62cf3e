// Where the program finds itself and keeps its files: the build tree and the
// installed layout, and the work folder that belongs to one running copy and
// never outlives it for long, even when the copy is killed mid-batch.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QSysInfo>
#include <QtTest>
#include <iostream>

#include "engine/commandline.h"
#include "filelist/pathhelpers.h"
#include "settings/core/appdirs.h"
#include "settings_support.h"
#include "ui/combo.h"

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

namespace {

void touch(const QString& path, const QByteArray& data = "x") {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(data);
}

// The one root of the window and vantrel-cli alike.
QString workRoot() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)).filePath("Vantrel/work");
}

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                QDir::Name);
}

// This test program again, in one of the child modes below; its first line
// of output is the work folder it holds.
struct Child {
  QProcess process;
  QString workFolder;
  bool start(const QStringList& args, const QProcessEnvironment& env =
                                          QProcessEnvironment::systemEnvironment()) {
    process.setProcessEnvironment(env);
    process.start(QCoreApplication::applicationFilePath(), args);
    if (!process.waitForStarted(5000)) return false;
    while (!process.canReadLine())
      if (!process.waitForReadyRead(20000)) return false;
    workFolder = QString::fromLocal8Bit(process.readLine().trimmed());
    return !workFolder.isEmpty();
  }
  // Ends a child that holds its folder the ordinary way.
  bool finish() {
    process.closeWriteChannel();
    return process.waitForFinished(10000) && process.exitCode() == 0;
  }
  ~Child() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(5000);
    }
  }
};

// Child mode: claims the work folder as a starting copy does, says where it
// is and holds it until its input closes.
int holdWorkFolder(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::cout << AppDirs::workFolder().toStdString() << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}

// Child mode: the real main window, offscreen, converting argv[2] to 3GP into
// the folder argv[3] with the encoders of the build tree.
int windowBatch(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString program = QString::fromLocal8Bit(argv[4]);
  AppDirs::setProgramFolder(program);
  const QString work = AppDirs::workFolder();
  frmMain window;
  window.Form_Load();
  setListPosition(window.findChild<QComboBox*>("cmbOF"), 7);
  window.findChild<QLineEdit*>("txtPath")->setText(QString::fromLocal8Bit(argv[3]));
  window.AppendFile(QString::fromLocal8Bit(argv[2]));
  window.show();
  QTest::mouseClick(window.findChild<QPushButton*>("Command3"), Qt::LeftButton);
  std::cout << work.toStdString() << std::endl;
  return app.exec();
}

}  // namespace

class TestAppDirs : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir media_;
  QString longClip_;

 private Q_SLOTS:
  void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

  // ---- layouts ---------------------------------------------------------------

  void buildTreeKeepsEverythingBesideTheProgram() {
    Sandbox sb;
    QDir(sb.programFolder()).mkpath("data");
    QVERIFY(!AppDirs::installedLayout());
    QCOMPARE(AppDirs::toolFolder(), sb.path("data"));
    QCOMPARE(CommandLines::toolProgram(AppDirs::toolFolder(), "conv"), sb.path("data/conv"));
    QCOMPARE(AppDirs::dataFolder(), sb.programFolder());
    QCOMPARE(AppDirs::settingsFolder(), sb.programFolder());
    QCOMPARE(AppDirs::defaultOutputFolder(), sb.path("output"));
  }

  void theRealBuildTreeHasItsEncodersAndData() {
    AppDirs::setProgramFolder(QStringLiteral(VANTREL_BUILD_DIR));
    for (const char* tool : {"conv", "coder", "coder2"})
      QVERIFY2(QFileInfo(CommandLines::toolProgram(AppDirs::toolFolder(), tool)).isExecutable(), tool);
    for (const char* file : {"help.html", "sound.wav"})
      QVERIFY2(QFileInfo::exists(JoinPath(AppDirs::dataFolder(), file)), file);
    AppDirs::setProgramFolder(QString());
  }

  // An installed copy never writes beside itself, even where it could (root).
  void installedLayoutUsesTheUsersFolders() {
    Sandbox sb;
    const QString usr = sb.path("usr");
    QVERIFY(QDir().mkpath(usr + "/bin") && QDir().mkpath(usr + "/libexec/vantrel") &&
            QDir().mkpath(usr + "/share/vantrel"));
    // A data/ folder beside an installed program changes nothing.
    QVERIFY(QDir().mkpath(usr + "/bin/data"));
    AppDirs::setProgramFolder(usr + "/bin");
    QVERIFY(AppDirs::programFolderWritable());
    QVERIFY(AppDirs::installedLayout());
    QCOMPARE(CommandLines::toolProgram(AppDirs::toolFolder(), "coder2"), usr + "/libexec/vantrel/coder2");
    QCOMPARE(AppDirs::dataFolder(), usr + "/share/vantrel");
    QCOMPARE(AppDirs::settingsFolder(),
             QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
    QVERIFY(AppDirs::settingsFolder().startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))));
    QCOMPARE(AppDirs::defaultOutputFolder(),
             QDir(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation)).filePath("Vantrel"));

    auto w = sb.start();
    w->imgExit_Click();
    QVERIFY(QFileInfo::exists(QDir(AppDirs::settingsFolder()).filePath("setup.ini")));
    QCOMPARE(entries(usr + "/bin"), QStringList{"data"});
  }

  // ---- files named on the command line ------------------------------------------

  void filesFromArguments() {
    QTemporaryDir dir;
    const QString here = dir.path();
    touch(here + "/a clip.mp4");
    touch(here + "/视频.mkv");
    touch(here + "/-x.avi");
    touch(here + "/sub/b.mp3");
    const QStringList got = FilesFromArguments(
        {"a clip.mp4", here + "/视频.mkv", "-x.avi", "missing.mp4", "sub", "",
         QUrl::fromLocalFile(here + "/sub/b.mp3").toString(), "./sub/../a clip.mp4"},
        here);
    QCOMPARE(got, (QStringList{here + "/a clip.mp4", here + "/视频.mkv", here + "/-x.avi",
                               here + "/sub/b.mp3", here + "/a clip.mp4"}));
  }

  // ---- the work folder ------------------------------------------------------------

  void workFolderIsPrivateToThisCopy() {
    Sandbox sb;
    const QString work = AppDirs::workFolder();
    QCOMPARE(QFileInfo(work).path(), workRoot());
    QCOMPARE(AppDirs::workFolder(), work);  // the same for the life of the copy
    for (const QString& folder : {work, workRoot()})
      QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFileDevice::Permissions());
    // Removed by somebody meanwhile: it comes back.
    QVERIFY(QDir(work).removeRecursively());
    QVERIFY(QFileInfo(AppDirs::workFolder()).isDir());
  }

  // Two logins of one user share the home but not the runtime folder: both
  // copies run, and each writes its own work files.
  void twoCopiesSharingAHomeKeepApart() {
    Sandbox sb;
    auto envWithRuntime = [&](const QString& name) {
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      const QString runtime = sb.path(name);
      QDir().mkpath(runtime);
      QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      env.insert("XDG_RUNTIME_DIR", runtime);
      return env;
    };
    Child a, b;
    QVERIFY(a.start({"--hold-work-folder"}, envWithRuntime("run-a")));
    QVERIFY(b.start({"--hold-work-folder"}, envWithRuntime("run-b")));
    QVERIFY(a.workFolder != b.workFolder);
    QCOMPARE(QFileInfo(a.workFolder).path(), workRoot());
    QCOMPARE(QFileInfo(b.workFolder).path(), workRoot());
    touch(a.workFolder + "/tmp.mp4", "a");
    touch(b.workFolder + "/tmp.mp4", "b");

    // A third copy starting meanwhile takes nothing from the two.
    const QString mine = AppDirs::workFolder();
    QVERIFY(mine != a.workFolder && mine != b.workFolder);
    QCOMPARE(QFile(a.workFolder + "/tmp.mp4").size(), 1);
    QCOMPARE(QFile(b.workFolder + "/tmp.mp4").size(), 1);

    // An ordinary end takes the folder along; a killed copy's goes at the next start.
    QVERIFY(a.finish());
    QVERIFY(!QFileInfo::exists(a.workFolder));
    b.process.kill();
    QVERIFY(b.process.waitForFinished(5000));
    QVERIFY(QFileInfo::exists(b.workFolder + "/tmp.mp4"));
    Child c;
    QVERIFY(c.start({"--hold-work-folder"}));
    QVERIFY(!QFileInfo::exists(b.workFolder));
    QVERIFY(QFileInfo::exists(mine));
    QVERIFY(c.finish());
  }

  // The same with the program itself: two logins start two copies, each
  // claims its own folder at start-up, and a start after both died clears
  // what they left.
  void programCopiesOfTwoLogins() {
    const QString exe = QStringLiteral(VANTREL_BUILD_DIR "/vantrel");
    if (!QFileInfo(exe).isExecutable()) QSKIP("the vantrel program is not built");
    Sandbox sb;
    const QString root =
        QDir(QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME"))).filePath("Vantrel/work");
    auto lockCount = [&] { return QDir(root).entryList({"*.lock"}, QDir::Files).size(); };
    QProcess copies[3];
    for (int i = 0; i < 3; ++i) {
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      const QString runtime = sb.path(QStringLiteral("run-%1").arg(i % 2));
      QDir().mkpath(runtime);
      QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      env.insert("XDG_RUNTIME_DIR", runtime);
      env.insert("QT_QPA_PLATFORM", "offscreen");
      copies[i].setProcessEnvironment(env);
    }
    // Each copy makes its lock, then its folder.
    copies[0].start(exe, {});
    QTRY_COMPARE_WITH_TIMEOUT(entries(root).size(), 2, 10000);
    copies[1].start(exe, {});
    QTRY_COMPARE_WITH_TIMEOUT(entries(root).size(), 4, 10000);
    QCOMPARE(lockCount(), 2);
    QCOMPARE(copies[0].state(), QProcess::Running);
    QCOMPARE(copies[1].state(), QProcess::Running);
    QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
    for (const QString& dir : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
      touch(QDir(root).filePath(dir + "/tmp.mp4"));
    for (int i = 0; i < 2; ++i) {
      copies[i].kill();
      QVERIFY(copies[i].waitForFinished(5000));
    }
    QCOMPARE(entries(root).size(), 4);
    copies[2].start(exe, {});
    QVERIFY(copies[2].waitForStarted(5000));
    // Folders are named after the process that holds them.
    const QString own = QStringLiteral("copy-%1-").arg(copies[2].processId());
    QTRY_VERIFY_WITH_TIMEOUT(entries(root).size() == 2 && entries(root)[0].startsWith(own) &&
                                 entries(root)[1].startsWith(own),
                             10000);
    QCOMPARE(copies[2].state(), QProcess::Running);
    const QStringList left = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(left.size(), 1);
    QCOMPARE(entries(QDir(root).filePath(left[0])), QStringList());
    copies[2].kill();
    QVERIFY(copies[2].waitForFinished(5000));
  }

  // What a start sweeps away and what it leaves: only entries of a copy's
  // own naming whose lock is free, and no link is followed, at the root or
  // inside a folder it removes.
  void startRemovesOnlyWhatDeadCopiesLeft() {
    Sandbox sb;
    const QString root = workRoot();
    QVERIFY(QDir().mkpath(root));
    QTemporaryDir outside;
    touch(outside.path() + "/precious.mp4");
    // A copy that died: its lock names a process that does not run; inside
    // its folder a link to the user's folder.
    touch(root + "/copy-1-dead00.lock",
          "999999999\n" + QCoreApplication::applicationName().toUtf8() + "\n" +
              QSysInfo::machineHostName().toUtf8() + "\n");
    touch(root + "/copy-1-dead00/tmp.mp4");
    touch(root + "/copy-1-dead00/deeper/tmpfile.wav");
    QVERIFY(QFile::link(outside.path(), root + "/copy-1-dead00/deeper/link"));
    // A folder whose lock is gone; a link of a copy's naming.
    touch(root + "/copy-2-abc123/tmp.mp4");
    QVERIFY(QFile::link(outside.path(), root + "/copy-3-abc123"));
    // Entries that are not the program's: they stay.
    touch(root + "/tmp.mp4");
    touch(root + "/copy-nolock/notes.txt");
    QVERIFY(QFile::link(outside.path(), root + "/user-link"));
    // A copy that runs.
    Child live;
    QVERIFY(live.start({"--hold-work-folder"}));
    touch(live.workFolder + "/tmp.mp4");

    Child next;
    QVERIFY(next.start({"--hold-work-folder"}));
    const QString liveName = QFileInfo(live.workFolder).fileName();
    const QString nextName = QFileInfo(next.workFolder).fileName();
    QStringList expected{liveName, liveName + ".lock", nextName, nextName + ".lock", "tmp.mp4", "copy-nolock",
                         "user-link"};
    expected.sort();
    QCOMPARE(entries(root), expected);
    QVERIFY(QFileInfo::exists(live.workFolder + "/tmp.mp4"));
    QCOMPARE(entries(outside.path()), QStringList{"precious.mp4"});
    QVERIFY(live.finish());
    QVERIFY(next.finish());
    QCOMPARE(entries(root), (QStringList{"copy-nolock", "tmp.mp4", "user-link"}));
  }

  // A work root that is a link to a folder of the user's keeps its mode and
  // everything of the user's in it.
  void workRootLinkedToAUsersFolder() {
    Sandbox sb;
    QTemporaryDir users;
    touch(users.path() + "/holiday.mp4");
    touch(users.path() + "/notes/today.txt");
    QVERIFY(QFile::setPermissions(users.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                    QFile::ExeOther));
    const QFileDevice::Permissions before = QFileInfo(users.path()).permissions();
    QVERIFY(QDir().mkpath(QFileInfo(workRoot()).path()));
    QVERIFY(QFile::link(users.path(), workRoot()));
    Child c;
    QVERIFY(c.start({"--hold-work-folder"}));
    QCOMPARE(QFileInfo(c.workFolder).path(), workRoot());
    QVERIFY(c.finish());
    QCOMPARE(QFileInfo(users.path()).permissions(), before);
    QCOMPARE(entries(users.path()), (QStringList{"holiday.mp4", "notes"}));
    QCOMPARE(entries(users.path() + "/notes"), QStringList{"today.txt"});
  }

  // ---- a window that dies mid-batch ------------------------------------------------

  void killedWindow_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("silentTool");
    QTest::newRow("SIGKILL") << int(SIGKILL) << false;
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    // A tool that prints nothing never learns from its output pipe that the
    // window is gone.
    QTest::newRow("SIGKILL, silent tool") << int(SIGKILL) << true;
  }

  // The encoder ends with the window, no partial file stays in
  // the output folder, and the next start clears the work folder.
  void killedWindow() {
#ifndef Q_OS_LINUX
    QSKIP("watches processes through /proc");
#else
    QFETCH(int, signal);
    QFETCH(bool, silentTool);
    if (longClip_.isEmpty()) {
      longClip_ = media_.filePath("long.mp4");
      QProcess ff;
      ff.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                          "testsrc=size=640x360:rate=25:duration=120", "-f", "lavfi", "-i",
                          "sine=frequency=440:duration=120", "-c:v", "mpeg4", "-q:v", "10",
                          "-c:a", "aac", longClip_});
      QVERIFY(ff.waitForFinished(120000) && ff.exitCode() == 0);
    }
    Sandbox sb;
    QStringList names{"conv"};
    if (silentTool) {
      names = QStringList{"sleep"};
      QDir(sb.programFolder()).mkpath("data");
      touch(sb.path("data/conv"), "#!/bin/sh\nexec sleep 60\n");
      QFile::setPermissions(sb.path("data/conv"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    } else {
      QVERIFY(QFile::link(QStringLiteral(VANTREL_DATA_DIR), sb.path("data")));
    }
    const QString out = sb.path("out");

    Child window;
    QVERIFY(window.start({"--window-batch", longClip_, out, sb.programFolder()}));
    const qint64 pid = window.process.processId();
    QList<qint64> tools;
    auto running = [&](const QString& name) {
      for (qint64 id : tools)
        if (Procs::name(id) == name) return true;
      return false;
    };
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                   tools = Procs::descendants(pid);
                   return std::all_of(names.begin(), names.end(), running);
                 },
                 20000),
             "the batch did not start the encoder");

    ::kill(pid_t(pid), signal);
    QVERIFY(window.process.waitForFinished(5000));
    const bool gone = QTest::qWaitFor(
        [&] { return std::all_of(tools.begin(), tools.end(), Procs::gone); }, 5000);
    if (!gone)
      for (qint64 id : tools) ::kill(pid_t(id), SIGKILL);
    QVERIFY2(gone, "an encoder outlived the window");
    QCOMPARE(entries(out), QStringList());

    Child next;
    QVERIFY(next.start({"--hold-work-folder"}));
    QVERIFY(!QFileInfo::exists(window.workFolder));
    QCOMPARE(entries(workRoot()).size(), 2);  // the new copy's folder and lock
    QCOMPARE(entries(next.workFolder), QStringList());
    QVERIFY(next.finish());
#endif
  }
};

int main(int argc, char** argv) {
  if (argc > 1 && qstrcmp(argv[1], "--hold-work-folder") == 0) return holdWorkFolder(argc, argv);
  if (argc > 4 && qstrcmp(argv[1], "--window-batch") == 0) return windowBatch(argc, argv);
  QApplication app(argc, argv);
  TestAppDirs test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "test_appdirs.moc"
