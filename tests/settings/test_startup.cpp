// The settings panel, start-up, exit and shut-down of the real main window,
// driven offscreen in a program folder of its own.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

#include "engine/commandline.h"
#include "settings/core/appdirs.h"
#include "settings/core/options.h"
#include "settings/core/singlecopy.h"
#include "ui/copyhandoff.h"
#include "ui/frmoptions.h"
#include "settings_support.h"
#include "ui/combo.h"

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

namespace {

struct Panel {
  int format;
  QString vb, f, s, r, br, channel;
};

Panel panelOf(const frmMain& w) {
  return {w.findChild<QComboBox*>("cmbOF")->currentIndex(), w.findChild<QComboBox*>("cmbVB")->currentText(), w.findChild<QComboBox*>("cmbF")->currentText(),
          w.findChild<QComboBox*>("cmbS")->currentText(),   w.findChild<QComboBox*>("cmbR")->currentText(),  w.findChild<QComboBox*>("cmbBR")->currentText(),
          w.findChild<QComboBox*>("cmbChannel")->currentText()};
}

QString defaultOutput(const Sandbox& sb) { return QDir(sb.programFolder()).filePath("output"); }

QByteArray setupLines(const QStringList& fields) {
  QByteArray out;
  for (const QString& f : fields) out += "\"" + f.toUtf8() + "\"\r\n";
  return out;
}

QString workFile(const char* name) { return QDir(AppDirs::workFolder()).filePath(QLatin1String(name)); }


void writeTool(const Sandbox& sb, const QString& name, const QByteArray& script) {
  QDir(sb.programFolder()).mkpath("data");
  const QString path = sb.path("data/" + name);
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(script);
  f.close();
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Runs `act` on the options dialog once it is open and modal.
void onOptionsDialog(std::function<void(frmOptions*)> act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  auto tries = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [poll, tries, act] {
    if (auto* d = qobject_cast<frmOptions*>(QApplication::activeModalWidget())) {
      poll->deleteLater();
      act(d);
    } else if (++*tries > 500) {
      poll->deleteLater();
    }
  });
  poll->start();
}

}  // namespace

