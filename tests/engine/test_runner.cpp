// The console runner: start failures, chunking, decoding, how a run ends.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/resource.h>
#include <unistd.h>

#include "engine/failurereasons.h"
#include "runner/dosoutputs.h"
#include "support/fakes.h"

namespace {
ToolCommand cmd(const QString& program, QStringList args = {}) { return ToolCommand{program, args, {}}; }
}  // namespace

class TestRunner : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString script(const QString& name, const QString& body) { return writeScript(dir_.filePath(name), body); }

  // Runs to the end and returns the chunks received.
  QStringList run(DOSOutputs& r, const ToolCommand& c, qsizetype* overs = nullptr) {
    QStringList chunks;
    auto conn = connect(&r, &DOSOutputs::ReceiveOutputs, [&](const QString& s) { chunks << s; });
    QSignalSpy over(&r, &DOSOutputs::CommandOver);
    if (r.ExecuteCommand(c)) {
      over.wait(20000);
      QTest::qWait(50);  // a second CommandOver would arrive here
    }
    if (overs) *overs = over.count();
    disconnect(conn);
    return chunks;
  }

 private Q_SLOTS:
  void startFailures();
  void silentToolEndsOnce();
  void chunksInOrderAndBounded();
  void splitCharacterArrivesWhole();
  void longRunKeepsABoundedTail_data();
  void longRunKeepsABoundedTail();
  void exitStatusIsReported();
  void commandLineAndOutputsCarryOver();
  void argumentsReachTheToolIntact();
  void terminateEndsTheWholeGroup();
  void noStandardInput();
  void pipeFailureIsReported();
};

void TestRunner::pipeFailureIsReported() {
  // With no file descriptor left, the output pipe cannot be made.
  RecordingPrompter boxes;
  DOSOutputs r;
  QSignalSpy over(&r, &DOSOutputs::CommandOver);
  const QString s = script("never", "echo hi");
  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  const int lowestFree = dup(0);
  close(lowestFree);
  rlimit tight = old;
  tight.rlim_cur = lowestFree;
  setrlimit(RLIMIT_NOFILE, &tight);
  const bool started = r.ExecuteCommand(ToolCommand{s, {}, {}});
  setrlimit(RLIMIT_NOFILE, &old);
  QVERIFY(!started);
  QCOMPARE(boxes.messages.size(), 1);
  QVERIFY2(boxes.messages[0].startsWith("critical:CreatePipe failed. Error: "), qPrintable(boxes.messages[0]));
  QCOMPARE(boxes.messages[0].mid(35).toInt(), EMFILE);
  QTest::qWait(50);
  QCOMPARE(over.count(), 0);
}

void TestRunner::startFailures() {
  RecordingPrompter boxes;
  DOSOutputs r;
  QSignalSpy over(&r, &DOSOutputs::CommandOver);
  QSignalSpy chunk(&r, &DOSOutputs::ReceiveOutputs);
  QVERIFY(!r.ExecuteCommand());
  QVERIFY(!r.ExecuteCommand(cmd(dir_.filePath("missing"))));
  QFile plain(dir_.filePath("not-executable"));
  plain.open(QIODevice::WriteOnly);
  plain.write("#!/bin/sh\n");
  plain.close();
  QVERIFY(!r.ExecuteCommand(cmd(plain.fileName())));
  QVERIFY(!r.ExecuteCommand(cmd(dir_.path())));  // a folder
  QCOMPARE(boxes.messages, (QStringList{"critical:Command Line empty", "critical:File or command not found",
                                        "critical:File or command not found", "critical:File or command not found"}));
  QTest::qWait(50);
  QCOMPARE(over.count(), 0);
  QCOMPARE(chunk.count(), 0);
  QVERIFY(!r.isRunning());
}

void TestRunner::silentToolEndsOnce() {
  DOSOutputs r;
  qsizetype overs = 0;
  const QStringList chunks = run(r, cmd(script("quiet", "exit 0")), &overs);
  QCOMPARE(overs, qsizetype(1));
  QVERIFY(chunks.isEmpty());
  QCOMPARE(r.Outputs(), QString());
  QVERIFY(r.succeeded());
}

