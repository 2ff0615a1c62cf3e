// What the encoders do with bad sources and bad command lines, how they stop,
// and whether the main program reads their progress.
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QTimer>

#include "encoders_support.h"
#include "engine/progress.h"
#include "runner/dosoutputs.h"
#include "settings/core/formats.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <cerrno>
#endif

namespace {

using enc::panel;

// Stores the first track of an MP4 on its side, as a phone held upright does:
// a quarter turn in the matrix of its track header (the one ffmpeg's old
// "rotate=270" wrote), which players undo. Written into the bytes, as ffmpeg's
// own options for it differ between its releases.
bool turnFirstTrack(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadWrite)) return false;
  QByteArray data = f.readAll();
  const auto u32 = [&](qsizetype at) {
    return quint32(quint8(data[at])) << 24 | quint32(quint8(data[at + 1])) << 16 |
           quint32(quint8(data[at + 2])) << 8 | quint32(quint8(data[at + 3]));
  };
  // The box `type` among the boxes from `begin` to `end`: its start, or -1.
  const auto find = [&](qsizetype begin, qsizetype end, const char* type) -> qsizetype {
    for (qsizetype at = begin; at + 8 <= end;) {
      const qsizetype size = u32(at);
      if (size < 8 || at + size > end) return -1;
      if (data.mid(at + 4, 4) == type) return at;
      at += size;
    }
    return -1;
  };
  const qsizetype moov = find(0, data.size(), "moov");
  const qsizetype trak = moov < 0 ? -1 : find(moov + 8, moov + u32(moov), "trak");
  const qsizetype tkhd = trak < 0 ? -1 : find(trak + 8, trak + u32(trak), "tkhd");
  if (tkhd < 0) return false;
  const qsizetype matrix = tkhd + (data[tkhd + 8] == 1 ? 60 : 48);
  if (matrix + 36 > tkhd + u32(tkhd)) return false;
  const quint32 one = 0x10000, minusOne = 0xFFFF0000;
  const quint32 turned[9] = {0, minusOne, 0, one, 0, 0, 0, 0, 0x40000000};
  for (int i = 0; i < 9; ++i)
    for (int b = 0; b < 4; ++b) data[matrix + 4 * i + b] = char(turned[i] >> (24 - 8 * b) & 0xFF);
  return f.seek(0) && f.write(data) == data.size();
}

#ifdef Q_OS_LINUX
// Processes whose command line mentions `text` (the tools pass the output
// folder to their FFmpeg children).
int processesMentioning(const QString& text) {
  int n = 0;
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (pid.toInt() > 0 && f.open(QIODevice::ReadOnly) && f.readAll().contains(text.toUtf8())) ++n;
  }
  return n;
}
#endif

}  // namespace