class TestStartup : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

  // ---- the panel -------------------------------------------------------------

  void panelBoxes_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QPoint>("labelAt");
    QTest::newRow("cmbOF") << "cmbOF"
        << QStringList{"RMVB(RealPlayerRMVB)", "RM(RealPlayerRM)", "MPG(MPEG2)",
                       "AVI(Windows Media Player格式)", "MP4(高清MPEG4格式)", "MOV(QuickTime格式)",
                       "MP4(手机MP4格式)", "3GP(手机3GP格式)", "MP3(纯音频格式)"}
        << false << QRect(490, 90, 189, 22) << "输出格式：" << QPoint(490, 72);
    QTest::newRow("cmbVB") << "cmbVB"
        << QStringList{"40", "80", "120", "128", "256", "384", "512", "600", "640", "768", "800",
                       "900", "1000", "1500"}
        << true << QRect(488, 146, 89, 22) << "视频比特率：" << QPoint(488, 126);
    QTest::newRow("cmbF") << "cmbF" << QStringList{"15", "23", "29"} << true
                          << QRect(588, 146, 89, 22) << "帧率：" << QPoint(588, 126);
    QTest::newRow("cmbS") << "cmbS"
        << QStringList{"原始大小", "128x96", "160x120", "176x144", "320x180", "320x240",
                       "352x288", "640x272", "480x480", "640x360", "640x480", "720x306", "720x320"}
        << true << QRect(488, 204, 89, 22) << "视频尺寸：" << QPoint(488, 184);
    QTest::newRow("cmbR") << "cmbR"
        << QStringList{"48000", "44100", "32000", "24000", "22050", "16000", "12050", "8000"}
        << true << QRect(588, 203, 89, 22) << "声音频率：" << QPoint(588, 184);
    QTest::newRow("cmbBR") << "cmbBR"
        << QStringList{"10.2", "12.2", "32", "48", "56", "64", "80", "96", "112", "128", "192",
                       "224", "256", "320"}
        << true << QRect(488, 265, 89, 22) << "声音比特率：" << QPoint(488, 244);
    QTest::newRow("cmbChannel") << "cmbChannel" << QStringList{"单声道", "双声道"} << true
                                << QRect(588, 265, 89, 22) << "声道：" << QPoint(588, 244);
  }
  void panelBoxes() {
    QFETCH(QString, box);
    QFETCH(QStringList, entries);
    QFETCH(bool, editable);
    QFETCH(QRect, geometry);
    QFETCH(QString, label);
    QFETCH(QPoint, labelAt);
    Sandbox sb;
    auto w = sb.start();
    const QMap<QString, std::pair<QComboBox*, QLabel*>> boxes{
        {"cmbOF", {w->findChild<QComboBox*>("cmbOF"), w->findChild<QLabel*>("lblOF")}}, {"cmbVB", {w->findChild<QComboBox*>("cmbVB"), w->findChild<QLabel*>("lblVB")}},
        {"cmbF", {w->findChild<QComboBox*>("cmbF"), w->findChild<QLabel*>("lblF")}},    {"cmbS", {w->findChild<QComboBox*>("cmbS"), w->findChild<QLabel*>("lblS")}},
        {"cmbR", {w->findChild<QComboBox*>("cmbR"), w->findChild<QLabel*>("lblR")}},    {"cmbBR", {w->findChild<QComboBox*>("cmbBR"), w->findChild<QLabel*>("lblBR")}},
        {"cmbChannel", {w->findChild<QComboBox*>("cmbChannel"), w->findChild<QLabel*>("lblChannel")}}};
    const auto [combo, lbl] = boxes.value(box);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
    QCOMPARE(shown, entries);
    QCOMPARE(combo->isEditable(), editable);
    QCOMPARE(combo->geometry(), geometry);
    QCOMPARE(lbl->text(), label);
    QCOMPARE(lbl->pos(), labelAt);
    QCOMPARE(lbl->height(), 14);
    QCOMPARE(w->findChild<QLineEdit*>("txtPath")->geometry(), QRect(488, 325, 137, 21));
    QCOMPARE(w->findChild<QLabel*>("lblPath")->text(), QStringLiteral("输出路径："));
  }

  void presetTable_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("shown");  // vb, f, s, r, br, channel
    QTest::addColumn<int>("brPosition");
    QTest::addColumn<int>("rPosition");
    const QStringList hd{"1200", "29", "原始大小", "44100", "320", "双声道"};
    const QStringList mpg{"600", "24", "原始大小", "28000", "64", "双声道"};
    const QStringList phone{"128", "29", "320x240", "8000", "12.2", "单声道"};
    QTest::newRow("RMVB") << 0 << hd << 13 << 1;
    QTest::newRow("RM") << 1 << hd << 13 << 1;
    QTest::newRow("MPG") << 2 << mpg << 5 << -1;
    QTest::newRow("AVI") << 3 << mpg << 5 << -1;
    QTest::newRow("MP4 HD") << 4 << QStringList{"1200", "29", "原始大小", "48000", "320", "双声道"}
                            << 13 << 0;
    QTest::newRow("MOV") << 5 << QStringList{"256", "29", "原始大小", "48000", "64", "双声道"} << 5
                         << 0;
    QTest::newRow("MP4 phone") << 6 << phone << 1 << 7;
    QTest::newRow("3GP") << 7 << phone << 1 << 7;
    // The video boxes keep what they held (here typed values).
    QTest::newRow("MP3") << 8 << QStringList{"777", "25", "100x100", "48000", "320", "双声道"}
                         << 13 << 0;
  }
  void presetTable() {
    QFETCH(int, format);
    QFETCH(QStringList, shown);
    QFETCH(int, brPosition);
    QFETCH(int, rPosition);
    Sandbox sb;
    auto w = sb.start();
    w->findChild<QComboBox*>("cmbVB")->setEditText("777");
    w->findChild<QComboBox*>("cmbF")->setEditText("25");
    w->findChild<QComboBox*>("cmbS")->setEditText("100x100");
    setListPosition(w->findChild<QComboBox*>("cmbOF"), -1);  // no row: nothing changes
    QCOMPARE(w->findChild<QComboBox*>("cmbVB")->currentText(), QStringLiteral("777"));
    setListPosition(w->findChild<QComboBox*>("cmbOF"), format);
    const Panel p = panelOf(*w);
    QCOMPARE((QStringList{p.vb, p.f, p.s, p.r, p.br, p.channel}), shown);
    QCOMPARE(listPosition(w->findChild<QComboBox*>("cmbBR")), brPosition);
    QCOMPARE(listPosition(w->findChild<QComboBox*>("cmbR")), rPosition);
    QCOMPARE(listPosition(w->findChild<QComboBox*>("cmbF")), shown[1] == "29" ? 2 : -1);
  }

  void presetThenUserValueStands() {
    Sandbox sb;
    auto w = sb.start();
    setListPosition(w->findChild<QComboBox*>("cmbOF"), 7);
    setListPosition(w->findChild<QComboBox*>("cmbOF"), 8);  // MP3 after 3GP keeps the 3GP video values
    QCOMPARE(w->findChild<QComboBox*>("cmbVB")->currentText(), QStringLiteral("128"));
    QCOMPARE(w->findChild<QComboBox*>("cmbS")->currentText(), QStringLiteral("320x240"));
    w->findChild<QComboBox*>("cmbBR")->setEditText("100");
    setListPosition(w->findChild<QComboBox*>("cmbOF"), 8);  // the same format again: no change
    QCOMPARE(w->batchHost().panelValues().audioBitrate, QStringLiteral("100"));
    QCOMPARE(listPosition(w->findChild<QComboBox*>("cmbBR")), -1);
  }

  // A value typed into a parameter box stands as typed when the user moves on
  // (Tab, a click elsewhere, or Enter), even where it is the start of an
  // entry, and it is what the next command line carries.
  void typedValueStands_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("leave");     // tab, click or enter
    QTest::addColumn<QString>("fragment");  // in the command line; empty: none to check
    QTest::newRow("vb 60") << "cmbVB" << 2 << "60" << "tab" << "vbitrate=60:vpass";
    QTest::newRow("vb 100") << "cmbVB" << 2 << "100" << "click" << "vbitrate=100:vpass";
    QTest::newRow("vb 60 enter") << "cmbVB" << 2 << "60" << "enter" << "vbitrate=60:vpass";
    QTest::newRow("br 12") << "cmbBR" << 2 << "12" << "tab" << "abitrate=12 -ovc";
    QTest::newRow("br 25") << "cmbBR" << 8 << "25" << "click" << "-ab 25k -ac";
    QTest::newRow("br 25 enter") << "cmbBR" << 8 << "25" << "enter" << "-ab 25k -ac";
    QTest::newRow("f 2") << "cmbF" << 2 << "2" << "tab" << "-ofps 2 -of";
    QTest::newRow("r 4410") << "cmbR" << 8 << "4410" << "click" << "-ar 4410 -ab";
    QTest::newRow("s 320x24") << "cmbS" << 0 << "320x24" << "tab" << "-s 320x24 -vcodec";
    QTest::newRow("channel whole entry") << "cmbChannel" << 8 << "单声道" << "tab" << "-ac 1 ";
    QTest::newRow("channel start of entry") << "cmbChannel" << 8 << "双" << "click" << "";
  }
  void typedValueStands() {
    QFETCH(QString, box);
    QFETCH(int, format);
    QFETCH(QString, typed);
    QFETCH(QString, leave);
    QFETCH(QString, fragment);
    Sandbox sb;
    auto w = sb.start();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    setListPosition(w->findChild<QComboBox*>("cmbOF"), format);
    const QMap<QString, QComboBox*> boxes{{"cmbVB", w->findChild<QComboBox*>("cmbVB")}, {"cmbF", w->findChild<QComboBox*>("cmbF")},
                                          {"cmbS", w->findChild<QComboBox*>("cmbS")},   {"cmbR", w->findChild<QComboBox*>("cmbR")},
                                          {"cmbBR", w->findChild<QComboBox*>("cmbBR")}, {"cmbChannel", w->findChild<QComboBox*>("cmbChannel")}};
    QComboBox* combo = boxes.value(box);
    QLineEdit* edit = combo->lineEdit();
    QTest::mouseClick(edit, Qt::LeftButton);
    QTRY_VERIFY(edit->hasFocus());
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    // Latin keys one by one; Chinese text as an input method commits it.
    for (const QChar c : typed) {
      if (c.unicode() < 0x80) {
        QTest::keyClick(edit, c.toLatin1());
      } else {
        QInputMethodEvent commit;
        commit.setCommitString(c);
        QApplication::sendEvent(edit, &commit);
      }
    }
    QCOMPARE(edit->text(), typed);  // nothing completed while typing
    if (leave == "tab") {
      QTest::keyClick(edit, Qt::Key_Tab);
    } else if (leave == "click") {
      QTest::mouseClick(w->findChild<QLineEdit*>("txtPath"), Qt::LeftButton);
    } else {
      QTest::keyClick(edit, Qt::Key_Return);
      QTest::mouseClick(w->findChild<QLineEdit*>("txtPath"), Qt::LeftButton);
    }
    QTRY_VERIFY(!edit->hasFocus());
    QCOMPARE(combo->currentText(), typed);
    QCOMPARE(edit->text(), typed);

    const PanelValues v = w->batchHost().panelValues();
    const BuildContext ctx{sb.programFolder(), sb.path("work/tmp.mp4")};
    const QString line = CommandLines::stageOne(v, "/in/clip.avi", "/out/clip.mp3", ctx).displayText +
                         "\n" + CommandLines::stageTwo(v, "/out/clip.rmvb", ctx).displayText;
    if (!fragment.isEmpty()) QVERIFY2(line.contains(fragment), qPrintable(line));
  }

  // ---- start-up and the round trip of setup.ini -------------------------------

  void firstStart() {
    Sandbox sb;
    auto w = sb.start();
    const Panel p = panelOf(*w);
    QCOMPARE(p.format, 0);
    QCOMPARE((QStringList{p.vb, p.f, p.s, p.r, p.br, p.channel}),
             (QStringList{"1200", "29", "原始大小", "44100", "320", "双声道"}));
    QCOMPARE(w->findChild<QLineEdit*>("txtPath")->text(), defaultOutput(sb));
    QVERIFY(!QFileInfo::exists(defaultOutput(sb)));  // made by the first batch, not here
    QCOMPARE(w->windowTitle(), QStringLiteral("Vantrel"));
    QCOMPARE(w->findChild<QLabel*>("lblWeb")->text(), QStringLiteral("Vantrel"));
    QCOMPARE(options().soundSwitch, qint16(0));
    QVERIFY(!sb.exists("setup.ini") && !sb.exists("options.ini"));  // start-up writes nothing
  }

  void exitAndRestart_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("bitrate");  // "pick:N", "type:TEXT" or empty
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("stored");  // "{out}" stands for the default output folder
    QTest::addColumn<QStringList>("audio");   // cmbBR, cmbR, cmbChannel after the restart
    QTest::addColumn<QString>("restoredPath");
    QTest::newRow("defaults") << 0 << "" << "" << QByteArray("\"13\"\r\n\"1\"\r\n\"1\"\r\n\"{out}\"\r\n\"0\"\r\n")
                              << QStringList{"320", "44100", "双声道"} << "{out}";
    QTest::newRow("3GP preset wins over stored audio")
        << 7 << "pick:9" << "" << QByteArray("\"9\"\r\n\"7\"\r\n\"0\"\r\n\"{out}\"\r\n\"7\"\r\n")
        << QStringList{"12.2", "8000", "单声道"} << "{out}";
    QTest::newRow("RMVB keeps a picked bitrate")
        << 0 << "pick:9" << "" << QByteArray("\"9\"\r\n\"1\"\r\n\"1\"\r\n\"{out}\"\r\n\"0\"\r\n")
        << QStringList{"128", "44100", "双声道"} << "{out}";
    QTest::newRow("typed bitrate stored as no entry")
        << 0 << "type:100" << "" << QByteArray("\"-1\"\r\n\"1\"\r\n\"1\"\r\n\"{out}\"\r\n\"0\"\r\n")
        << QStringList{"", "44100", "双声道"} << "{out}";
    QTest::newRow("folder with comma and trailing separator")
        << 0 << "" << "/srv/视频,输出/" << QByteArray("\"13\"\r\n\"1\"\r\n\"1\"\r\n\"/srv/视频,输出/\"\r\n\"0\"\r\n")
        << QStringList{"320", "44100", "双声道"} << "/srv/视频,输出/";
    QTest::newRow("empty folder falls back")
        << 0 << "" << "{empty}" << QByteArray("\"13\"\r\n\"1\"\r\n\"1\"\r\n\"\"\r\n\"0\"\r\n")
        << QStringList{"320", "44100", "双声道"} << "{out}";
  }
  void exitAndRestart() {
    QFETCH(int, format);
    QFETCH(QString, bitrate);
    QFETCH(QString, path);
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, audio);
    QFETCH(QString, restoredPath);
    Sandbox sb;
    const QString out = defaultOutput(sb);
    {
      auto w = sb.start();
      setListPosition(w->findChild<QComboBox*>("cmbOF"), format);
      if (bitrate.startsWith("pick:")) setListPosition(w->findChild<QComboBox*>("cmbBR"), bitrate.mid(5).toInt());
      if (bitrate.startsWith("type:")) w->findChild<QComboBox*>("cmbBR")->setEditText(bitrate.mid(5));
      if (path == "{empty}") w->findChild<QLineEdit*>("txtPath")->clear();
      else if (!path.isEmpty()) w->findChild<QLineEdit*>("txtPath")->setText(path);
      w->imgExit_Click();
      QCOMPARE(sb.endRequests, 1);
    }
    QCOMPARE(sb.read("setup.ini"), QByteArray(stored).replace("{out}", out.toUtf8()));
    auto w = sb.start();
    QCOMPARE(w->findChild<QComboBox*>("cmbOF")->currentIndex(), format);
    QCOMPARE((QStringList{w->findChild<QComboBox*>("cmbBR")->currentText(), w->findChild<QComboBox*>("cmbR")->currentText(),
                          w->findChild<QComboBox*>("cmbChannel")->currentText()}),
             audio);
    QCOMPARE(w->findChild<QLineEdit*>("txtPath")->text(), QString(restoredPath).replace("{out}", out));
    if (audio[0] == "320") {
      // What the audio lines are built from after the round trip.
      PanelValues v = w->batchHost().panelValues();
      v.format = 8;
      const QString line = CommandLines::stageOne(v, "/in/a.avi", "/out/a.mp3", {}).displayText;
      QVERIFY2(line.contains(" -ab 320k "), qPrintable(line));
    }
  }

  void closingOtherwiseStoresNothing() {
    Sandbox sb;
    sb.write("setup.ini", setupLines({"9", "2", "0", "/kept", "0"}));
    auto w = sb.start();
    setListPosition(w->findChild<QComboBox*>("cmbOF"), 7);
    w->show();
    QVERIFY(w->close());
    QCOMPARE(sb.endRequests, 1);
    QCOMPARE(sb.read("setup.ini"), setupLines({"9", "2", "0", "/kept", "0"}));
    w->imgExit_Click();  // the window is gone already: nothing more happens
    QCOMPARE(sb.endRequests, 1);
    QCOMPARE(sb.read("setup.ini"), setupLines({"9", "2", "0", "/kept", "0"}));
  }

  void skinIsOptional() {
    Sandbox sb;
    const QString sheet = QStringLiteral("QWidget { color: #102030; }");
    sb.write("skin.qss", sheet.toUtf8());
    sb.start();
    QCOMPARE(qApp->styleSheet(), sheet);
    qApp->setStyleSheet(QString());
    QVERIFY(QFile::remove(sb.path("skin.qss")));
    auto w = sb.start();  // without a skin: the system look, and start-up goes on
    QCOMPARE(qApp->styleSheet(), QString());
    QCOMPARE(w->windowTitle(), QStringLiteral("Vantrel"));
  }

  void exitEndsTheEventLoop() {
    Sandbox sb;
    auto w = sb.start();
    w->endProgram = nullptr;  // the real way out
    w->show();
    QTimer::singleShot(0, w.get(), [&w] { w->imgExit_Click(); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!w->isVisible());
    QVERIFY(sb.exists("setup.ini"));
  }

  // ---- bad settings files -------------------------------------------------------

  void badFiles_data() {
    QTest::addColumn<QByteArray>("setup");    // "<folder>": setup.ini is a folder
    QTest::addColumn<QByteArray>("options");  // "<none>": no options.ini
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("audio");   // cmbBR, cmbR, cmbChannel texts
    QTest::addColumn<QString>("path");        // "{out}": default output folder
    QTest::addColumn<QList<int>>("values");   // the four option values

    const QStringList rmvb{"320", "44100", "双声道"};
    const QList<int> zeros{0, 0, 0, 0};
    QTest::newRow("empty files") << QByteArray() << QByteArray() << 0 << rmvb << "{out}" << zeros;
    QTest::newRow("short files") << setupLines({"9", "2"}) << QByteArray("1\r\n") << 0
                                 << QStringList{"128", "32000", "双声道"} << "{out}"
                                 << QList<int>{1, 0, 0, 0};
    QByteArray noise;
    QRandomGenerator gen(7);
    while (noise.size() < 4096) {
      const char c = char(gen.bounded(256));
      if (!QByteArray("\",\r\n+-. 0123456789").contains(c)) noise += c;
    }
    QTest::newRow("binary") << noise << noise << 0 << rmvb << "{out}" << zeros;
    QByteArray longSetup = setupLines({"9", "7", "0"});
    longSetup += "\"" + QByteArray(10 * 1024 * 1024, 'a') + "\"\r\n\"5\"\r\n";
    QTest::newRow("10 MB") << longSetup << "1\r\n" + QByteArray(10 * 1024 * 1024, '1') << 0
                           << QStringList{"128", "8000", "单声道"} << "{out}" << QList<int>{1, 0, 0, 0};
    QTest::newRow("unmatched quotes") << QByteArray("\"9\"\r\n\"1\"\r\n\"0\"\r\n\"/never/closed\r\n")
                                      << QByteArray("\"1\r\n0\r\n") << 0
                                      << QStringList{"128", "44100", "单声道"} << "{out}" << zeros;
    QTest::newRow("negative and huge numbers")
        << setupLines({"-5", "99999999999999999999", "-1", "/out", "1e3"})
        << QByteArray("-1\r\n99999\r\n-2147483649\r\n2147483647\r\n") << 0
        << QStringList{"320", "44100", ""} << "/out" << QList<int>{-1, 0, 0, 2147483647};
    QTest::newRow("positions out of range") << setupLines({"14", "8", "2", "", "9"})
                                            << QByteArray("5\r\n") << 0 << rmvb << "{out}"
                                            << QList<int>{5, 0, 0, 0};
    QTest::newRow("LF lines, blanks, no last line end")
        << QByteArray("  \"9\" \n \"2\"\n\"0\"\n  \"/p q\"\n\"5\"") << QByteArray("0\n1\n90\n0")
        << 5 << QStringList{"64", "48000", "双声道"} << "/p q" << QList<int>{0, 1, 90, 0};
    QTest::newRow("settings folder entry not a file")
        << QByteArray("<folder>") << QByteArray("<none>") << 0 << rmvb << "{out}" << zeros;
  }
  void badFiles() {
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, options);
    QFETCH(int, format);
    QFETCH(QStringList, audio);
    QFETCH(QString, path);
    QFETCH(QList<int>, values);
    Sandbox sb;
    if (setup == "<folder>") QVERIFY(QDir(sb.programFolder()).mkdir("setup.ini"));
    else sb.write("setup.ini", setup);
    if (options != "<none>") sb.write("options.ini", options);

    QElapsedTimer clock;
    clock.start();
    auto w = sb.start();
    QCOMPARE(w->findChild<QComboBox*>("cmbOF")->currentIndex(), format);
    QCOMPARE((QStringList{w->findChild<QComboBox*>("cmbBR")->currentText(), w->findChild<QComboBox*>("cmbR")->currentText(),
                          w->findChild<QComboBox*>("cmbChannel")->currentText()}),
             audio);
    QCOMPARE(w->findChild<QLineEdit*>("txtPath")->text(), path == "{out}" ? defaultOutput(sb) : path);
    const OptionValues& o = ::options();
    QCOMPARE((QList<int>{o.soundSwitch, o.cutterSwitch, o.cutStart, o.cutEnd}), values);

    // The exit always ends the program, whether setup.ini can be written or not;
    // a written one brings back the same panel.
    const Panel before = panelOf(*w);
    const QString folder = w->findChild<QLineEdit*>("txtPath")->text();
    w->imgExit_Click();
    QCOMPARE(sb.endRequests, 1);
    QVERIFY(clock.elapsed() < 5000);
    if (setup == "<folder>") {
      QVERIFY(QFileInfo(sb.path("setup.ini")).isDir());
      return;
    }
    auto again = sb.start();
    const Panel after = panelOf(*again);
    QCOMPARE(after.format, before.format);
    QCOMPARE((QStringList{after.br, after.r, after.channel}), (QStringList{before.br, before.r, before.channel}));
    QCOMPARE(again->findChild<QLineEdit*>("txtPath")->text(), folder);
  }

  void unwritableProgramFolderUsesUserFolders() {
    Sandbox sb;
    // A program folder below a plain file can hold nothing, even for root.
    sb.write("plain", "x");
    AppDirs::setProgramFolder(sb.path("plain/installed"));
    auto w = sb.start();
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    QCOMPARE(w->findChild<QLineEdit*>("txtPath")->text(), QDir(videos).filePath("Vantrel"));
    w->imgExit_Click();
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QVERIFY2(QFileInfo(QDir(config).filePath("setup.ini")).isFile(), qPrintable(config));
    QVERIFY(config.startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))));
  }

  // ---- shut-down ---------------------------------------------------------------

  void unloadRemovesWorkFiles() {
    Sandbox sb;
    auto w = sb.start();
    for (const char* name : {"tmpfile.wav", "tmpfile1.mp3", "tmp.mp4"}) {
      QFile f(workFile(name));
      QVERIFY(f.open(QIODevice::WriteOnly));
    }
    w->imgExit_Click();
    for (const char* name : {"tmpfile.wav", "tmpfile1.mp3", "tmp.mp4"})
      QVERIFY2(!QFileInfo::exists(workFile(name)), name);
    QCOMPARE(sb.endRequests, 1);
  }

  void undeletableWorkFileIsGivenUp() {
    Sandbox sb;
    auto w = sb.start();
    // A non-empty folder of that name cannot be deleted as a file.
    QVERIFY(QDir().mkpath(workFile("tmpfile.wav") + "/inner"));
    QFile mp3(workFile("tmpfile1.mp3"));
    QVERIFY(mp3.open(QIODevice::WriteOnly));
    mp3.close();
    QElapsedTimer clock;
    clock.start();
    w->Form_Unload();
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(clock.elapsed() >= 500);  // it did try for a while
    QVERIFY(!QFileInfo::exists(workFile("tmpfile1.mp3")));  // the next file still goes
    QCOMPARE(sb.endRequests, 1);
  }

  void leavingDuringBatch() {
#ifndef Q_OS_LINUX
    QSKIP("watches processes through /proc");
#else
    Sandbox sb;
    const QString pids = sb.path("pids");
    writeTool(sb, "coder",
              "#!/bin/sh\nfor a in \"$@\"; do out=\"$a\"; done\n: > \"$(dirname \"$out\")/.vantrel-$$.part\"\nsleep 30 &\n"
              "echo \"$$ $!\" > '" + pids.toUtf8() + "'\nwait\n");
    sb.write("song.wav", "RIFF");
    auto w = sb.start();
    setListPosition(w->findChild<QComboBox*>("cmbOF"), 8);
    w->AppendFile(sb.path("song.wav"));
    w->imgStart_Click();
    QTRY_VERIFY_WITH_TIMEOUT(sb.read("pids").split(' ').size() == 2, 10000);
    const QList<QByteArray> ids = sb.read("pids").trimmed().split(' ');
    // Its partial file, as the encoders name it until the output is whole.
    const QStringList outputs = QDir(defaultOutput(sb)).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(outputs.size(), 1);
    QVERIFY(w->batchDriver().isRunning());

    RecordingPrompter boxes;
    boxes.answer = true;  // "正在转换，要停止并退出吗？"
    w->imgExit_Click();
    QCOMPARE(boxes.said("question"), QStringList{QStringLiteral("Vantrel:正在转换，要停止并退出吗？")});
    const bool gone = QTest::qWaitFor(
        [&] {
          return std::all_of(ids.begin(), ids.end(),
                             [](const QByteArray& id) { return Procs::gone(id.toLongLong()); });
        },
        3000);
    if (!gone)
      for (const QByteArray& id : ids) ::kill(pid_t(id.toLongLong()), SIGKILL);
    QVERIFY2(gone, "the tool or its child still runs");
    QVERIFY(QDir(defaultOutput(sb)).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QCOMPARE(sb.endRequests, 1);
    QVERIFY(sb.read("setup.ini").endsWith("\"8\"\r\n"));
    QVERIFY(sb.shell.sounds.isEmpty() && sb.shell.folders.isEmpty());  // no batch-end actions
#endif
  }

  // ---- the options dialog --------------------------------------------------------

  void optionsDialogLayout() {
    Sandbox sb;
    frmOptions d;
    QCOMPARE(d.windowTitle(), QStringLiteral("选项设置"));
    QCOMPARE(d.size(), QSize(305, 120));
    QCOMPARE(d.Label1->text(), QStringLiteral("转换完毕声音提示"));
    QCOMPARE(d.Label1->geometry(), QRect(102, 16, 108, 14));
    QCOMPARE(d.cmbSR->geometry(), QRect(74, 38, 163, 20));
    QVERIFY(!d.cmbSR->isEditable());
    QCOMPARE(d.cmbSR->count(), 2);
    QCOMPARE(d.cmbSR->itemText(0), QStringLiteral("ON"));
    QCOMPARE(d.cmbSR->itemText(1), QStringLiteral("OFF"));
    QCOMPARE(d.Command1->text(), QStringLiteral("确定"));
    QCOMPARE(d.Command1->geometry(), QRect(54, 76, 87, 25));
    QCOMPARE(d.Command2->text(), QStringLiteral("返回"));
    QCOMPARE(d.Command2->geometry(), QRect(164, 76, 87, 25));
  }

  void optionsDialog_data() {
    QTest::addColumn<QByteArray>("file");  // "<none>": no options.ini at start-up
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("choose");  // -2: leave the box as it is
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("after");  // options.ini afterwards ("<none>": none)
    QTest::addColumn<int>("sound");         // switch in memory afterwards
    QTest::newRow("OFF and OK") << QByteArray("0\r\n0\r\n0\r\n0\r\n") << 0 << 1 << true
                                << QByteArray("1\r\n0\r\n0\r\n0\r\n") << 1;
    QTest::newRow("OFF and back") << QByteArray("0\r\n1\r\n90\r\n0\r\n") << 0 << 1 << false
                                  << QByteArray("0\r\n1\r\n90\r\n0\r\n") << 0;
    QTest::newRow("cutter with a time kept") << QByteArray("0\r\n1\r\n90\r\n0\r\n") << 0 << -2 << true
                                             << QByteArray("0\r\n1\r\n90\r\n0\r\n") << 0;
    QTest::newRow("cutter off clears times") << QByteArray("0\r\n0\r\n90\r\n120\r\n") << 0 << -2
                                             << true << QByteArray("0\r\n0\r\n0\r\n0\r\n") << 0;
    QTest::newRow("cutter on without times") << QByteArray("0\r\n1\r\n0\r\n0\r\n") << 0 << -2 << true
                                             << QByteArray("0\r\n0\r\n0\r\n0\r\n") << 0;
    QTest::newRow("unknown switch shows nothing") << QByteArray("5\r\n0\r\n0\r\n0\r\n") << -1 << -2
                                                  << true << QByteArray("-1\r\n0\r\n0\r\n0\r\n") << -1;
    QTest::newRow("no file, OK creates it") << QByteArray("<none>") << 0 << -2 << true
                                            << QByteArray("0\r\n0\r\n0\r\n0\r\n") << 0;
    QTest::newRow("no file, back creates none") << QByteArray("<none>") << 0 << 1 << false
                                                << QByteArray("<none>") << 0;
  }
  void optionsDialog() {
    QFETCH(QByteArray, file);
    QFETCH(int, shown);
    QFETCH(int, choose);
    QFETCH(bool, ok);
    QFETCH(QByteArray, after);
    QFETCH(int, sound);
    Sandbox sb;
    if (file != "<none>") sb.write("options.ini", file);
    auto w = sb.start();
    int seen = -100;
    QString caption;
    onOptionsDialog([&](frmOptions* d) {
      seen = d->cmbSR->currentIndex();
      caption = d->windowTitle();
      if (choose != -2) d->cmbSR->setCurrentIndex(choose);
      (ok ? d->Command1 : d->Command2)->click();
    });
    w->showOptionsDialog();
    QCOMPARE(caption, QStringLiteral("选项设置"));
    QCOMPARE(seen, shown);
    QCOMPARE(sb.exists("options.ini") ? sb.read("options.ini") : QByteArray("<none>"), after);
    QCOMPARE(int(options().soundSwitch), sound);
  }

  void okHoldsInMemoryWhenFileCannotBeWritten() {
    Sandbox sb;
    QVERIFY(QDir(sb.programFolder()).mkdir("options.ini"));
    auto w = sb.start();
    onOptionsDialog([](frmOptions* d) {
      d->cmbSR->setCurrentIndex(1);
      d->Command1->click();
    });
    w->showOptionsDialog();
    QCOMPARE(options().soundSwitch, qint16(1));
  }

  void switchHonouredAtNextBatchEnd() {
    Sandbox sb;
    writeTool(sb, "coder", "#!/bin/sh\nexit 0\n");
    sb.write("song.wav", "RIFF");
    auto w = sb.start();
    setListPosition(w->findChild<QComboBox*>("cmbOF"), 8);
    auto runBatch = [&] {
      w->AppendFile(sb.path("song.wav"));
      w->imgStart_Click();
      QTRY_VERIFY_WITH_TIMEOUT(!w->batchDriver().isRunning(), 10000);
    };
    runBatch();
    QCOMPARE(sb.shell.sounds.size(), 1);
    onOptionsDialog([](frmOptions* d) {
      d->cmbSR->setCurrentIndex(1);
      d->Command1->click();
    });
    w->showOptionsDialog();
    runBatch();
    QCOMPARE(sb.shell.folders.size(), 2);  // the second batch did end
    QCOMPARE(sb.shell.sounds.size(), 1);   // silently
  }

  // ---- one running copy -------------------------------------------------------------

  void secondCopyEndsAtOnce() {
    const QString exe = QStringLiteral(VANTREL_BUILD_DIR "/vantrel");
    if (!QFileInfo(exe).isExecutable()) QSKIP("the vantrel program is not built");
    Sandbox sb;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const QFileInfo setupBefore(QStringLiteral(VANTREL_BUILD_DIR "/setup.ini"));
    auto launch = [&](QProcess& p) {
      p.setProcessEnvironment(env);
      p.setProcessChannelMode(QProcess::MergedChannels);
      p.start(exe, {});
      return p.waitForStarted(5000);
    };
    QProcess first;
    QVERIFY(launch(first));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(SingleCopyLock::defaultPath()), 10000);

    QProcess second;
    QVERIFY(launch(second));
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAll(), QByteArray());
    QCOMPARE(first.state(), QProcess::Running);

    // A copy that crashed leaves its lock behind; the next one starts all the same.
    first.kill();
    QVERIFY(first.waitForFinished(5000));
    QVERIFY(QFile::exists(SingleCopyLock::defaultPath()));
    QProcess third;
    QVERIFY(launch(third));
    QVERIFY(!third.waitForFinished(1500));
    third.kill();
    QVERIFY(third.waitForFinished(5000));
    const QFileInfo setupAfter(QStringLiteral(VANTREL_BUILD_DIR "/setup.ini"));
    QCOMPARE(setupAfter.exists(), setupBefore.exists());
    if (setupBefore.exists()) QCOMPARE(setupAfter.lastModified(), setupBefore.lastModified());
  }

  // "Open with" while this window runs: the real program, started as a
  // second copy, hands its files over and ends; they join the list as a drop
  // does, idle or behind the running file, which the batch then converts.
  void secondCopyHandsItsFilesOver() {
    const QString exe = QStringLiteral(VANTREL_BUILD_DIR "/vantrel");
    if (!QFileInfo(exe).isExecutable()) QSKIP("the vantrel program is not built");
    Sandbox sb;
    const QString calls = sb.path("calls"), go = sb.path("go");
    writeTool(sb, "coder",
              "#!/bin/sh\nfor a in \"$@\"; do case \"$a\" in '" + sb.programFolder().toUtf8() +
                  "'/*.wav) echo \"$a\" >> '" +
                  calls.toUtf8() + "';; esac; done\ncase \"$*\" in *first.wav*) while [ ! -e '" +
                  go.toUtf8() + "' ]; do sleep 0.05; done;; esac\nexit 0\n");
    auto w = sb.start();
    setListPosition(w->findChild<QComboBox*>("cmbOF"), 8);
    SingleCopyLock held;  // this process is the running copy
    QVERIFY(held.acquire());
    CopyHandoff handoff;
    QVERIFY(handoff.listen(SingleCopyLock::handoffPath()));
    connect(&handoff, &CopyHandoff::filesHandedIn, w.get(), &frmMain::takeHandedFiles);
    auto secondCopy = [&](const QStringList& args) {
      QProcess p;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert("QT_QPA_PLATFORM", "offscreen");
      p.setProcessEnvironment(env);
      p.setWorkingDirectory(sb.programFolder());
      p.setProcessChannelMode(QProcess::MergedChannels);
      p.start(exe, args);
      // The window's loop must run to take the files.
      QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 10000);
      QCOMPARE(p.exitStatus(), QProcess::NormalExit);
      QCOMPARE(p.exitCode(), 0);
      QCOMPARE(p.readAll(), QByteArray());
    };
    auto queued = [&] {
      QStringList q;
      for (int i = 0; i < w->lstFile.count(); ++i) q << w->lstFile.at(i);
      return q;
    };
    for (const char* name : {"a.wav", "b c.wav", "first.wav", "d.wav"}) sb.write(name, "RIFF");

    // Idle: a relative name is taken from the second copy's folder.
    secondCopy({"a.wav", sb.path("b c.wav")});
    QCOMPARE(queued(), (QStringList{sb.path("a.wav"), sb.path("b c.wav")}));
    QVERIFY(w->findChild<QWidget*>("picText")->isHidden());
    QVERIFY(!w->batchDriver().isRunning());  // a drop never starts a batch
    w->menuRemoveAll_Click();

    // During a batch: behind the running file, converted by the same batch.
    w->AppendFile(sb.path("first.wav"));
    w->imgStart_Click();
    QTRY_VERIFY_WITH_TIMEOUT(sb.read("calls").contains("first.wav"), 10000);
    secondCopy({sb.path("d.wav")});
    QCOMPARE(queued().last(), sb.path("d.wav"));
    sb.write("go", "");
    QTRY_VERIFY_WITH_TIMEOUT(!w->batchDriver().isRunning(), 10000);
    const QList<QByteArray> converted = sb.read("calls").trimmed().split('\n');
    QCOMPARE(converted.size(), 2);
    QVERIFY(converted[0].endsWith("first.wav") && converted[1].endsWith("d.wav"));

    // No files: the second copy still ends at once, and the list stands.
    const QStringList before = queued();
    secondCopy({});
    QCOMPARE(queued(), before);
  }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
