// The command lines handed to the encoders: their display form must read as
// the classic lines, and the argument lists must carry paths and values whole.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "engine/commandline.h"
#include "settings/core/formats.h"
#include "filelist/pathhelpers.h"

namespace {
const QString kApp = QStringLiteral("/opt/vantrel");
const BuildContext kCtx{kApp + "/data", QStringLiteral("/home/u/.cache/Vantrel/work/tmp.mp4")};
const QString kWork = kCtx.workFile;
const QString Q = QStringLiteral("\"");

PanelValues panel(int format, QString vb = "600", QString f = "25", QString s = "原始大小",
                  QString r = "44100", QString br = "128", int ch = 1) {
  return PanelValues{format, vb, f, s, r, br, ch};
}
}  // namespace

class TestCommandLine : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void stageOneLines_data();
  void stageOneLines();
  void stageOneArgumentsKeepPathsWhole();
  void emptyParametersStayEmptyValues();
  void stageTwoLines_data();
  void stageTwoLines();
  void noLineOutsideTheFormats();
  void outputNames();
  void outputNamesNeverReplaceAFile();
  void longNamesAreCutToFit();
  void formatTable();
  void pathHelpers_data();
  void joinedPaths_data();
  void joinedPaths();
  void pathHelpers();
};

void TestCommandLine::stageOneLines_data() {
  QTest::addColumn<PanelValues>("v");
  QTest::addColumn<QString>("expected");
  const QString src = "/v/my clip.avi";
  const QString twoStage = kApp + "/data/conv " + Q + src + Q +
                           " -oac mp3lame -lameopts preset=320 -ovc lavc -lavcopts vcodec=mpeg4:vbitrate=1200 -of avi -o " +
                           kWork;
  for (int pos : {0, 1, 5, 6, 7})
    QTest::addRow("two-stage %d ignores the panel", pos) << panel(pos, "40", "15", "320x240", "8000", "10.2", 0) << twoStage;
  QTest::addRow("mpg") << panel(2, "600", "25", "原始大小", "44100", "64")
                       << kApp + "/data/conv " + Q + src + Q +
                              " -oac lavc -lavcopts acodec=mp2:abitrate=64 -ovc lavc -lavcopts "
                              "vcodec=mpeg2video:vbitrate=600:vpass=1 -ofps 25 -of lavf -lavfopts format=yuv4mpeg -o " +
                              Q + "/out/x.mpg" + Q;
  QTest::addRow("avi same options") << panel(3, "600", "25", "原始大小", "44100", "64")
                                    << kApp + "/data/conv " + Q + src + Q +
                                           " -oac lavc -lavcopts acodec=mp2:abitrate=64 -ovc lavc -lavcopts "
                                           "vcodec=mpeg2video:vbitrate=600:vpass=1 -ofps 25 -of lavf -lavfopts format=yuv4mpeg -o " +
                                           Q + "/out/x.avi" + Q;
  QTest::addRow("mp4 hq") << panel(4, "1200", "29", "原始大小", "48000", "320")
                          << kApp + "/data/conv " + Q + src + Q +
                                 " -oac mp3lame -lameopts preset=320 -ovc lavc -lavcopts vcodec=mpeg4:vbitrate=1200 -of avi -o " +
                                 Q + "/out/x.mp4" + Q;
  QTest::addRow("mp3 stereo") << panel(8, "1", "2", "3", "44100", "128", 1)
                              << kApp + "/data/coder -i " + Q + src + Q + " -y -vn -ar 44100 -ab 128k -ac 2 " + Q +
                                     "/out/x.mp3" + Q;
  QTest::addRow("mp3 mono") << panel(8, "1", "2", "3", "8000", "32", 0)
                            << kApp + "/data/coder -i " + Q + src + Q + " -y -vn -ar 8000 -ab 32k -ac 1 " + Q +
                                   "/out/x.mp3" + Q;
  QTest::addRow("mp3 no channel chosen") << panel(8, "1", "2", "3", "48000", "320", -1)
                                         << kApp + "/data/coder -i " + Q + src + Q +
                                                " -y -vn -ar 48000 -ab 320k -ac 0 " + Q + "/out/x.mp3" + Q;
  QTest::addRow("mpg empty boxes") << panel(2, "", "", "", "", "")
                                   << kApp + "/data/conv " + Q + src + Q +
                                          " -oac lavc -lavcopts acodec=mp2:abitrate= -ovc lavc -lavcopts "
                                          "vcodec=mpeg2video:vbitrate=:vpass=1 -ofps  -of lavf -lavfopts format=yuv4mpeg -o " +
                                          Q + "/out/x.mpg" + Q;
  QTest::addRow("mp3 empty boxes") << panel(8, "", "", "", "", "", 1)
                                   << kApp + "/data/coder -i " + Q + src + Q + " -y -vn -ar  -ab k -ac 2 " + Q +
                                          "/out/x.mp3" + Q;
}

