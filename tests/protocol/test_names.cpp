// The names the program and the encoders agree on. Each rule has one
// definition; here the program's side and the encoders' side of each are
// held against each other.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "engine/commandline.h"
#include "protocol/names.h"
#include "protocol/toolprotocol.h"

using namespace ToolProtocol;

class TestNames : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void cutsKeepWholeCharacters_data();
  void cutsKeepWholeCharacters();
  void encoderGivesWayToATakenName_data();
  void encoderGivesWayToATakenName();
  void programAndEncoderCountCopiesAlike_data();
  void programAndEncoderCountCopiesAlike();
  void partialFilesAreFoundByTheirProcess();
  void onlyUtf8NamesArePassedOn_data();
  void onlyUtf8NamesArePassedOn();
  void lengthsFallShortPastTheTolerance_data();
  void lengthsFallShortPastTheTolerance();
};

void TestNames::cutsKeepWholeCharacters_data() {
  QTest::addColumn<QString>("base");
  QTest::addColumn<QString>("tail");
  QTest::addColumn<QString>("fitted");
  // Exactly at the limit stays; one byte over loses one character.
  QTest::newRow("at the limit") << QString(251, 'a') << ".mp3" << QString(251, 'a');
  QTest::newRow("one byte over") << QString(252, 'a') << ".mp3" << QString(251, 'a');
  // Multi-byte characters go whole: 85 x 3 bytes + ".mp3" is 259 bytes.
  QTest::newRow("CJK") << QString(85, QChar(0x7247)) << ".mp3" << QString(83, QChar(0x7247));
  // A surrogate pair or a base letter with its accent is never split.
  QTest::newRow("emoji") << QString(250, 'a') + QString::fromUcs4(U"\U0001F600") << ".mp3" << QString(250, 'a');
  QTest::newRow("accent") << QString(250, 'a') + QStringLiteral("e\u0301") << ".mp3" << QString(250, 'a');
  QTest::newRow("tail alone too long") << "abc" << QString(300, 'x') << QString();
}

void TestNames::cutsKeepWholeCharacters() {
  QFETCH(QString, base);
  QFETCH(QString, tail);
  QFETCH(QString, fitted);
  QCOMPARE(fitBaseName(base, tail), fitted);
}

void TestNames::encoderGivesWayToATakenName_data() {
  QTest::addColumn<QString>("taken");
  QTest::addColumn<QString>("next");
  QTest::newRow("plain") << "result.mp3" << "result(2).mp3";
  QTest::newRow("no extension") << "out" << "out(2)";
  QTest::newRow("counts on") << "x(9).mp3" << "x(10).mp3";
  QTest::newRow("output name") << "clip-9530(2).mpg" << "clip-9530(3).mpg";
  QTest::newRow("long ASCII") << QString(251, 'n') + ".mp3" << QString(248, 'n') + "(2).mp3";
  // The time stays whole: the source's base gives way.
  QTest::newRow("long output name") << QString(243, 'b') + "-235959.rmvb" << QString(240, 'b') + "-235959(2).rmvb";
  QTest::newRow("emoji at the cut") << QString(246, 'a') + QString::fromUcs4(U"\U0001F600") + ".mp3"
                                    << QString(246, 'a') + "(2).mp3";
}

void TestNames::encoderGivesWayToATakenName() {
  QFETCH(QString, taken);
  QFETCH(QString, next);
  QCOMPARE(nextFreeName(taken), next);
}

void TestNames::programAndEncoderCountCopiesAlike_data() {
  QTest::addColumn<QString>("base");
  QTest::newRow("short") << "clip";
  QTest::newRow("dots and a copy mark") << "a(2).b";
  QTest::newRow("ends in digits") << "take-12";
  QTest::newRow("long ASCII") << QString(250, 'b');
  QTest::newRow("long CJK") << QString(84, QChar(0x7247));
  QTest::newRow("long emoji") << QString(60, 'a') + QString::fromUcs4(U"\U0001F600").repeated(60);
}

