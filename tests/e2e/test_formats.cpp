// Every output format from a queued clip to a playable file, in the real
// window with the real encoders.
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "settings/core/appdirs.h"
#include "settings/core/options.h"
#include "support/desktop.h"
#include "ui/frmmain.h"

namespace {
QJsonObject probe(const QString& file) {
  QProcess p;
  p.start("ffprobe", {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", file});
  p.waitForFinished(30000);
  return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

QString codecOf(const QJsonObject& info, const QString& type) {
  for (const auto& s : info["streams"].toArray())
    if (s.toObject()["codec_type"].toString() == type) return s.toObject()["codec_name"].toString();
  return {};
}
}  // namespace

class TestFormats : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString clip_;

 private Q_SLOTS:
  void initTestCase() {
    qputenv("XDG_CACHE_HOME", dir_.filePath("cache").toUtf8());
    AppDirs::setProgramFolder(VANTREL_BUILD_DIR);
    options().soundSwitch = 1;
    clip_ = dir_.filePath("源 clip.one.mp4");
    const int rc = QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2",
                                                "-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-c:v", "libx264",
                                                "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", "-y", clip_});
    QCOMPARE(rc, 0);
  }

  void everyFormat_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("audio");
    QTest::newRow("rmvb") << 0 << "rmvb" << "rm" << "rv10" << "ac3";
    QTest::newRow("rm") << 1 << "rm" << "rm" << "rv10" << "ac3";
    QTest::newRow("mpg") << 2 << "mpg" << "mpeg" << "mpeg2video" << "mp2";
    QTest::newRow("avi") << 3 << "avi" << "avi" << "mpeg2video" << "mp2";
    QTest::newRow("mp4 hq") << 4 << "mp4" << "mov,mp4,m4a,3gp,3g2,mj2" << "mpeg4" << "mp3";
    QTest::newRow("mov") << 5 << "mov" << "mov,mp4,m4a,3gp,3g2,mj2" << "h264" << "aac";
    QTest::newRow("phone mp4") << 6 << "mp4" << "mov,mp4,m4a,3gp,3g2,mj2" << "mpeg4" << "amr_nb";
    QTest::newRow("3gp") << 7 << "3gp" << "mov,mp4,m4a,3gp,3g2,mj2" << "mpeg4" << "amr_nb";
    QTest::newRow("mp3") << 8 << "mp3" << "mp3" << "" << "mp3";
  }

  void everyFormat() {
    QFETCH(int, position);
    QFETCH(QString, ext);
    QFETCH(QString, format);
    QFETCH(QString, video);
    QFETCH(QString, audio);
    RecordingPrompter boxes;
    RecordingDesktop shell;
    FakeDialogs dialogs;  // every dialog cancelled
    frmMain w(frmMain::Services{&dialogs, &shell});
    const QString out = dir_.filePath(QStringLiteral("out%1").arg(position));
    w.findChild<QLineEdit*>("txtPath")->setText(out);
    w.findChild<QComboBox*>("cmbOF")->setCurrentIndex(position);
    w.cmbOF_Click();
    w.AppendFile(clip_);
    QStringList captions;
    connect(&w.batchDriver(), &BatchDriver::progressed, [&] { captions << w.findChild<QLabel*>("lblPB")->text(); });
    QSignalSpy ended(&w.batchDriver(), &BatchDriver::batchEnded);
    w.findChild<QPushButton*>("Command3")->click();
    QVERIFY(ended.wait(120000));
    QVERIFY2(boxes.messages.isEmpty(), qPrintable(boxes.messages.join('\n')));
    QCOMPARE(w.lstFile.count(), 0);
    QCOMPARE(w.findChild<QLabel*>("lblPB")->text(), QStringLiteral("Done."));
    // The bar followed the runs: stage one ends at 结束 100%, a second-runner
    // run at 完成 100%.
    const QString end = position == 8 ? QStringLiteral("完成 100%") : QStringLiteral("结束 100%");
    QVERIFY2(captions.contains(end), qPrintable(captions.join('|')));
    if (position != 2 && position != 3 && position != 4)
      QVERIFY2(captions.contains(QStringLiteral("完成 100%")), qPrintable(captions.join('|')));
    QVERIFY(w.findChild<QComboBox*>("cmbOF")->isEnabled() && w.findChild<QToolButton*>(QStringLiteral("CmdToolsBar%1").arg(0))->isEnabled() && w.findChild<QLabel*>("lblFeed")->isEnabled());
    const QStringList files = QDir(out).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY2(files[0].startsWith(QStringLiteral("源 clip-")) && files[0].endsWith("." + ext), qPrintable(files[0]));
    const QJsonObject info = probe(out + "/" + files[0]);
    QCOMPARE(info["format"].toObject()["format_name"].toString(), format);
    QCOMPARE(codecOf(info, "video"), video);
    QCOMPARE(codecOf(info, "audio"), audio);
    const double duration = info["format"].toObject()["duration"].toString().toDouble();
    QVERIFY2(qAbs(duration - 2.0) <= 0.3, qPrintable(QString::number(duration)));
    QCOMPARE(shell.folders, QStringList{out + "/"});
  }
};

QTEST_MAIN(TestFormats)
#include "test_formats.moc"