void TestCommandLine::stageOneLines() {
  QFETCH(PanelValues, v);
  QFETCH(QString, expected);
  const QString out = "/out/x" + CommandLines::outputExtension(v.format);
  const ToolCommand c = CommandLines::stageOne(v, "/v/my clip.avi", out, kCtx);
  QCOMPARE(c.displayText, expected);
  // The arguments are the words of the same line, the paths whole.
  QString joined = c.program + " " + c.args.join(" ");
  if (!expected.contains("  ")) QCOMPARE(joined, QString(expected).remove(Q));
}

void TestCommandLine::stageOneArgumentsKeepPathsWhole() {
  const QString src = "/v/-odd \"quoted\" 名字.avi";
  const QString out = "/out dir/-x.mp3";
  const ToolCommand c = CommandLines::stageOne(panel(8), src, out, kCtx);
  QCOMPARE(c.program, kApp + "/data/coder");
  QCOMPARE(c.args, (QStringList{"-i", src, "-y", "-vn", "-ar", "44100", "-ab", "128k", "-ac", "2", out}));
  const ToolCommand m = CommandLines::stageOne(panel(2), src, "/o/a b.mpg", kCtx);
  QCOMPARE(m.args.first(), src);
  QCOMPARE(m.args.last(), QStringLiteral("/o/a b.mpg"));
  QVERIFY(m.args.contains("acodec=mp2:abitrate=128"));
}

void TestCommandLine::emptyParametersStayEmptyValues() {
  // An empty box is an empty value of its option, never the next option.
  const ToolCommand c = CommandLines::stageOne(panel(8, "", "", "", "", "", 1), "/a.wav", "/o.mp3", kCtx);
  const qsizetype ar = c.args.indexOf("-ar");
  QVERIFY(ar >= 0);
  QCOMPARE(c.args[ar + 1], QString());
  QCOMPARE(c.args[ar + 2], QStringLiteral("-ab"));
  QCOMPARE(c.args[ar + 3], QStringLiteral("k"));
  // A typed value with a space stays one value.
  const ToolCommand t = CommandLines::stageOne(panel(8, "", "", "", "44 100", "12 8", 1), "/a.wav", "/o.mp3", kCtx);
  QVERIFY(t.args.contains("44 100"));
  QVERIFY(t.args.contains("12 8k"));
}