class TestEncoderFailures : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString av_, tone_, silent_, longClip_;
  int case_ = 0;

  QString path(const QString& name) const { return dir_.filePath(name); }

  // The tool that reads `source` in the way the program would run it.
  ToolCommand commandFor(const QString& tool, const QString& source, const QString& out, const QString& work) {
    const BuildContext ctx = enc::buildContext(work);
    const QTime now = QTime::currentTime();
    if (tool == QLatin1String("conv"))
      return CommandLines::stageOne(panel(Formats::AVI), source,
                                    CommandLines::outputFileName(out, source, now, QStringLiteral(".avi")), ctx);
    if (tool == QLatin1String("conv2"))  // first stage into the work file
      return CommandLines::stageOne(panel(Formats::RMVB), source, {}, ctx);
    if (tool == QLatin1String("coder"))
      return CommandLines::stageOne(panel(Formats::MP3), source,
                                    CommandLines::outputFileName(out, source, now, QStringLiteral(".mp3")), ctx);
    // coder2 reads the work file: the source stands in for it.
    BuildContext at = ctx;
    at.workFile = source;
    return CommandLines::stageTwo(panel(Formats::GP3), CommandLines::outputFileName(out, source, now, QStringLiteral(".3gp")), at);
  }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    av_ = path(QStringLiteral("av.mp4"));
    tone_ = path(QStringLiteral("tone.m4a"));
    silent_ = path(QStringLiteral("silent.mp4"));
    longClip_ = path(QStringLiteral("long.mp4"));
    QVERIFY(enc::makeClip(av_, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=4", "-f", "lavfi", "-i",
                                "sine=duration=4", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                                "-c:a", "aac", "-movflags", "+faststart", "-shortest"}));
    QVERIFY(enc::makeClip(tone_, {"-f", "lavfi", "-i", "sine=duration=2", "-c:a", "aac"}));
    QVERIFY(enc::makeClip(silent_, {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2", "-c:v", "libx264",
                                    "-preset", "ultrafast", "-pix_fmt", "yuv420p"}));
    QVERIFY(enc::makeClip(longClip_, {"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=30", "-f", "lavfi",
                                      "-i", "sine=duration=30", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                      "yuv420p", "-c:a", "aac", "-shortest"}));
    QFile avFile(av_);
    QVERIFY(avFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = avFile.readAll();
    QVERIFY(enc::writeFile(path(QStringLiteral("notmedia.mp4")), QByteArray("just some text, not a film\n").repeated(50)));
    QVERIFY(enc::writeFile(path(QStringLiteral("empty.mp4")), {}));
    QVERIFY(enc::writeFile(path(QStringLiteral("cut.mp4")), bytes.left(bytes.size() / 2)));
    // An AVI whose header counts twice the frames its data holds.
    const QString avi = path(QStringLiteral("whole.avi"));
    QVERIFY(enc::makeClip(avi, {"-i", av_, "-c:v", "mpeg4", "-c:a", "libmp3lame"}));
    QFile aviFile(avi);
    QVERIFY(aviFile.open(QIODevice::ReadOnly));
    QVERIFY(enc::writeFile(path(QStringLiteral("cut.avi")), aviFile.readAll().left(aviFile.size() / 2)));

    // Streams whose packets are damaged: nothing or little of them decodes.
    const QStringList av3 = {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=3", "-f", "lavfi", "-i",
                             "sine=duration=3", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                             "-c:a", "aac"};
    QVERIFY(enc::makeClip(path(QStringLiteral("badvideo.mp4")), av3 + QStringList{"-bsf:v", "noise=amount=3"}));
    QVERIFY(enc::makeClip(path(QStringLiteral("badaudio.mp4")), av3 + QStringList{"-bsf:a", "noise=amount=3"}));
    // An AVI whose header declares 8000x8000 over frames of 160x120.
    const QString raw = path(QStringLiteral("raw.avi"));
    QVERIFY(enc::makeClip(raw, {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=3", "-f", "lavfi", "-i",
                                "sine=duration=3", "-c:v", "rawvideo", "-pix_fmt", "yuv420p", "-c:a", "libmp3lame"}));
    QFile rawFile(raw);
    QVERIFY(rawFile.open(QIODevice::ReadOnly));
    QByteArray header = rawFile.readAll();
    const auto putLE = [&header](qsizetype at, quint32 v) {
      for (int i = 0; i < 4; ++i) header[at + i] = char((v >> (8 * i)) & 0xff);
    };
    const qsizetype avih = header.indexOf("avih"), strf = header.indexOf("strf", header.indexOf("vids"));
    QVERIFY(avih > 0 && strf > 0);
    putLE(avih + 40, 8000);
    putLE(avih + 44, 8000);
    putLE(strf + 12, 8000);
    putLE(strf + 16, 8000);
    QVERIFY(enc::writeFile(path(QStringLiteral("huge.avi")), header));
    // The first half of a Matroska file: its header still states the whole length.
    const QString mkv = path(QStringLiteral("whole.mkv"));
    QVERIFY(enc::makeClip(mkv, av3));
    QFile mkvFile(mkv);
    QVERIFY(mkvFile.open(QIODevice::ReadOnly));
    QVERIFY(enc::writeFile(path(QStringLiteral("cut.mkv")), mkvFile.readAll().left(mkvFile.size() / 2)));
    // Whole sources whose container lasts longer than the streams written: a
    // subtitle cue at 09:59:59, a second audio track twice as long.
    const QString srt = path(QStringLiteral("late.srt"));
    QVERIFY(enc::writeFile(srt, "1\n09:59:59,000 --> 10:00:00,000\nlate\n\n"));
    QVERIFY(enc::makeClip(path(QStringLiteral("latesub.mkv")),
                          QStringList{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=3", "-f", "lavfi", "-i",
                                      "sine=duration=3", "-i", srt, "-map", "0", "-map", "1", "-map", "2", "-c:v",
                                      "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-c:s", "srt"}));
    QVERIFY(enc::makeClip(path(QStringLiteral("longsecond.mkv")),
                          QStringList{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=3", "-f", "lavfi", "-i",
                                      "sine=duration=3", "-f", "lavfi", "-i", "sine=frequency=660:duration=6", "-map", "0",
                                      "-map", "1", "-map", "2", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                      "yuv420p", "-c:a", "aac"}));
  }

  void badSource_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("code");
    for (const char* tool : {"conv", "conv2", "coder", "coder2"}) {
      const QString t = QString::fromLatin1(tool);
      QTest::newRow(qPrintable(t + " not media")) << t << "notmedia.mp4" << "not a media file" << "not-media";
      QTest::newRow(qPrintable(t + " empty")) << t << "empty.mp4" << "empty" << "not-media";
      QTest::newRow(qPrintable(t + " missing")) << t << "missing.mp4" << "does not exist" << "source-missing";
      QTest::newRow(qPrintable(t + " cut mp4")) << t << "cut.mp4" << "ends early" << "source-incomplete";
      QTest::newRow(qPrintable(t + " cut avi")) << t << "cut.avi" << "truncated" << "source-incomplete";
      // The MP3 road as well as the video formats.
      QTest::newRow(qPrintable(t + " cut mkv")) << t << "cut.mkv" << "ends early" << "source-incomplete";
      QTest::newRow(qPrintable(t + " damaged audio")) << t << "badaudio.mp4" << "could not be decoded"
                                                      << "source-damaged";
      if (t == QLatin1String("coder")) continue;  // MP3 takes no video
      QTest::newRow(qPrintable(t + " damaged video")) << t << "badvideo.mp4" << "could not be decoded"
                                                      << "source-damaged";
      QTest::newRow(qPrintable(t + " absurd avi header")) << t << "huge.avi" << "could not be decoded"
                                                          << "source-damaged";
    }
    QTest::newRow("conv audio only") << "conv" << "tone.m4a" << "no video stream" << "needs-video";
    QTest::newRow("conv2 audio only") << "conv2" << "tone.m4a" << "no video stream" << "needs-video";
    QTest::newRow("coder2 audio only") << "coder2" << "tone.m4a" << "no video stream" << "needs-video";
    QTest::newRow("coder no audio for mp3") << "coder" << "silent.mp4" << "no audio stream" << "needs-audio";
  }

  // Whole sources whose container is longer than the streams a format uses
  // convert in every format, to the length of those streams.
  void longerContainer_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("source");
    for (int pos = 0; pos < Formats::Count; ++pos) {
      QTest::newRow(qPrintable(QStringLiteral("late subtitle pos%1").arg(pos))) << pos << "latesub.mkv";
      QTest::newRow(qPrintable(QStringLiteral("longer second audio pos%1").arg(pos))) << pos << "longsecond.mkv";
    }
  }

  void longerContainer() {
    QFETCH(int, position);
    QFETCH(QString, source);
    const QString src = path(source);
    const QString out = path(QStringLiteral("long%1/out").arg(++case_));
    const QString work = path(QStringLiteral("long%1/work").arg(case_));
    QVERIFY(QDir().mkpath(out) && QDir().mkpath(work));
    const BuildContext ctx = enc::buildContext(work);
    const QString ext = CommandLines::outputExtension(position);
    const QString target = CommandLines::outputFileName(out, src, QTime::currentTime(), ext);
    const bool twoStage = Formats::format(position)->stageCount == 2;
    const enc::Run one = enc::runTool(CommandLines::stageOne(panel(position), src, twoStage ? QString() : target, ctx));
    QVERIFY2(one.exitCode == 0, qPrintable(one.output));
    if (twoStage) {
      const enc::Run two = enc::runTool(CommandLines::stageTwo(panel(position), target, ctx));
      QVERIFY2(two.exitCode == 0, qPrintable(two.output));
    }
    QCOMPARE(enc::folderEntries(out), QStringList{QFileInfo(target).fileName()});
    const enc::Probe got = enc::probe(target);
    QVERIFY(got.ok);
    QVERIFY2(qAbs(got.duration - 3) < 0.5, qPrintable(QString::number(got.duration)));
  }

  // Sources that are unusual but whole convert.
  void unusualButWholeSources_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("source");
    // Matroska states no length per stream; its sound ends before its picture.
    QTest::newRow("mp3 from mkv with short audio") << "coder" << "shortaudio.mkv";
    QTest::newRow("avi from mkv with short audio") << "conv" << "shortaudio.mkv";
    // A name whose output name is close to the file system's limit of 255 bytes.
    QTest::newRow("long chinese name") << "coder" << QString(78, QChar(0x7247)) + ".m4a";
  }

  void unusualButWholeSources() {
    QFETCH(QString, tool);
    QFETCH(QString, source);
    const QString src = path(source);
    if (!QFileInfo::exists(src)) {
      if (source.endsWith(".mkv"))
        QVERIFY(enc::makeClip(src, {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=4", "-f", "lavfi", "-i",
                                    "sine=duration=2", "-c:v", "libx264", "-c:a", "aac"}));
      else
        QVERIFY(QFile::copy(tone_, src));
    }
    const QString out = path(QStringLiteral("fine%1/out").arg(++case_));
    const QString work = path(QStringLiteral("fine%1/work").arg(case_));
    QVERIFY(QDir().mkpath(out) && QDir().mkpath(work));
    const enc::Run run = enc::runTool(commandFor(tool, src, out, work));
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const QStringList files = enc::folderEntries(out);
    QCOMPARE(files.size(), 1);
    QVERIFY(enc::probe(out + "/" + files[0]).ok);
  }

  // Two recordings joined end to end: the clock starts again and the sound
  // goes from stereo at 44.1 kHz to mono at 22.05 kHz halfway. All of it
  // converts, as ffmpeg converts it.
  void joinedRecording_data() {
    QTest::addColumn<QString>("tool");
    QTest::newRow("avi") << "conv";
    QTest::newRow("mp3") << "coder";
  }

  void joinedRecording() {
    QFETCH(QString, tool);
    const QString joined = path(QStringLiteral("joined.ts"));
    if (!QFileInfo::exists(joined)) {
      QByteArray bytes;
      for (const char* sound : {"sample_rate=44100", "sample_rate=22050"}) {
        const QString part = path(QStringLiteral("part.ts"));
        QVERIFY(enc::makeClip(part, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-f", "lavfi",
                                     "-i", QStringLiteral("sine=duration=2:") + sound, "-ac",
                                     bytes.isEmpty() ? "2" : "1", "-c:v", "libx264", "-c:a", "aac", "-f", "mpegts"}));
        QFile f(part);
        QVERIFY(f.open(QIODevice::ReadOnly));
        bytes += f.readAll();
      }
      QVERIFY(enc::writeFile(joined, bytes));
    }
    const QString out = path(QStringLiteral("joined%1/out").arg(++case_));
    const QString work = path(QStringLiteral("joined%1/work").arg(case_));
    QVERIFY(QDir().mkpath(out) && QDir().mkpath(work));
    const enc::Run run = enc::runTool(commandFor(tool, joined, out, work));
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const enc::Probe got = enc::probe(out + QLatin1Char('/') + enc::folderEntries(out).value(0));
    QVERIFY2(qAbs(got.duration - 4) < 0.3, qPrintable(QString::number(got.duration)));
  }

  // A phone stores portrait video on its side with a display matrix; the
  // output holds the picture upright, as ffmpeg shows the source.
  void sidewaysPhoneClip() {
    const QString stored = path(QStringLiteral("stored.mp4")), sideways = path(QStringLiteral("sideways.mp4"));
    QVERIFY(enc::makeClip(stored, {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=2", "-f", "lavfi",
                                   "-i", "sine=duration=2", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"}));
    QVERIFY(enc::makeClip(sideways, {"-i", stored, "-c", "copy"}));
    QVERIFY(turnFirstTrack(sideways));
    const QString out = path(QStringLiteral("side/out")), work = path(QStringLiteral("side/work"));
    QVERIFY(QDir().mkpath(out) && QDir().mkpath(work));
    const enc::Run run = enc::runTool(commandFor(QStringLiteral("conv"), sideways, out, work));
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const QString result = out + QLatin1Char('/') + enc::folderEntries(out).value(0);
    QCOMPARE(enc::probe(result).size, QSize(180, 320));
    // Picture first, though the sound decodes first.
    QProcess order;
    order.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0", result});
    QVERIFY(order.waitForFinished(30000));
    QCOMPARE(order.readAllStandardOutput().replace(",", "").simplified(), QByteArray("video audio"));
    QProcess compare;
    compare.start(QStringLiteral("ffmpeg"), {"-nostdin", "-i", result, "-i", sideways, "-lavfi",
                                              "[0:v]scale=180:320[a];[1:v]scale=180:320[b];[a][b]psnr", "-f", "null", "-"});
    QVERIFY(compare.waitForFinished(60000));
    const QByteArray log = compare.readAllStandardError();
    const qsizetype at = log.indexOf("average:");
    QVERIFY2(at >= 0, log.right(300).constData());
    const double psnr = log.mid(at + 8, log.indexOf(' ', at + 8) - at - 8).toDouble();
    QVERIFY2(psnr > 20, qPrintable(QStringLiteral("PSNR against ffmpeg's upright picture: %1 dB").arg(psnr)));
  }

  // Non-zero exit, one clear last line, no output left, the source untouched.
  void badSource() {
    QFETCH(QString, tool);
    QFETCH(QString, source);
    QFETCH(QString, reason);
    QFETCH(QString, code);
    const QString src = path(source);
    const QByteArray before = enc::fileHash(src);
    const QString out = path(QStringLiteral("bad%1/out").arg(++case_));
    const QString work = path(QStringLiteral("bad%1/work").arg(case_));
    QVERIFY(QDir().mkpath(out) && QDir().mkpath(work));
    const enc::Run run = enc::runTool(commandFor(tool, src, out, work));
    QVERIFY2(run.exitCode != 0, qPrintable(run.output));
    const QString name = tool == QLatin1String("conv2") ? QStringLiteral("conv") : tool;
    QVERIFY2(run.lastLine.startsWith(name + QStringLiteral(": error: ")), qPrintable(run.output));
    QVERIFY2(run.lastLine.contains(reason), qPrintable(run.lastLine));
    QCOMPARE(run.reason, code);
    QCOMPARE(enc::folderEntries(out), QStringList());
    QCOMPARE(enc::folderEntries(work), QStringList());
    QCOMPARE(enc::fileHash(src), before);
  }

  void badCommandLine_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reason");
    const QString o = QStringLiteral("OUT");
    QTest::newRow("conv unknown option") << "conv" << QStringList{"SRC", "-oac", "mp3lame", "-ovc", "lavc", "-foo", "-o", o} << "unknown option -foo";
    QTest::newRow("conv unknown lavcopts key") << "conv" << QStringList{"SRC", "-oac", "lavc", "-ovc", "lavc", "-lavcopts", "vcodec=mpeg4:mbd=2", "-o", o} << "mbd";
    QTest::newRow("conv second pass") << "conv" << QStringList{"SRC", "-oac", "lavc", "-ovc", "lavc", "-lavcopts", "vcodec=mpeg4:vpass=2", "-o", o} << "vpass=2";
    QTest::newRow("conv -ovc copy") << "conv" << QStringList{"SRC", "-oac", "lavc", "-ovc", "copy", "-o", o} << "-ovc copy";
    QTest::newRow("conv -of mpeg") << "conv" << QStringList{"SRC", "-oac", "lavc", "-ovc", "lavc", "-of", "mpeg", "-o", o} << "-of mpeg";
    QTest::newRow("conv no -o") << "conv" << QStringList{"SRC", "-oac", "lavc", "-ovc", "lavc"} << "-o is missing";
    QTest::newRow("conv garbage bitrate") << "conv" << QStringList{"SRC", "-oac", "lavc", "-ovc", "lavc", "-lavcopts", "vbitrate=fast", "-o", o} << "vbitrate=fast";
    QTest::newRow("coder unknown option") << "coder" << QStringList{"-i", "SRC", "-y", "-vf", "scale=1:1", o} << "unknown option -vf";
    QTest::newRow("coder bad channels") << "coder" << QStringList{"-i", "SRC", "-y", "-ac", "two", o} << "-ac two";
    QTest::newRow("coder bad size") << "coder" << QStringList{"-i", "SRC", "-y", "-s", "big", o} << "-s big";
    QTest::newRow("coder unknown codec") << "coder" << QStringList{"-i", "SRC", "-y", "-vcodec", "vp9", o} << "vp9";
    QTest::newRow("coder missing value") << "coder" << QStringList{"-i", "SRC", "-y", o, "-ab"} << "-ab needs a value";
    QTest::newRow("coder two outputs") << "coder" << QStringList{"-i", "SRC", "-y", o, o} << "unexpected argument";
    QTest::newRow("coder2 unknown option") << "coder2" << QStringList{"-i", "SRC", "-y", "-preset", "fast", o} << "unknown option -preset";
    QTest::newRow("coder2 codec the container cannot hold") << "coder2" << QStringList{"-i", "SRC", "-y", "-vcodec", "rv10", o} << "cannot hold";
    QTest::newRow("coder output is the source") << "coder" << QStringList{"-i", "SRC", "-y", "SRC"} << "replace the source";
  }

  void badCommandLine() {
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    QFETCH(QString, reason);
    const QString out = path(QStringLiteral("cmd%1").arg(++case_));
    QVERIFY(QDir().mkpath(out));
    const QString src = path(QStringLiteral("cmd%1/source.mp4").arg(case_));
    QVERIFY(QFile::copy(av_, src));
    const QString existing = path(QStringLiteral("cmd%1/existing.3gp").arg(case_));
    QVERIFY(enc::writeFile(existing, "keep me"));
    const QString ext = tool == QLatin1String("coder2") ? QStringLiteral(".3gp") : QStringLiteral(".mp4");
    for (QString& a : args) {
      if (a == QLatin1String("SRC")) a = src;
      if (a == QLatin1String("OUT")) a = QDir(out).filePath(QStringLiteral("result") + ext);
      if (a == QLatin1String("EXISTING")) a = existing;
    }
    ToolCommand cmd;
    cmd.program = QDir(QStringLiteral(VANTREL_DATA_DIR)).filePath(tool);
    cmd.args = args;
    const QByteArray before = enc::fileHash(src);
    const enc::Run run = enc::runTool(cmd);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.lastLine.startsWith(tool + QStringLiteral(": error: ")), qPrintable(run.output));
    QCOMPARE(run.reason, QStringLiteral("usage"));
    QVERIFY2(run.lastLine.contains(reason), qPrintable(run.lastLine));
    QCOMPARE(enc::fileHash(src), before);
    QCOMPARE(enc::fileHash(existing), enc::fileHash(existing));
    QFile kept(existing);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("keep me"));
    QStringList left = enc::folderEntries(out);
    left.removeAll(QStringLiteral("source.mp4"));
    left.removeAll(QStringLiteral("existing.3gp"));
    QCOMPARE(left, QStringList());
  }

  // The tools' real output, chunk by chunk through the program's parsers:
  // the percentages rise and end at 100.
  void progressParses_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("secondStage");
    QTest::newRow("conv") << int(Formats::MP4HQ) << false;
    QTest::newRow("coder") << int(Formats::RMVB) << true;
    QTest::newRow("coder2") << int(Formats::GP3) << true;
    QTest::newRow("coder mp3") << int(Formats::MP3) << false;
  }

  void progressParses() {
    QFETCH(int, position);
    QFETCH(bool, secondStage);
    const QString out = path(QStringLiteral("progress%1").arg(++case_));
    const QString work = path(QStringLiteral("progress%1/work").arg(case_));
    QVERIFY(QDir().mkpath(work));
    const BuildContext ctx = enc::buildContext(work);
    const QString ext = CommandLines::outputExtension(position);
    const PanelValues v = panel(position);
    ToolCommand cmd = CommandLines::stageOne(v, longClip_, CommandLines::outputFileName(out, longClip_, QTime::currentTime(), ext), ctx);
    if (secondStage) {
      QCOMPARE(enc::runTool(cmd).exitCode, 0);
      cmd = CommandLines::stageTwo(v, CommandLines::outputFileName(out, longClip_, QTime::currentTime(), ext), ctx);
    }
    const enc::Run run = enc::runTool(cmd);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const bool stageOneParser = QByteArray(Formats::format(position)->stages[0].tool) == "conv" && !secondStage;
    Progress::State state;
    QList<Progress::View> views;
    for (const QString& chunk : run.chunks) {
      const auto view = stageOneParser ? Progress::stageOne(chunk, state) : Progress::stageTwo(chunk, state);
      if (view) views << *view;
    }
    QVERIFY2(views.size() >= 2, qPrintable(run.output));
    for (int i = 1; i < views.size(); ++i) QVERIFY2(views[i].value >= views[i - 1].value, qPrintable(run.output));
    QVERIFY2(views.first().value < 100, qPrintable(run.output));
    QCOMPARE(views.last().value, 100);
    QCOMPARE(views.last().caption, stageOneParser ? QStringLiteral("结束 100%") : QStringLiteral("完成 100%"));
    if (!stageOneParser) QCOMPARE(state.fileDuration, 30);
    // Only the final line reaches 100.
    for (int i = 0; i + 1 < views.size(); ++i) QVERIFY(views[i].value < 100);
  }

