// Reading why a run failed from the last lines the encoder printed, and the
// words the front ends give each code.
#include <QtTest>

#include "engine/failurereasons.h"
#include "protocol/toolprotocol.h"
#include "texts/texts.h"

class TestFailureReasons : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void classify_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("crashed");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("detail");
    const QString progress = "Pos: 0.1s 1f ( 0%) 0.00fps\r";
    QTest::newRow("two lines") << progress + "coder: reason: disk-full\ncoder: error: no space left\n" << 1 << false
                               << "disk-full" << "coder: error: no space left";
    QTest::newRow("CRLF and blank lines") << "coder: reason: not-media\r\n\r\ncoder: error: not media\r\n\r\n" << 1
                                          << false << "not-media" << "coder: error: not media";
    QTest::newRow("error line lost") << progress + "coder: reason: source-damaged" << 1 << false
                                     << "source-damaged" << "coder: reason: source-damaged";
    QTest::newRow("usage") << "coder: reason: usage\ncoder: error: -ar needs a value\n" << 2 << false << "usage"
                           << "coder: error: -ar needs a value";
    QTest::newRow("a reason line further up is not this failure")
        << "coder: reason: disk-full\ncoder: error: x\nframe=1 time=0.1\nSegmentation fault\n" << 1 << false
        << "crashed" << "coder exited with status 1 without saying why";
    QTest::newRow("another tool's line") << "coder2: reason: disk-full\ncoder2: error: x\n" << 1 << false << "crashed"
                                         << "coder exited with status 1 without saying why";
    QTest::newRow("empty code") << "coder: reason: \ncoder: error: x\n" << 1 << false << "crashed"
                                << "coder exited with status 1 without saying why";
    QTest::newRow("ended by a signal") << progress + "coder: reason: disk-full\ncoder: error: x\n" << 0 << true
                                       << "crashed" << "coder ended abnormally (killed by a signal)";
    QTest::newRow("nothing printed") << "" << 139 << false << "crashed"
                                     << "coder exited with status 139 without saying why";
  }
  void classify() {
    QFETCH(QString, output);
    QFETCH(int, exitCode);
    QFETCH(bool, crashed);
    QFETCH(QString, code);
    QFETCH(QString, detail);
    const FileFailure f = FailureReasons::classify("/v/a.avi", {"coder", output, exitCode, crashed});
    QCOMPARE(f.source, QStringLiteral("/v/a.avi"));
    QCOMPARE(f.code, code);
    QCOMPARE(f.detail, detail);
    QVERIFY(!f.detail.startsWith("Pos:"));
  }
  // Every code the encoders may print has words of its own, none shared.
  void everyCodeHasItsText() {
    QSet<QString> texts;
    for (const ToolProtocol::ReasonCode& r : ToolProtocol::kReasonCodes) {
      const QString t = Texts::reason(QString::fromLatin1(r.code));
      QVERIFY2(!texts.contains(t), r.code);
      texts.insert(t);
    }
    for (const char* own : {"crashed", "start-failed"}) QVERIFY2(!texts.contains(Texts::reason(own)), own);
    QCOMPARE(Texts::reason("Disk-Full"), Texts::reason("encode-failed"));  // codes are lower-case
    QCOMPARE(Texts::reason(""), Texts::reason("encode-failed"));
  }
};

QTEST_GUILESS_MAIN(TestFailureReasons)
#include "test_failurereasons.moc"