void TestCommandLine::stageTwoLines_data() {
  QTest::addColumn<PanelValues>("v");
  QTest::addColumn<QString>("expected");
  const QString head = kApp + "/data/coder -i " + kWork + " -y ";
  const QString head2 = kApp + "/data/coder2 -i " + kWork + " -y ";
  const QString out = Q + "/out/clip-1479";
  QTest::addRow("rmvb original") << panel(0, "600", "29", "原始大小", "44100", "128", 0)
                                 << head + "-vcodec rv10 -b 1200k -f rm  -ab 128k -ac 2 " + out + ".rmvb" + Q;
  QTest::addRow("rm original") << panel(1) << head + "-vcodec rv10 -b 1200k -f rm  -ab 128k -ac 2 " + out + ".rm" + Q;
  QTest::addRow("mov original") << panel(5, "1", "2", "原始大小", "8000", "12.2", 0)
                                << head + "-ac 2 -ar 48000 -ab 128k " + out + ".mov" + Q;
  QTest::addRow("phone mp4 original") << panel(6) << head2 + "-s 320x240 -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k " + out + ".mp4" + Q;
  QTest::addRow("3gp original") << panel(7) << head2 + "-s 320x240 -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k " + out + ".3gp" + Q;
  QTest::addRow("rmvb sized") << panel(0, "600", "29", "320x240", "44100", "128", 1)
                              << head + "-s 320x240 -vcodec rv10 -b 600k -f rm -ar 44100 -ab 128k -ac 2 " + out + ".rmvb" + Q;
  QTest::addRow("rmvb sized mono") << panel(0, "600", "29", "320x240", "44100", "128", 0)
                                   << head + "-s 320x240 -vcodec rv10 -b 600k -f rm -ar 44100 -ab 128k -ac 1 " + out + ".rmvb" + Q;
  QTest::addRow("rm sized") << panel(1, "256", "29", "176x144", "22050", "64", 1)
                            << head + "-s 176x144 -vcodec rv10 -b 256k -f rm -ar 22050 -ab 64k -ac 2 " + out + ".rm" + Q;
  QTest::addRow("mov sized") << panel(5, "1", "2", "640x272", "8000", "12.2", 0)
                             << head + "-s 640x272 -ac 2 -ar 48000 -ab 128k " + out + ".mov" + Q;
  QTest::addRow("phone mp4 sized") << panel(6, "1", "2", "176x144")
                                   << head2 + "-s 176x144 -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k " + out + ".mp4" + Q;
  QTest::addRow("3gp sized") << panel(7, "1", "2", "128x96")
                             << head2 + "-s 128x96 -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k " + out + ".3gp" + Q;
  QTest::addRow("size compare is exact") << panel(0, "600", "29", "原始大小 ", "44100", "128", 1)
                                         << head + "-s 原始大小  -vcodec rv10 -b 600k -f rm -ar 44100 -ab 128k -ac 2 " + out + ".rmvb" + Q;
  QTest::addRow("rmvb sized empty boxes") << panel(0, "", "", "", "", "", -1)
                                          << head + "-s  -vcodec rv10 -b k -f rm -ar  -ab k -ac 0 " + out + ".rmvb" + Q;
}

void TestCommandLine::stageTwoLines() {
  QFETCH(PanelValues, v);
  QFETCH(QString, expected);
  const QString out = "/out/clip-1479" + CommandLines::outputExtension(v.format);
  const ToolCommand c = CommandLines::stageTwo(v, out, kCtx);
  QCOMPARE(c.displayText, expected);
  QCOMPARE(c.args.last(), out);
  QVERIFY(!c.args.contains(QString()) || v.size.isEmpty() || v.sampleRate.isEmpty());
}

void TestCommandLine::noLineOutsideTheFormats() {
  for (int pos : {-1, 9, 100}) {
    QVERIFY(CommandLines::stageOne(panel(pos), "/a", "/b", kCtx).isEmpty());
    QVERIFY(CommandLines::stageTwo(panel(pos), "/b", kCtx).isEmpty());
    QVERIFY(CommandLines::outputExtension(pos).isEmpty());
  }
  for (int pos : {2, 3, 4, 8}) QVERIFY(CommandLines::stageTwo(panel(pos), "/b", kCtx).isEmpty());
}

