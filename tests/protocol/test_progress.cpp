// The encoders' progress lines: the reader (the program's side) on the lines
// as they arrive, and the writer (the encoders' side) held against it. The
// captions are the product's words for each reading.
#include <QtTest>

#include "protocol/progress.h"
#include "protocol/toolprotocol.h"
#include "texts/texts.h"

using Progress::Reading;
using Progress::State;

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
  void percentLinesReadAsWritten_data();
  void percentLinesReadAsWritten();
  void timeLinesReadAsWritten_data();
  void timeLinesReadAsWritten();
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
    QCOMPARE(Texts::progressCaption(*v), caption);
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
  QCOMPARE(Texts::progressCaption(*v), caption);
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

void TestProgress::percentLinesReadAsWritten_data() {
  QTest::addColumn<int>("percent");
  QTest::addColumn<int>("value");
  QTest::addColumn<bool>("finished");
  QTest::newRow("start") << 0 << 0 << false;
  QTest::newRow("one digit") << 3 << 3 << false;
  QTest::newRow("two digits") << 45 << 45 << false;
  QTest::newRow("last before the end") << 99 << 99 << false;
  QTest::newRow("the end") << 100 << 100 << true;
  QTest::newRow("beyond is the end") << 150 << 100 << true;
  QTest::newRow("below is the start") << -5 << 0 << false;
}

void TestProgress::percentLinesReadAsWritten() {
  QFETCH(int, percent);
  QFETCH(int, value);
  QFETCH(bool, finished);
  // Estimates and rates of every width around the percentage.
  for (const Progress::PercentLine& l : {Progress::PercentLine{1.2, 30, percent, 0, 0, 0, 600, 64},
                                         Progress::PercentLine{99999.9, 9999999, percent, 1234.5, -3, 99999, 0, 0}}) {
    State s;
    const auto r = Progress::stageOne(Progress::percentLine(l), s);
    QVERIFY(r);
    QCOMPARE(r->value, value);
    QCOMPARE(r->finished, finished);
    QCOMPARE(r->form, Progress::Form::Percent);
  }
}

void TestProgress::timeLinesReadAsWritten_data() {
  QTest::addColumn<double>("length");
  QTest::addColumn<double>("time");
  QTest::addColumn<int>("duration");
  QTest::addColumn<int>("value");
  QTest::newRow("quarter") << 100.0 << 25.04 << 100 << 25;
  QTest::newRow("hours") << 3725.5 << 1862.75 << 3726 << 50;
  QTest::newRow("held below the end") << 10.0 << 9.99 << 10 << 90;
  QTest::newRow("final line") << 10.0 << 10.0 << 10 << 100;
  QTest::newRow("length unknown") << 0.0 << 5.0 << 0 << 100;
}

// The duration line and a time line as an encoder prints them, each line
// before the last held below the end (timeBeforeEnd).
void TestProgress::timeLinesReadAsWritten() {
  QFETCH(double, length);
  QFETCH(double, time);
  QFETCH(int, duration);
  QFETCH(int, value);
  State s;
  Progress::stageTwo(Progress::durationLine(length, 800) + QLatin1Char('\n'), s);
  QCOMPARE(s.fileDuration, duration);
  const double shown = time < length ? ToolProtocol::timeBeforeEnd(time, length) : time;
  const auto r = Progress::stageTwo(Progress::timeLine({250, 50, 2, 1024, shown, 335}) + QLatin1Char('\n'), s);
  QVERIFY(r);
  QCOMPARE(r->value, value);
  QCOMPARE(r->finished, value == 100);
  QCOMPARE(r->form, Progress::Form::Timecode);
}

QTEST_GUILESS_MAIN(TestProgress)
#include "test_progress.moc"