#ifdef Q_OS_UNIX
  // The program ends a run by SIGTERM to the tool's process group: the tool
  // and its FFmpeg children are gone at once and nothing is left behind.
  void stopByTerminate_data() {
    QTest::addColumn<QString>("tool");
    QTest::newRow("conv") << "conv";
    QTest::newRow("coder2") << "coder2";
  }

  void stopByTerminate() {
    QFETCH(QString, tool);
    const QString out = path(QStringLiteral("stop%1").arg(++case_));
    const QString work = path(QStringLiteral("stop%1/work").arg(case_));
    QVERIFY(QDir().mkpath(work));
    // A copy of its own: the FFmpeg children name it, not the output.
    const QString source = path(QStringLiteral("stop%1/source.mp4").arg(case_));
    QVERIFY(QFile::copy(longClip_, source));
    const ToolCommand cmd = commandFor(tool, source, out, work);
    DOSOutputs runner;
    QString output;
    QEventLoop running, ending;
    bool over = false;
    connect(&runner, &DOSOutputs::ReceiveOutputs, [&](const QString& c) {
      output += c;
      if (output.contains(QLatin1String("Pos:")) || output.contains(QLatin1String("frame="))) running.quit();
    });
    connect(&runner, &DOSOutputs::CommandOver, [&] {
      over = true;
      running.quit();
      ending.quit();
    });
    QVERIFY(runner.ExecuteCommand(cmd));
    QTimer::singleShot(30000, &running, &QEventLoop::quit);
    running.exec();
    QVERIFY2(!over, qPrintable(output));
    QElapsedTimer clock;
    clock.start();
    runner.terminate();
    QTimer::singleShot(10000, &ending, &QEventLoop::quit);
    if (!over) ending.exec();
    QVERIFY(over);
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(runner.exitCode() != 0 || runner.crashed());
    QVERIFY2(runner.lastLine().contains(QLatin1String("stopped")) || runner.lastLine().contains(QLatin1String("error")),
             qPrintable(runner.Outputs()));
    QCOMPARE(enc::folderEntries(out), (QStringList{QStringLiteral("source.mp4"), QStringLiteral("work")}));
    QCOMPARE(enc::folderEntries(work), QStringList());
#ifdef Q_OS_LINUX
    QCOMPARE(processesMentioning(QStringLiteral("stop%1/").arg(case_)), 0);
#endif
  }

  // A gap of most of an hour in the source's times (longer ones are closed)
  // is filled frame by frame at the output's steady rate, many frames from
  // one packet: a stop request (or
  // the parent's death, which the runner turns into SIGTERM) ends the tool
  // within a second there too.
  void stopInATimestampGap_data() {
    QTest::addColumn<QString>("tool");
    QTest::newRow("conv") << "conv";
    QTest::newRow("coder2") << "coder2";
  }

  void stopInATimestampGap() {
    QFETCH(QString, tool);
    const QString gap = path(QStringLiteral("gap.mkv"));
    if (!QFileInfo::exists(gap))
      QVERIFY(enc::makeClip(gap, {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2", "-vf",
                                  "setpts=PTS+gte(T\\,1)*3000/TB", "-c:v", "libx264", "-preset", "ultrafast",
                                  "-pix_fmt", "yuv420p"}));
    const QString out = path(QStringLiteral("gap%1").arg(++case_));
    const QString work = out + QStringLiteral("/work");
    QVERIFY(QDir().mkpath(work));
    DOSOutputs runner;
    QEventLoop ending;
    bool over = false;
    connect(&runner, &DOSOutputs::CommandOver, [&] {
      over = true;
      ending.quit();
    });
    QVERIFY(runner.ExecuteCommand(commandFor(tool, gap, out, work)));
    // The first second of frames is coded at once; then the gap.
    QTest::qWait(1500);
    QVERIFY2(!over, qPrintable(runner.Outputs()));
    QElapsedTimer clock;
    clock.start();
    runner.terminate();
    QTimer::singleShot(5000, &ending, &QEventLoop::quit);
    if (!over) ending.exec();
    QVERIFY(over);
    QVERIFY2(clock.elapsed() < 1200, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(enc::folderEntries(out), QStringList{QStringLiteral("work")});
  }
#endif
};

QTEST_GUILESS_MAIN(TestEncoderFailures)
#include "test_encoder_failures.moc"