void TestCommandLine::outputNames() {
  using CommandLines::outputFileName;
  QCOMPARE(outputFileName("/out/", "/v/clip.wmv", QTime(9, 5, 30), ".mpg"), QStringLiteral("/out/clip-9530.mpg"));
  QCOMPARE(outputFileName("/out", "/v/clip.wmv", QTime(9, 5, 30), ".mpg"), QStringLiteral("/out/clip-9530.mpg"));
  QCOMPARE(outputFileName("/out//", "/v/D.E.F.avi", QTime(0, 0, 0), ".mp3"), QStringLiteral("/out/D-000.mp3"));
  QCOMPARE(outputFileName("/out/", "/v/clip.avi", QTime(14, 7, 9), ".rmvb"), QStringLiteral("/out/clip-1479.rmvb"));
  QCOMPARE(outputFileName("/", "/v/a.b", QTime(23, 59, 59), ".rm"), QStringLiteral("/a-235959.rm"));
}

void TestCommandLine::outputNamesNeverReplaceAFile() {
  QTemporaryDir dir;
  const QString folder = dir.path();
  const QTime t(9, 5, 30);
  const QString first = CommandLines::uniqueOutputFileName(folder, "/v/clip.wmv", t, ".mpg");
  QCOMPARE(first, folder + "/clip-9530.mpg");
  QFile(first).open(QIODevice::WriteOnly);
  const QString second = CommandLines::uniqueOutputFileName(folder, "/v/clip.x.wmv", t, ".mpg");
  QCOMPARE(second, folder + "/clip-9530(2).mpg");
  QFile(second).open(QIODevice::WriteOnly);
  QCOMPARE(CommandLines::uniqueOutputFileName(folder, "/v/clip.wmv", t, ".mpg"), folder + "/clip-9530(3).mpg");
  // 1:15:3 and 11:5:3 spell the same name.
  QFile(folder + "/a-1153.mp3").open(QIODevice::WriteOnly);
  QCOMPARE(CommandLines::uniqueOutputFileName(folder, "/v/a.mp4", QTime(11, 5, 3), ".mp3"), folder + "/a-1153(2).mp3");
  // A different extension is a different name.
  QCOMPARE(CommandLines::uniqueOutputFileName(folder, "/v/clip.wmv", t, ".avi"), folder + "/clip-9530.avi");
}

void TestCommandLine::longNamesAreCutToFit() {
  // The time, the copy number and the extension are kept (whole characters
  // only: protocol/test_names).
  QTemporaryDir dir;
  const QString src = "/v/" + QString(250, 'b') + ".avi";
  const QString first = CommandLines::uniqueOutputFileName(dir.path(), src, QTime(23, 59, 59), ".rmvb");
  QCOMPARE(first, dir.path() + "/" + QString(243, 'b') + "-235959.rmvb");
  QFile(first).open(QIODevice::WriteOnly);
  QCOMPARE(CommandLines::uniqueOutputFileName(dir.path(), src, QTime(23, 59, 59), ".rmvb"),
           dir.path() + "/" + QString(240, 'b') + "-235959(2).rmvb");
  QCOMPARE(CommandLines::outputFileName("/o", src, QTime(1, 2, 3), ".mp3"), "/o/" + QString(247, 'b') + "-123.mp3");
  // A name claimed by a run still going counts as taken.
  const QString short1 = CommandLines::uniqueOutputFileName(dir.path(), "/v/a.avi", QTime(1, 2, 3), ".mp3",
                                                            [&](const QString& n) { return n.endsWith("a-123.mp3"); });
  QCOMPARE(short1, dir.path() + "/a-123(2).mp3");
}