// The program names copy n of an output; an encoder that finds that name taken
// writes copy n + 1, as the program would have named it.
void TestNames::programAndEncoderCountCopiesAlike() {
  QFETCH(QString, base);
  QTemporaryDir dir;
  const QString source = "/v/" + base + ".avi";
  QString name;
  for (int copy = 1; copy <= 11; ++copy) {
    const QString program = CommandLines::uniqueOutputFileName(dir.path(), source, QTime(23, 59, 59), ".3gp");
    QVERIFY2(QFile::encodeName(QFileInfo(program).fileName()).size() <= kMaxNameBytes, qPrintable(program));
    if (copy > 1) QCOMPARE(program, QDir(dir.path()).filePath(name));
    name = nextFreeName(QFileInfo(program).fileName());
    QVERIFY(QFile(program).open(QIODevice::WriteOnly));
  }
  QVERIFY(name.endsWith("-235959(12).3gp"));
}

void TestNames::partialFilesAreFoundByTheirProcess() {
  QTemporaryDir dir;
  const QStringList names = {partialFileName(12, 0xabc), partialFileName(1, ~0ULL), partialFileName(123, 7),
                             ".vantrel-12.part", "clip.mp4"};
  for (const QString& n : names) QVERIFY(QFile(dir.filePath(n)).open(QIODevice::WriteOnly));
  QCOMPARE(partialFileName(12, 0xabc), ".vantrel-12-0000000000000abc.part");
  const auto of = [&](qint64 pid) {
    QStringList found;
    for (const QString& n : QDir(dir.path()).entryList({partialFilePattern(pid)}, QDir::Files | QDir::Hidden))
      if (isPartialFileOf(n, pid)) found << n;
    return found;
  };
  QCOMPARE(of(12), (QStringList{".vantrel-12-0000000000000abc.part", ".vantrel-12.part"}));
  QCOMPARE(of(1), QStringList{partialFileName(1, ~0ULL)});
  QCOMPARE(of(0), QStringList());
}

void TestNames::onlyUtf8NamesArePassedOn_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<bool>("passed");
  QTest::newRow("CJK") << QByteArray("/v/\xe7\x89\x87.mp4") << true;
  QTest::newRow("Latin-1") << QByteArray("/v/caf\xe9.mp4") << false;
  QTest::newRow("overlong slash") << QByteArray("/v/\xc0\xaf.mp4") << false;
  QTest::newRow("surrogate") << QByteArray("/v/\xed\xa0\x80.mp4") << false;
  QTest::newRow("cut sequence") << QByteArray("/v/\xe7\x89") << false;
}

// The program checks a name as Qt decoded it, an encoder its argument decoded
// the same way.
void TestNames::onlyUtf8NamesArePassedOn() {
  QFETCH(QByteArray, bytes);
  QFETCH(bool, passed);
  QCOMPARE(isUtf8Name(QString::fromUtf8(bytes)), passed);
  QVERIFY(!isUtf8Name(QStringLiteral("a") + QChar::Null));
}

void TestNames::lengthsFallShortPastTheTolerance_data() {
  QTest::addColumn<double>("reached");
  QTest::addColumn<double>("expected");
  QTest::addColumn<bool>("falls");
  QTest::newRow("whole") << 10.0 << 10.0 << false;
  QTest::newRow("half a second of a short one") << 1.5 << 2.0 << false;
  QTest::newRow("past half a second") << 1.4 << 2.0 << true;
  QTest::newRow("five percent of a long one") << 95.0 << 100.0 << false;
  QTest::newRow("past five percent") << 94.9 << 100.0 << true;
  QTest::newRow("nothing expected") << 0.0 << 0.0 << false;
}

void TestNames::lengthsFallShortPastTheTolerance() {
  QFETCH(double, reached);
  QFETCH(double, expected);
  QFETCH(bool, falls);
  QCOMPARE(fallsShort(reached, expected), falls);
}

QTEST_GUILESS_MAIN(TestNames)
#include "test_names.moc"
