// Reading the encoders' console text into the progress bar and label.
#include <QtTest>

#include "engine/progress.h"

using Progress::State;
using Progress::View;

Q_DECLARE_METATYPE(std::optional<View>)

class TestProgress : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void numbers();
  void stageOne_data();
  void stageOne();
  void stageOneCarriesNothingBetweenChunks();
  void stageTwoDuration_data();
  void stageTwoDuration();
  void stageTwo_data();
  void stageTwo();
  void busyCycle();
  void hostileChunksNeverBreak();
};

void TestProgress::numbers() {
  QCOMPARE(Progress::leadingNumber(" 5%"), 5.0);
  QCOMPARE(Progress::leadingNumber("45%"), 45.0);
  QCOMPARE(Progress::leadingNumber("avi"), 0.0);
  QCOMPARE(Progress::leadingNumber(""), 0.0);
  QCOMPARE(Progress::leadingNumber("1 2.5x"), 12.5);
  QCOMPARE(Progress::leadingNumber("12.3413.56"), 12.3413);
  QCOMPARE(Progress::leadingNumber("-5"), 0.0);
  QCOMPARE(Progress::roundHalfEven(12.5), 12LL);
  QCOMPARE(Progress::roundHalfEven(13.5), 14LL);
  QCOMPARE(Progress::roundHalfEven(0.5), 0LL);
  QCOMPARE(Progress::roundHalfEven(-2.5), -2LL);
  QCOMPARE(Progress::numberText(7), QStringLiteral("7"));
  QCOMPARE(Progress::numberText(45.67), QStringLiteral("45.67"));
  QCOMPARE(Progress::numberText(100.0 / 3), QStringLiteral("33.3333333333333"));
  QCOMPARE(Progress::numberText(5e-8), QStringLiteral("0.00000005"));
  QCOMPARE(Progress::numberText(0), QStringLiteral("0"));
}

void TestProgress::stageOne_data() {
  QTest::addColumn<QString>("chunk");
  QTest::addColumn<int>("value");  // -1: display unchanged
  QTest::addColumn<QString>("caption");
  QTest::newRow("mencoder line") << "Pos:   1.2s     30f ( 3%)  0.00fps" << 3 << "转换中\\ 3%";
  QTest::newRow("two digits") << "Pos: 20.0s 500f (45%) 30fps" << 45 << "转换中\\ 45%";
  QTest::newRow("hundred") << "Pos: 40.0s 1000f (100%)" << 100 << "结束 100%";
  QTest::newRow("first one wins") << "(45%) and (46%)" << 45 << "转换中\\ 45%";
  QTest::newRow("avi in parentheses") << "Writing (avi) header" << 0 << "转换中\\ 0%";
  QTest::newRow("above a hundred") << "(150)" << 100 << "转换中\\ 100%";
  QTest::newRow("999%") << "(999%)" << 100 << "转换中\\ 100%";
  QTest::newRow("no percentage") << "Opening video filter" << -1 << "";
  QTest::newRow("cut at the end") << "Pos: 1.0s (4" << -1 << "";
  QTest::newRow("paren at end") << "(" << -1 << "";
  QTest::newRow("empty") << "" << -1 << "";
  QTest::newRow("chinese around") << "进度 (12%) 完成" << 12 << "转换中\\ 12%";
}

void TestProgress::stageOne() {
  QFETCH(QString, chunk);
  QFETCH(int, value);
  QFETCH(QString, caption);
  State s;
  const auto v = Progress::stageOne(chunk, s);
  QCOMPARE(s.busyChar, QStringLiteral("\\"));  // advanced whatever the chunk held
  if (value < 0) {
    QVERIFY(!v);
  } else {
    QVERIFY(v);
    QCOMPARE(v->value, value);
    QCOMPARE(v->caption, caption);
  }
}

void TestProgress::stageOneCarriesNothingBetweenChunks() {
  State s;
  QVERIFY(!Progress::stageOne("Pos: 1s (4", s));
  // The rest of the split field alone is not a percentage.
  QVERIFY(!Progress::stageOne("5%) 3fps", s));
  QCOMPARE(s.fileDuration, 0);
}

void TestProgress::stageTwoDuration_data() {
  QTest::addColumn<QString>("chunk");
  QTest::addColumn<int>("duration");
  QTest::newRow("ffmpeg header") << "  Duration: 00:01:40.00, start: 0.000000, bitrate: 800 kb/s" << 100;
  QTest::newRow("hours") << "Duration: 01:02:03.50, start" << 3724;   // 3723.5 to even
  QTest::newRow("round half even") << "Duration: 00:00:02.50, x" << 2;
  QTest::newRow("not available") << "Duration: N/A, start: 0" << 0;
  QTest::newRow("two parts") << "Duration: 01:40.00, x" << 0;
  QTest::newRow("ends right after the marker") << "xx Duration: " << 0;
  QTest::newRow("cut mid field") << "Duration: 00:0" << 0;
  QTest::newRow("huge") << "Duration: 99999999999:00:00.00, x" << 0;
  QTest::newRow("nothing") << "frame= 1 fps=0" << 0;
}