void TestCommandLine::formatTable() {
  // Names and indices both find a format; everything else finds none.
  const QStringList names = {"rmvb", "rm", "mpg", "avi", "mp4", "mov", "phone-mp4", "3gp", "mp3"};
  for (int p = 0; p < Formats::Count; ++p) {
    QCOMPARE(Formats::positionByName(names[p]), std::optional<int>(p));
    QCOMPARE(Formats::positionByName(QString::number(p)), std::optional<int>(p));
    QCOMPARE(Formats::positionByName(names[p].toUpper()), std::optional<int>(p));
    const Formats::Format* f = Formats::format(p);
    QCOMPARE(int(f->position), p);
    // Stage two never runs on the first runner, and conv always reads percentages.
    for (int s = 0; s < f->stageCount; ++s)
      QCOMPARE(f->stages[s].reader == Formats::Reader::Percent, QByteArray(f->stages[s].tool) == "conv");
  }
  for (const QString bad : {"", "9", "-1", "08", " 1x", "mpeg", "phone"})
    QVERIFY2(!Formats::positionByName(bad), qPrintable(bad));
  QCOMPARE(Formats::formatEntries().size(), 9);
}

void TestCommandLine::pathHelpers_data() {
  QTest::addColumn<QString>("in");
  QTest::addColumn<QString>("parse");
  QTest::addColumn<QString>("file");
  QTest::addColumn<QString>("base");
  QTest::newRow("plain") << "/Video/clip.avi" << "/Video/" << "clip.avi" << "clip";
  QTest::newRow("dots") << "/Video/my.trip.day1.rmvb" << "/Video/" << "my.trip.day1.rmvb" << "my";
  QTest::newRow("no folder") << "clip.avi" << "" << "clip.avi" << "clip";
  QTest::newRow("trailing sep") << "/Video/" << "/Video/" << "" << "";
  QTest::newRow("hidden") << "/Video/.hidden" << "/Video/" << ".hidden" << "";
  QTest::newRow("empty") << "" << "" << "" << "";
  QTest::newRow("double leading") << "//server/share/a.b.c" << "//server/share/" << "a.b.c" << "a";
  // Backslash and colon are ordinary file-name characters here.
  QTest::newRow("drive colon") << "C:clip.avi" << "" << "C:clip.avi" << "C:clip";
  QTest::newRow("backslash") << "/v/a\\b.avi" << "/v/" << "a\\b.avi" << "a\\b";
  QTest::newRow("chinese") << "/视频/片段.一.mp4" << "/视频/" << "片段.一.mp4" << "片段";
}

void TestCommandLine::pathHelpers() {
  QFETCH(QString, in);
  QFETCH(QString, parse);
  QFETCH(QString, file);
  QFETCH(QString, base);
  QCOMPARE(ParsePath(in), parse);
  QCOMPARE(FileNameFromPath(in), file);
  QCOMPARE(BaseNameFromPath(in), base);
}

// Every path the program puts together (output, work, settings and tool
// files) has exactly one separator between folder and name.
void TestCommandLine::joinedPaths_data() {
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("joined");
  QTest::newRow("plain") << "/out" << "a.mp4" << "/out/a.mp4";
  QTest::newRow("folder ends with one") << "/out/" << "a.mp4" << "/out/a.mp4";
  QTest::newRow("folder ends with several") << "/out///" << "a.mp4" << "/out/a.mp4";
  QTest::newRow("name starts with one") << "/out" << "/a.mp4" << "/out/a.mp4";
  QTest::newRow("both") << "/out/" << "//a.mp4" << "/out/a.mp4";
  QTest::newRow("root") << "/" << "a.mp4" << "/a.mp4";
  QTest::newRow("root twice") << "//" << "a.mp4" << "/a.mp4";
  QTest::newRow("no name: one trailing") << "/out//" << "" << "/out/";
  QTest::newRow("root, no name") << "/" << "" << "/";
  QTest::newRow("no folder") << "" << "a.mp4" << "a.mp4";
  QTest::newRow("relative") << "out" << "sub/a.mp4" << "out/sub/a.mp4";
  QTest::newRow("chinese") << "/视频/" << "片段.mp4" << "/视频/片段.mp4";
}

void TestCommandLine::joinedPaths() {
  QFETCH(QString, folder);
  QFETCH(QString, name);
  QFETCH(QString, joined);
  QCOMPARE(JoinPath(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(name)),
           QDir::toNativeSeparators(joined));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
