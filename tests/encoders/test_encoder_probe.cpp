// Reading a source with FFmpeg's libraries: what the tools learn about real
// small clips, and the one-line reasons for sources they cannot take.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "common/console.h"
#include "common/media.h"
#include "encoders_support.h"

using namespace toolkit;

namespace {

// What Source tells of `path`, the file closed again.
MediaInfo probe(const QString& path) {
  const Source source(path);
  source.refuseIfTruncated();
  return source.info();
}

QString probeError(const QString& path) {
  try {
    probe(path);
  } catch (const ToolError& e) {
    return e.message();
  }
  return QString();
}

}  // namespace

class TestEncoderProbe : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString path(const QString& name) const { return dir_.filePath(name); }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(enc::makeClip(path("av.mp4"), {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=3", "-f", "lavfi",
                                           "-i", "sine=duration=3:sample_rate=48000", "-ac", "2", "-c:v", "libx264",
                                           "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"}));
    QVERIFY(enc::makeClip(path("ntsc.mpg"), {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=30000/1001:duration=2",
                                             "-f", "lavfi", "-i", "sine=duration=2:sample_rate=22050", "-c:v",
                                             "mpeg2video", "-c:a", "mp2"}));
    // Sound first, then the picture; Matroska keeps no stream durations.
    QVERIFY(enc::makeClip(path("reversed.mkv"), {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=15:duration=2", "-f",
                                                 "lavfi", "-i", "sine=duration=2", "-map", "1", "-map", "0", "-c:v",
                                                 "mpeg4", "-c:a", "pcm_s16le"}));
    QVERIFY(enc::makeClip(path("cover.mp3"), {"-f", "lavfi", "-i", "sine=duration=2", "-f", "lavfi", "-i",
                                              "testsrc=size=300x300:duration=1", "-map", "0", "-map", "1",
                                              "-frames:v", "1", "-c:a", "libmp3lame", "-c:v", "mjpeg",
                                              "-disposition:v", "attached_pic"}));
    // An AVI whose header counts twice the frames its data holds.
    QVERIFY(enc::makeClip(path("whole.avi"), {"-i", path("av.mp4"), "-c:v", "mpeg4", "-c:a", "libmp3lame"}));
    QFile avi(path("whole.avi"));
    QVERIFY(avi.open(QIODevice::ReadOnly));
    QVERIFY(enc::writeFile(path("cut.avi"), avi.readAll().left(avi.size() / 2)));
    QFile mp4(path("av.mp4"));
    QVERIFY(mp4.open(QIODevice::ReadOnly));
    QVERIFY(enc::writeFile(path("cut.mp4"), mp4.readAll().left(mp4.size() / 2)));  // its index is at the end
    QVERIFY(enc::writeFile(path("subtitles.srt"), "1\n00:00:01,000 --> 00:00:02,000\nhello\n\n"));
    QVERIFY(enc::writeFile(path("notmedia.mp4"), QByteArray("just some text, not a film\n").repeated(50)));
    QVERIFY(enc::writeFile(path("empty.mp4"), {}));
    QVERIFY(QDir().mkpath(path("folder.mp4")));
    QVERIFY(QFile::copy(path("av.mp4"), path("名字 with spaces.mp4")));
  }

  void videoAndAudio() {
    const MediaInfo m = probe(path("av.mp4"));
    QVERIFY(m.hasVideo && m.hasAudio);
    QCOMPARE(m.videoIndex, 0);
    QCOMPARE(m.audioIndex, 1);
    QCOMPARE(m.size, QSize(320, 240));
    QCOMPARE(m.frameRate, (Rational{25, 1}));
    QCOMPARE(m.sampleRate, 48000);
    QCOMPARE(m.channels, 2);
    QVERIFY2(qAbs(m.duration - 3) < 0.1, qPrintable(QString::number(m.duration)));
    QVERIFY2(qAbs(m.videoDuration - 3) < 0.1, qPrintable(QString::number(m.videoDuration)));
    QVERIFY2(qAbs(m.audioDuration - 3) < 0.1, qPrintable(QString::number(m.audioDuration)));
    QVERIFY(m.kbps > 0);
    // A name beyond ASCII, with spaces.
    QCOMPARE(probe(path("名字 with spaces.mp4")).size, QSize(320, 240));
  }

  void ntscRateAndMono() {
    const MediaInfo m = probe(path("ntsc.mpg"));
    QCOMPARE(m.frameRate, (Rational{30000, 1001}));
    QCOMPARE(m.size, QSize(176, 144));
    QCOMPARE(m.sampleRate, 22050);
    QCOMPARE(m.channels, 1);
  }

  // Stream indices come from the file; Matroska keeps no stream durations in
  // its headers, only the DURATION tags its writers leave per track.
  void soundBeforePicture() {
    const MediaInfo m = probe(path("reversed.mkv"));
    QCOMPARE(m.audioIndex, 0);
    QCOMPARE(m.videoIndex, 1);
    QCOMPARE(m.frameRate, (Rational{15, 1}));
    QVERIFY2(qAbs(m.videoDuration - 2) < 0.1, qPrintable(QString::number(m.videoDuration)));
    QVERIFY2(qAbs(m.audioDuration - 2) < 0.1, qPrintable(QString::number(m.audioDuration)));
    QVERIFY(!m.otherStreams);
    QVERIFY2(qAbs(m.duration - 2) < 0.1, qPrintable(QString::number(m.duration)));
  }

  void coverPictureIsNotVideo() {
    const MediaInfo m = probe(path("cover.mp3"));
    QVERIFY(!m.hasVideo);
    QCOMPARE(m.videoIndex, -1);
    QVERIFY(m.hasAudio);
    QCOMPARE(m.audioIndex, 0);
  }

  // The header's frame count against the data: whole, and cut in half.
  void aviFrameCount() {
    const MediaInfo whole = probe(path("whole.avi"));
    QVERIFY(whole.declaredVideoDuration > 2.9);
    QVERIFY(qAbs(whole.declaredVideoDuration - whole.videoDuration) < 0.1);
    const QString why = probeError(path("cut.avi"));
    QVERIFY2(why.startsWith(QLatin1String("the source is truncated: its header promises 3.")), qPrintable(why));
  }

  void unreadable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing.mp4" << "the source does not exist: ";
    QTest::newRow("folder") << "folder.mp4" << "the source is not a file: ";
    QTest::newRow("empty") << "empty.mp4" << "the source is empty: ";
    QTest::newRow("text") << "notmedia.mp4"
                          << "the source is not a media file FFmpeg can read: Invalid data found when processing input";
    QTest::newRow("cut mp4") << "cut.mp4" << "the source is not a media file FFmpeg can read: ";
    QTest::newRow("subtitles only") << "subtitles.srt" << "the source holds neither video nor audio";
  }

  void unreadable() {
    QFETCH(QString, name);
    QFETCH(QString, reason);
    const QString why = probeError(path(name));
    QVERIFY2(why.startsWith(reason), qPrintable(why));
  }

  // Nothing of the library's own logging reaches the tool's output: a source
  // it complains about gives exactly the tool's reason and error lines.
  void libraryStaysQuiet_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("cut mp4") << "cut.mp4";
    QTest::newRow("cut avi") << "cut.avi";
    QTest::newRow("text") << "notmedia.mp4";
  }

  void libraryStaysQuiet() {
    QFETCH(QString, name);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QDir(QStringLiteral(VANTREL_DATA_DIR)).filePath(QStringLiteral("coder")),
            {"-i", path(name), "-y", path("quiet.mp3")});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 1);
    const QList<QByteArray> lines = p.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith("coder: reason: "), lines[0].constData());
    QVERIFY2(lines[1].startsWith("coder: error: the source "), lines[1].constData());
  }
};

QTEST_GUILESS_MAIN(TestEncoderProbe)
#include "test_encoder_probe.moc"