void TestRunner::chunksInOrderAndBounded() {
  // 5000 numbered lines on both streams, the last written just before exit.
  DOSOutputs r;
  const QString s = script("talk", "i=0; while [ $i -lt 2500 ]; do echo \"out $i\"; echo \"err $i\" >&2; i=$((i+1)); done; printf tail");
  qsizetype overs = 0;
  const QStringList chunks = run(r, cmd(s), &overs);
  QCOMPARE(overs, qsizetype(1));
  // A chunk ends at a line end, so that a progress reader, which takes the
  // first mark of a chunk, sees every line even when many arrive at once.
  for (const QString& c : chunks) {
    QVERIFY(c.toUtf8().size() <= DOSOutputs::kChunkBytes);
    const qsizetype lineEnd = c.indexOf(QLatin1Char('\n'));
    QVERIFY2(lineEnd < 0 || lineEnd == c.size() - 1, qPrintable(c));
  }
  QCOMPARE(chunks.join(QString()), r.Outputs());
  QVERIFY(r.Outputs().endsWith("tail"));
  QVERIFY(r.Outputs().contains("out 2499\n"));
  QVERIFY(r.Outputs().contains("err 2499\n"));
  QVERIFY(r.Outputs().indexOf("out 10\n") < r.Outputs().indexOf("out 11\n"));
  QCOMPARE(r.lastLine(), QStringLiteral("tail"));
}

void TestRunner::splitCharacterArrivesWhole() {
  // 1023 ASCII bytes, then a three-byte character across the chunk border.
  DOSOutputs r;
  const QString s = script("cjk", "printf '%01023d' 0; printf '中文进度\\r'; sleep 0.2; printf '完成\\n'");
  const QStringList chunks = run(r, cmd(s));
  QVERIFY(!r.Outputs().contains(QChar::ReplacementCharacter));
  QVERIFY(r.Outputs().endsWith("中文进度\r完成\n"));
  QCOMPARE(r.lastLine(), QStringLiteral("完成"));
  for (const QString& c : chunks) QVERIFY(!c.contains(QChar::ReplacementCharacter));
}

// A tool that talks for megabytes: every chunk still reaches the owner, the
// kept output stays bounded all along, and its end (the encoder's two
// failure lines) arrives whole, whatever character the cut falls on.
void TestRunner::longRunKeepsABoundedTail_data() {
  QTest::addColumn<QString>("body");
  QTest::addColumn<QString>("startsWith");
  // Lines: the tail starts at a line's start.
  QTest::newRow("lines") << "yes 'Pos: 1.0s 25f (50%) 进度 😀' | head -n 100000" << "Pos: ";
  // One endless line of characters taking one and two UTF-16 units (three and
  // four bytes), shifted so that the cut meets each position of the pattern.
  for (int shift = 0; shift < 3; ++shift)
    QTest::newRow(qPrintable(QStringLiteral("one line, shift %1").arg(shift)))
        << QStringLiteral("printf '%1'; yes '进😀' | head -n 100000 | tr -d '\\n'")
               .arg(QString(shift, QLatin1Char('x')))
        << QString();
}

void TestRunner::longRunKeepsABoundedTail() {
  QFETCH(QString, body);
  QFETCH(QString, startsWith);
  DOSOutputs r;
  qsizetype longest = 0, received = 0;
  connect(&r, &DOSOutputs::ReceiveOutputs, &r, [&](const QString& c) {
    received += c.size();
    longest = std::max(longest, r.Outputs().size());
  });
  const QString s = script("long", body + "\nprintf '\\nconv: reason: disk-full\\nconv: error: 磁盘 😀 full\\n'\nexit 1");
  run(r, cmd(s));
  QCOMPARE(r.exitCode(), 1);
  QVERIFY2(received > 4 * DOSOutputs::kTailChars, "the run must be long enough to cut");
  QVERIFY(longest <= 2 * DOSOutputs::kTailChars);
  QVERIFY(r.Outputs().size() >= DOSOutputs::kTailChars / 2);
  QVERIFY(r.Outputs().isValidUtf16());
  QVERIFY(!r.Outputs().contains(QChar::ReplacementCharacter));
  QVERIFY(r.Outputs().startsWith(startsWith));
  QVERIFY(r.Outputs().endsWith("\nconv: reason: disk-full\nconv: error: 磁盘 😀 full\n"));
  const FileFailure f = FailureReasons::classify("a.avi", {"conv", r.Outputs(), r.exitCode(), r.crashed()});
  QCOMPARE(f.code, QStringLiteral("disk-full"));
}