void TestProgress::stageTwoDuration() {
  QFETCH(QString, chunk);
  QFETCH(int, duration);
  State s;
  Progress::stageTwo(chunk, s);
  QCOMPARE(s.fileDuration, duration);
}

void TestProgress::stageTwo_data() {
  QTest::addColumn<int>("duration");
  QTest::addColumn<QString>("chunk");
  QTest::addColumn<int>("value");
  QTest::addColumn<QString>("caption");
  QTest::newRow("quarter") << 100 << "frame= 250 fps= 50 q=2.0 size= 1024kB time=25.04 bitrate= 335.0kbits/s" << 25
                           << "创建中\\ 25%";
  QTest::newRow("third") << 300 << "time=100.00 " << 33 << "创建中\\ 33.3%";
  QTest::newRow("past the end") << 100 << "time=101.20 bitrate" << 100 << "完成 100%";
  QTest::newRow("at the end") << 100 << "time=100.00 bitrate" << 100 << "完成 100%";
  QTest::newRow("duration unknown") << 0 << "time=5.00 " << 100 << "完成 100%";
  QTest::newRow("fraction cut to four") << 7 << "time=3.00 " << 43 << "创建中\\ 42.8%";
  QTest::newRow("zero time") << 100 << "time=0.00 " << 0 << "创建中\\ 0%";
  QTest::newRow("negative time reads 0") << 100 << "time=-00:00:01.00 " << 0 << "创建中\\ 0%";
  QTest::newRow("clock form reads hours") << 100 << "time=00:00:50.00 " << 0 << "创建中\\ 0%";
  QTest::newRow("joined fields") << 100 << "time=12.34 x time=13.56 " << 12 << "创建中\\ 12%";
  QTest::newRow("marker at the very end") << 100 << "bitrate= 1 time=" << -1 << "";
  QTest::newRow("no time") << 100 << "Stream mapping:" << -1 << "";
  QTest::newRow("negative duration") << -5 << "time=3.00 " << 100 << "完成 100%";
}

void TestProgress::stageTwo() {
  QFETCH(int, duration);
  QFETCH(QString, chunk);
  QFETCH(int, value);
  QFETCH(QString, caption);
  State s;
  s.fileDuration = duration;
  const auto v = Progress::stageTwo(chunk, s);
  if (value < 0) {
    QVERIFY(!v);
    return;
  }
  QVERIFY(v);
  QCOMPARE(v->value, value);
  QCOMPARE(v->caption, caption);
  QVERIFY(v->value >= 0 && v->value <= 100);
}

void TestProgress::busyCycle() {
  State s;
  QStringList seen;
  for (int i = 0; i < 4; ++i) {
    Progress::stageTwo(i % 2 ? "nothing" : "time=1.0 ", s);
    seen << s.busyChar;
  }
  QCOMPARE(seen, (QStringList{"\\", "|", "/", "-"}));
  s.busyChar = "x";
  Progress::stageOne("", s);
  QCOMPARE(s.busyChar, QStringLiteral("-"));
  // The duration is read once per file: a second header does not replace it.
  State d;
  Progress::stageTwo("Duration: 00:00:10.00, a", d);
  Progress::stageTwo("Duration: 00:00:20.00, a", d);
  QCOMPARE(d.fileDuration, 10);
}

void TestProgress::hostileChunksNeverBreak() {
  // Values a misbehaving tool could print: the display stays within 0..100.
  const QStringList chunks = {"(", ")", "((((", "(-5%)", "( . %)", "time=.", "time=..",
                              "time=99999999999999999999999999 ", "Duration: ::: time=1 ",
                              "Duration: 1e308:1e308:1e308, time=1 ", QString(2000, QChar('(')),
                              "time=" + QString(1000, '9'), "Duration: 00:00:00.40, time=0.1 "};
  for (const QString& c : chunks) {
    State s;
    if (const auto v = Progress::stageOne(c, s)) QVERIFY2(v->value >= 0 && v->value <= 100, qPrintable(c));
    for (int k = 0; k < 2; ++k)
      if (const auto v = Progress::stageTwo(c, s)) QVERIFY2(v->value >= 0 && v->value <= 100, qPrintable(c));
  }
}

QTEST_GUILESS_MAIN(TestProgress)
#include "test_progress.moc"