void TestRunner::exitStatusIsReported() {
  DOSOutputs r;
  run(r, cmd(script("fails", "echo 'Error: source is not media'; exit 3")));
  QCOMPARE(r.exitCode(), 3);
  QVERIFY(!r.succeeded());
  QVERIFY(!r.crashed());
  QCOMPARE(r.lastLine(), QStringLiteral("Error: source is not media"));
  run(r, cmd(script("crashes", "echo started; kill -SEGV $$")));
  QVERIFY(r.crashed());
  QVERIFY(!r.succeeded());
  run(r, cmd(script("fine", "echo ok")));
  QVERIFY(r.succeeded());
}

void TestRunner::commandLineAndOutputsCarryOver() {
  RecordingPrompter boxes;
  DOSOutputs r;
  const ToolCommand first = cmd(script("one", "echo first"));
  run(r, first);
  QCOMPARE(r.CommandLine().program, first.program);
  QCOMPARE(r.Outputs(), QStringLiteral("first\n"));
  // An empty argument runs the stored command again.
  run(r, ToolCommand{});
  QCOMPARE(r.Outputs(), QStringLiteral("first\n"));
  // A failed start keeps the last run's output.
  QVERIFY(!r.ExecuteCommand(cmd(dir_.filePath("absent"))));
  QCOMPARE(r.Outputs(), QStringLiteral("first\n"));
  QCOMPARE(r.CommandLine().program, dir_.filePath("absent"));
}

void TestRunner::argumentsReachTheToolIntact() {
  DOSOutputs r;
  const QString s = script("args", "for a in \"$@\"; do printf '[%s]' \"$a\"; done");
  const QStringList args = {"-i", "/v/a \"b\" -c $(x) `y` ;&|.avi", "", "-名字", "*"};
  run(r, cmd(s, args));
  QCOMPARE(r.Outputs(), QStringLiteral("[-i][/v/a \"b\" -c $(x) `y` ;&|.avi][][-名字][*]"));
}

void TestRunner::terminateEndsTheWholeGroup() {
  DOSOutputs r;
  const QString pidFile = dir_.filePath("child.pid");
  const QString s = script("tree", QStringLiteral("sleep 60 & echo $! > '%1'; echo ready; wait").arg(pidFile));
  QSignalSpy over(&r, &DOSOutputs::CommandOver);
  QSignalSpy chunk(&r, &DOSOutputs::ReceiveOutputs);
  QVERIFY(r.ExecuteCommand(cmd(s)));
  QVERIFY(chunk.wait(5000));
  QElapsedTimer t;
  t.start();
  r.terminate();
  QVERIFY(over.wait(10000));
  QVERIFY(t.elapsed() < 5000);
  QVERIFY(r.stopped());
  QVERIFY(!r.succeeded());
  QFile f(pidFile);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray pid = f.readAll().trimmed();
  QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists("/proc/" + pid + "/cmdline") ||
                               QFile("/proc/" + pid + "/stat").open(QIODevice::ReadOnly) == false,
                           5000);
}

void TestRunner::noStandardInput() {
  DOSOutputs r;
  qsizetype overs = 0;
  QElapsedTimer t;
  t.start();
  run(r, cmd(script("reads", "cat; echo done")), &overs);
  QCOMPARE(overs, qsizetype(1));
  QVERIFY(t.elapsed() < 5000);
  QCOMPARE(r.Outputs(), QStringLiteral("done\n"));
}

QTEST_GUILESS_MAIN(TestRunner)
#include "test_runner.moc"
