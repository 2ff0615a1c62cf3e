// Sources written by other programs' muxers (GStreamer, mkvmerge, x264, sox),
// not by ffmpeg: the layouts real files come in, each converted the way the
// program runs the tools and the result read back with ffprobe and ffmpeg.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <cmath>

#include "encoders_support.h"
#include "settings/core/formats.h"

namespace {

using enc::panel;

// Runs a program to its end; its standard output, or nothing when it failed.
QByteArray runProgram(const QString& program, const QStringList& args, bool* ok = nullptr, int timeoutMs = 60000) {
  QProcess p;
  p.setProcessChannelMode(QProcess::SeparateChannels);
  p.start(program, args);
  const bool done = p.waitForStarted() && p.waitForFinished(timeoutMs);
  if (!done) p.kill(), p.waitForFinished();
  const bool good = done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (ok) *ok = good;
  if (!good) qWarning("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
  return p.readAllStandardOutput();
}

// A GStreamer pipeline written as gst-launch takes it.
bool gst(const QString& pipeline) {
  bool ok = false;
  runProgram(QStringLiteral("gst-launch-1.0"), QStringList{QStringLiteral("-q")} + QProcess::splitCommand(pipeline), &ok);
  return ok;
}

bool haveElements(const QStringList& names) {
  for (const QString& n : names) {
    bool ok = false;
    QProcess p;
    p.start(QStringLiteral("gst-inspect-1.0"), {n});
    ok = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok) return false;
  }
  return true;
}

// Little-endian and big-endian 32-bit fields of a file's bytes.
quint32 be32(const QByteArray& d, qsizetype at) {
  return quint32(quint8(d[at])) << 24 | quint32(quint8(d[at + 1])) << 16 | quint32(quint8(d[at + 2])) << 8 |
         quint32(quint8(d[at + 3]));
}
void putBe32(QByteArray& d, qsizetype at, quint32 v) {
  for (int b = 0; b < 4; ++b) d[at + b] = char(v >> (24 - 8 * b) & 0xFF);
}
void putLe32(QByteArray& d, qsizetype at, quint32 v) {
  for (int b = 0; b < 4; ++b) d[at + b] = char(v >> (8 * b) & 0xFF);
}

// Trims an MP4 as a phone's editor does: every track's edit list shows
// `length` seconds from `start` on; the samples all stay. False when the
// boxes are not laid out as expected (version 0 headers, one edit each).
bool trimMp4(const QString& from, const QString& to, double start, double length) {
  QFile f(from);
  if (!f.open(QIODevice::ReadOnly)) return false;
  QByteArray d = f.readAll();
  const qsizetype mvhd = d.indexOf("mvhd");
  if (mvhd < 4 || d[mvhd + 4] != 0) return false;
  const quint32 movieScale = be32(d, mvhd + 16);
  putBe32(d, mvhd + 20, quint32(length * movieScale));
  int tracks = 0;
  for (qsizetype trak = d.indexOf("trak"); trak >= 0; trak = d.indexOf("trak", trak + 4)) {
    const qsizetype tkhd = d.indexOf("tkhd", trak), elst = d.indexOf("elst", trak), mdhd = d.indexOf("mdhd", trak);
    if (tkhd < 0 || elst < 0 || mdhd < 0 || d[tkhd + 4] != 0 || d[elst + 4] != 0 || d[mdhd + 4] != 0 ||
        be32(d, elst + 8) != 1)
      return false;
    putBe32(d, tkhd + 24, quint32(length * movieScale));
    putBe32(d, elst + 12, quint32(length * movieScale));
    putBe32(d, elst + 16, quint32(start * be32(d, mdhd + 16)));
    ++tracks;
  }
  return tracks == 2 && enc::writeFile(to, d);
}

// The stream times of a file's packets of one kind ("video" or "audio"), in
// file order.
QList<double> packetTimes(const QString& path, const QString& kind) {
  const QByteArray out = runProgram(QStringLiteral("ffprobe"),
                                    {"-v", "error", "-select_streams", kind == QLatin1String("video") ? "v:0" : "a:0",
                                     "-show_entries", "packet=pts_time", "-of", "csv=p=0", path});
  QList<double> times;
  for (const QByteArray& line : out.split('\n')) {
    bool ok = false;
    const double t = line.trimmed().toDouble(&ok);
    if (ok) times << t;
  }
  return times;
}

// The sound of `path` from `from` seconds on, for `length` seconds, as mono
// 16-bit samples at 8 kHz.
QVector<qint16> samples(const QString& path, double from, double length) {
  const QByteArray raw = runProgram(QStringLiteral("ffmpeg"),
                                    {"-nostdin", "-v", "error", "-ss", QString::number(from), "-i", path, "-t",
                                     QString::number(length), "-vn", "-ac", "1", "-ar", "8000", "-f", "s16le", "-"});
  QVector<qint16> s(raw.size() / 2);
  std::memcpy(s.data(), raw.constData(), size_t(s.size()) * 2);
  return s;
}

// The pitch of a steady tone at 8 kHz, counted by its rising zero crossings.
double pitch(const QVector<qint16>& s) {
  int rising = 0;
  for (qsizetype i = 1; i < s.size(); ++i)
    if (s[i - 1] < 0 && s[i] >= 0) ++rising;
  return s.isEmpty() ? 0 : rising * 8000.0 / double(s.size());
}

}  // namespace

class TestEncoderSources : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  int case_ = 0;
  QString video_;  // the picture part of the pipelines: 160x120 at 25 frames a second

  QString path(const QString& name) const { return dir_.filePath(name); }

  struct Outcome {
    enc::Run stage;  // the last stage that ran
    QString output;  // the file made, when it was
    qint64 ms = 0;
  };

  // Converts `source` to `position` as the program does, one or two stages.
  Outcome convert(int position, const QString& source, int timeoutMs = 60000) {
    const QString work = path(QStringLiteral("work%1").arg(++case_));
    const QString out = path(QStringLiteral("out%1").arg(case_));
    QDir().mkpath(work);
    QDir().mkpath(out);
    const BuildContext ctx = enc::buildContext(work);
    const PanelValues values = panel(position);
    const QString ext = CommandLines::outputExtension(position);
    const bool twoStage = Formats::format(position)->stageCount == 2;
    const QString target = CommandLines::outputFileName(out, source, QTime::currentTime(), ext);
    Outcome o;
    QElapsedTimer clock;
    clock.start();
    o.stage = enc::runTool(CommandLines::stageOne(values, source, twoStage ? QString() : target, ctx), timeoutMs);
    if (twoStage && o.stage.exitCode == 0) o.stage = enc::runTool(CommandLines::stageTwo(values, target, ctx), timeoutMs);
    o.ms = clock.elapsed();
    if (o.stage.exitCode == 0 && QFileInfo::exists(target)) o.output = target;
    return o;
  }

  static QString said(const Outcome& o) { return o.stage.output.right(1500); }

  // The sources of realSources(), made once each; empty when this machine
  // lacks what makes one.
  QString made(const QString& kind) {
    const QString dir = path(kind);
    if (QDir().exists(dir)) return QFileInfo::exists(dir + "/src") ? dir + "/src" : QString();
    QDir().mkpath(dir);
    QString src;
    bool ok = false;
    if (kind == QLatin1String("still")) {
      // A song with its cover: one H.264 picture and 4 s of Vorbis, joined by
      // mkvmerge, which gives the picture track the whole segment's length.
      if (!haveElements({"y4menc", "vorbisenc", "oggmux"})) return {};
      ok = gst(QStringLiteral("videotestsrc num-buffers=1 ! video/x-raw,width=160,height=120,framerate=25/1 ! y4menc ! "
                              "filesink location=%1/one.y4m").arg(dir)) &&
           gst(QStringLiteral("audiotestsrc num-buffers=172 samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=2 ! "
                              "audioconvert ! vorbisenc ! oggmux ! filesink location=%1/song.ogg").arg(dir));
      if (ok) runProgram(QStringLiteral("x264"), {"--quiet", "--frames", "1", "-o", dir + "/one.h264", dir + "/one.y4m"}, &ok);
      if (ok) runProgram(QStringLiteral("mkvmerge"), {"-q", "-o", dir + "/src.mkv", dir + "/one.h264", dir + "/song.ogg"}, &ok);
      src = dir + "/src.mkv";
    }
    if (kind == QLatin1String("far")) {
      // ASF from GStreamer whose video is stamped 1000 h after its sound.
      if (!haveElements({"asfmux", "avenc_wmv2", "avenc_wmav2"})) return {};
      src = dir + "/src.wmv";
      ok = gst(QStringLiteral("asfmux name=m ! filesink location=%1 videotestsrc num-buffers=75 pattern=ball "
                              "timestamp-offset=3600000000000000 ! video/x-raw,width=160,height=120,framerate=25/1 ! "
                              "avenc_wmv2 ! m. audiotestsrc num-buffers=130 samplesperbuffer=1024 ! "
                              "audio/x-raw,rate=44100,channels=2 ! avenc_wmav2 ! m.").arg(src));
    }
    if (!ok || !QFile::rename(src, dir + "/src")) return {};
    return dir + "/src";
  }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    for (const char* program : {"gst-launch-1.0", "gst-inspect-1.0", "mkvmerge", "x264", "sox"})
      if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
        QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(program))));
    if (!haveElements({"videotestsrc", "audiotestsrc", "x264enc", "h264parse", "lamemp3enc", "mpegaudioparse"}))
      QSKIP("GStreamer's test sources, x264enc or lamemp3enc are missing");
    video_ = QStringLiteral("videotestsrc pattern=ball num-buffers=%1 ! video/x-raw,width=160,height=120,framerate=25/1 "
                            "! x264enc speed-preset=ultrafast key-int-max=25 ! h264parse");
  }

  // Real sources other programs write, each through the formats where it
  // used to fail: the conversion succeeds, the output lasts `seconds`, and
  // each stream's packets span nearly that where they carry times.
  void realSources_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("position");
    QTest::addColumn<double>("seconds");
    // One picture over a song: a still shown until the sound ends.
    for (const int position : {Formats::RMVB, Formats::RM, Formats::MPG, Formats::AVI, Formats::MP4HQ, Formats::MOV,
                               Formats::MP4Phone, Formats::GP3})
      QTest::addRow("still picture with sound, format %d", position) << QStringLiteral("still") << position << 4.0;
    // A picture stream that starts 1000 h after its sound: the 3 s it holds.
    for (const int position : {Formats::RMVB, Formats::MPG, Formats::AVI, Formats::MP4HQ, Formats::MOV, Formats::GP3})
      QTest::addRow("stream starting far from the others, format %d", position) << QStringLiteral("far") << position << 3.0;
  }
  void realSources() {
    QFETCH(QString, kind);
    QFETCH(int, position);
    QFETCH(double, seconds);
    const QString src = made(kind);
    if (src.isEmpty()) QSKIP("this machine cannot make the source");
    const Outcome o = convert(position, src);
    QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
    const double length = enc::probe(o.output).duration;
    QVERIFY2(std::abs(length - seconds) < 0.5, qPrintable(QStringLiteral("%1 s").arg(length)));
    for (const QString& stream : {QStringLiteral("video"), QStringLiteral("audio")}) {
      const QList<double> times = packetTimes(o.output, stream);  // none where AVI keeps no times
      if (times.isEmpty()) continue;
      const auto [first, last] = std::minmax_element(times.begin(), times.end());
      QVERIFY2(*last - *first > seconds - 1.0,
               qPrintable(QStringLiteral("the %1 runs from %2 s to %3 s").arg(stream).arg(*first).arg(*last)));
    }
  }

  // 2 s of picture beside 5 s of sound: the whole sound is written, the
  // picture is not called cut.
  void shortVideoLongSound() {
    if (!haveElements({"matroskamux"})) QSKIP("matroskamux is missing");
    const QString src = path(QStringLiteral("short-video.mkv"));
    QVERIFY(gst(QStringLiteral("matroskamux name=m ! filesink location=%1 %2 ! m. audiotestsrc num-buffers=215 "
                               "samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=1 ! lamemp3enc ! mpegaudioparse ! m.")
                    .arg(src, video_.arg(50))));
    const Outcome o = convert(Formats::MP4HQ, src);
    QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
    const enc::Probe got = enc::probe(o.output);
    QVERIFY(!got.videoCodec.isEmpty() && !got.audioCodec.isEmpty());
    QVERIFY2(std::abs(got.duration - 5.0) < 0.4, qPrintable(QString::number(got.duration)));
  }

  // An MP4 whose edit lists show 2 s of the 3 s it stores: the shown length
  // is the whole, both on a road with a picture and on the sound's road.
  void editListedMp4() {
    if (!haveElements({"mp4mux"})) QSKIP("mp4mux is missing");
    const QString plain = path(QStringLiteral("plain.mp4")), src = path(QStringLiteral("trimmed.mp4"));
    QVERIFY(gst(QStringLiteral("mp4mux name=m ! filesink location=%1 %2 ! m. audiotestsrc num-buffers=130 "
                               "samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=1 ! lamemp3enc ! mpegaudioparse ! m.")
                    .arg(plain, video_.arg(75))));
    if (!trimMp4(plain, src, 0.5, 2.0)) QSKIP("this mp4mux lays out its boxes differently");
    for (const int position : {int(Formats::MP4HQ), int(Formats::MP3)}) {
      const Outcome o = convert(position, src);
      QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
      const double length = enc::probe(o.output).duration;
      QVERIFY2(length > 1.6 && length < 2.5, qPrintable(QString::number(length)));
    }
  }

  // An old camera's AVI, MJPEG with 8-bit mono sound at 11,025 Hz, to a
  // format made in two stages.
  void lowRateSoundTwoStages_data() {
    QTest::addColumn<int>("rate");
    QTest::newRow("11025 Hz") << 11025;
    // 160 kbit/s MP3 at 16 kHz in the AVI work file: timed by its bytes, each
    // frame would count twice.
    QTest::newRow("16000 Hz") << 16000;
  }
  void lowRateSoundTwoStages() {
    QFETCH(int, rate);
    if (!haveElements({"avimux", "jpegenc"})) QSKIP("avimux or jpegenc is missing");
    const QString src = path(QStringLiteral("camera%1.avi").arg(rate));
    QVERIFY(gst(QStringLiteral("avimux name=m ! filesink location=%1 videotestsrc num-buffers=50 ! "
                               "video/x-raw,width=160,height=120,framerate=25/1 ! jpegenc ! m. audiotestsrc num-buffers=%2 "
                               "samplesperbuffer=1024 ! audio/x-raw,rate=%3,channels=1,format=U8 ! m.")
                    .arg(src).arg(2 * rate / 1024).arg(rate)));
    for (const int position : {int(Formats::GP3), int(Formats::MOV)}) {
      const Outcome o = convert(position, src);
      QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
      const enc::Probe got = enc::probe(o.output);
      if (position == Formats::GP3) QCOMPARE(got.audioCodec, QStringLiteral("amr_nb"));
      QVERIFY2(std::abs(got.duration - 2.0) < 0.4, qPrintable(QString::number(got.duration)));
    }
  }

  // A commentary first, not marked default, and the main sound second,
  // marked default: the output carries the main sound (1000 Hz, not 300 Hz).
  void defaultTrackChosen() {
    const QString comment = path(QStringLiteral("comment.wav")), main = path(QStringLiteral("main.wav"));
    const QString src = path(QStringLiteral("two-tracks.mkv"));
    bool ok = false;
    runProgram(QStringLiteral("sox"), {"-n", "-r", "44100", "-b", "16", "-c", "1", comment, "synth", "2", "sine", "300"}, &ok);
    QVERIFY(ok);
    runProgram(QStringLiteral("sox"), {"-n", "-r", "44100", "-b", "16", "-c", "1", main, "synth", "2", "sine", "1000"}, &ok);
    QVERIFY(ok);
    runProgram(QStringLiteral("mkvmerge"), {"-q", "-o", src, "--default-track", "0:no", "--track-name", "0:commentary",
                                            comment, "--default-track", "0:yes", main}, &ok);
    QVERIFY(ok);
    const Outcome o = convert(Formats::MP3, src);
    QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
    const double heard = pitch(samples(o.output, 0.5, 1.0));
    QVERIFY2(std::abs(heard - 1000) < 50, qPrintable(QString::number(heard)));
  }

  // An MPG from a GStreamer file: its sound is not far ahead of its picture in
  // the multiplex, and a seek to 1 s finds sound.
  void mpgInterleavedAndSeekable() {
    if (!haveElements({"matroskamux"})) QSKIP("matroskamux is missing");
    const QString src = path(QStringLiteral("av.mkv"));
    // A busy picture: the stream needs what its bit rate allows.
    QVERIFY(gst(QStringLiteral("matroskamux name=m ! filesink location=%1 videotestsrc pattern=snow num-buffers=100 ! "
                               "video/x-raw,width=352,height=288,framerate=25/1 ! x264enc speed-preset=ultrafast "
                               "key-int-max=25 ! h264parse ! m. audiotestsrc num-buffers=173 samplesperbuffer=1024 ! "
                               "audio/x-raw,rate=44100,channels=1 ! lamemp3enc ! mpegaudioparse ! m.")
                    .arg(src)));
    const Outcome o = convert(Formats::MPG, src);
    QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
    // How far the sound runs ahead of the picture written before it.
    const QByteArray rows = runProgram(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries",
                                                                   "packet=codec_type,pts_time", "-of", "csv=p=0", o.output});
    double video = -1, lead = 0;
    int audioPackets = 0;
    for (const QByteArray& row : rows.split('\n')) {
      const QList<QByteArray> f = row.trimmed().split(',');
      bool ok = false;
      const double t = f.size() >= 2 ? f[1].toDouble(&ok) : 0;
      if (!ok) continue;
      if (f[0] == "video") video = std::max(video, t);
      else if (f[0] == "audio" && video >= 0) lead = std::max(lead, t - video), ++audioPackets;
    }
    QVERIFY(audioPackets > 0);
    QVERIFY2(lead < 1.0, qPrintable(QStringLiteral("the sound runs %1 s ahead").arg(lead)));
    const QVector<qint16> after = samples(o.output, 1.0, 1.0);
    QVERIFY2(after.size() > 8000 * 8 / 10, qPrintable(QString::number(after.size())));
  }

  // A picture that starts 1 s after the sound keeps its place in RM.
  void lateVideoInStepInRm() {
    if (!haveElements({"matroskamux"})) QSKIP("matroskamux is missing");
    const QString picture = path(QStringLiteral("picture.mkv")), sound = path(QStringLiteral("sound.wav"));
    const QString src = path(QStringLiteral("late-video.mkv"));
    QVERIFY(gst(QStringLiteral("matroskamux name=m ! filesink location=%1 %2 ! m.").arg(picture, video_.arg(50))));
    bool ok = false;
    runProgram(QStringLiteral("sox"), {"-n", "-r", "44100", "-b", "16", "-c", "1", sound, "synth", "3", "sine", "440"}, &ok);
    QVERIFY(ok);
    runProgram(QStringLiteral("mkvmerge"), {"-q", "-o", src, "--sync", "0:1000", picture, sound}, &ok);
    QVERIFY(ok);
    const Outcome o = convert(Formats::RM, src);
    QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
    const QList<double> v = packetTimes(o.output, QStringLiteral("video")), a = packetTimes(o.output, QStringLiteral("audio"));
    QVERIFY(!v.isEmpty() && !a.isEmpty());
    // The picture ends with the sound, 3 s in, whether its first second is
    // held or left empty: moved to the start, it would end at 2 s.
    const double pictureEnd = *std::max_element(v.begin(), v.end()), soundEnd = *std::max_element(a.begin(), a.end());
    QVERIFY2(std::abs(pictureEnd - 3.0) < 0.3 && std::abs(soundEnd - 3.0) < 0.3,
             qPrintable(QStringLiteral("the picture ends at %1 s, the sound at %2 s").arg(pictureEnd).arg(soundEnd)));
  }

  // Sound that starts 1 s after the picture, through the AVI work file: led
  // in with silence, so that it stays in step and the file holds what it
  // promises (the work file used to be called cut).
  void lateSoundInStep() {
    if (!haveElements({"matroskamux"})) QSKIP("matroskamux is missing");
    const QString picture = path(QStringLiteral("picture3.mkv")), sound = path(QStringLiteral("sound3.wav"));
    const QString src = path(QStringLiteral("late-sound.mkv"));
    QVERIFY(gst(QStringLiteral("matroskamux name=m ! filesink location=%1 %2 ! m.").arg(picture, video_.arg(75))));
    bool ok = false;
    runProgram(QStringLiteral("sox"), {"-n", "-r", "44100", "-b", "16", "-c", "1", sound, "synth", "2", "sine", "440"}, &ok);
    QVERIFY(ok);
    runProgram(QStringLiteral("mkvmerge"), {"-q", "-o", src, picture, "--sync", "0:1000", sound}, &ok);
    QVERIFY(ok);
    const Outcome o = convert(Formats::MOV, src);
    QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
    const QVector<qint16> lead = samples(o.output, 0.1, 0.7);
    QVERIFY(!lead.isEmpty());
    QVERIFY2(*std::max_element(lead.begin(), lead.end()) < 300, "the sound plays before its time");
    QVERIFY2(std::abs(pitch(samples(o.output, 1.3, 1.0)) - 440) < 15, "no tone after the first second");
  }

  // GStreamer's FLV stamps every Speex packet with one time near the end:
  // those times give no start to lead in from, and the sound plays from the
  // start as its samples run.
  void soundStampedAlikeNotLedIn() {
    if (!haveElements({"flvmux", "speexenc"})) QSKIP("flvmux or speexenc is missing");
    const QString src = path(QStringLiteral("speex.flv"));
    QVERIFY(gst(QStringLiteral("flvmux name=m ! filesink location=%1 %2 ! m. audiotestsrc num-buffers=47 "
                               "samplesperbuffer=1024 ! audio/x-raw,rate=16000,channels=1 ! speexenc ! m.")
                    .arg(src, video_.arg(75))));
    for (const int position : {int(Formats::AVI), int(Formats::MOV)}) {
      const Outcome o = convert(position, src);
      QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
      QVERIFY2(enc::probe(o.output).duration < 3.6, qPrintable(QString::number(enc::probe(o.output).duration)));
      QVERIFY2(std::abs(pitch(samples(o.output, 0.5, 1.0)) - 440) < 15, "silence where the sound plays");
    }
  }

  // One picture over 3 s of music: its only frame has no length of its own
  // in the work file, and is no shortfall.
  void stillPictureOverMusic() {
    if (!haveElements({"matroskamux", "jpegenc"})) QSKIP("matroskamux or jpegenc is missing");
    const QString src = path(QStringLiteral("still.mkv"));
    QVERIFY(gst(QStringLiteral("matroskamux name=m ! filesink location=%1 videotestsrc num-buffers=1 ! "
                               "video/x-raw,width=160,height=120,framerate=1/1 ! jpegenc ! m. audiotestsrc "
                               "num-buffers=130 samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=1 ! lamemp3enc ! "
                               "mpegaudioparse ! m.").arg(src)));
    for (const int position : {int(Formats::RMVB), int(Formats::GP3)}) {
      const Outcome o = convert(position, src);
      QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
    }
  }

  // Three slides 3 s apart whose muxer gave each a nominal 20 ms: the last
  // one is kept for its 3 s, also where the container keeps no lengths (RM),
  // and each slide's bits fit the RealVideo buffer.
  void slowSlides() {
    if (!haveElements({"mp4mux"})) QSKIP("mp4mux is missing");
    const QString src = path(QStringLiteral("slides.mp4"));
    QVERIFY(gst(QStringLiteral("videotestsrc pattern=ball num-buffers=3 ! video/x-raw,width=160,height=120,framerate=1/3 ! "
                               "x264enc speed-preset=ultrafast ! h264parse ! mp4mux ! filesink location=%1").arg(src)));
    for (const int position : {int(Formats::MP4HQ), int(Formats::AVI), int(Formats::RM)}) {
      const Outcome o = convert(position, src);
      QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
      const QList<double> times = packetTimes(o.output, QStringLiteral("video"));  // none where AVI keeps no times
      const double duration = enc::probe(o.output).duration;
      QVERIFY2(duration > 8.5 && (times.isEmpty() || *std::max_element(times.begin(), times.end()) > 5.9),
               qPrintable(QStringLiteral("format %1: the last slide is lost (%2 s)").arg(position).arg(duration)));
    }
    // With music, through the AVI work file: the MP3 encoder's start before
    // zero does not move the second slide on by a whole slide.
    if (!haveElements({"avimux", "jpegenc"})) QSKIP("avimux or jpegenc is missing");
    const QString withMusic = path(QStringLiteral("slides.avi"));
    QVERIFY(gst(QStringLiteral("avimux name=m ! filesink location=%1 videotestsrc num-buffers=2 ! video/x-raw,width=160,"
                               "height=120,framerate=1/3 ! jpegenc ! m. audiotestsrc num-buffers=282 ! audio/x-raw,rate=48000 ! "
                               "lamemp3enc ! mpegaudioparse ! m.").arg(withMusic)));
    const Outcome o = convert(Formats::MOV, withMusic);
    QVERIFY2(!o.output.isEmpty(), qPrintable(said(o)));
    const QList<double> times = packetTimes(o.output, QStringLiteral("video"));
    QVERIFY(!times.isEmpty());
    QVERIFY2(*std::max_element(times.begin(), times.end()) < 4, "the second slide comes at 6 s, not 3 s");
  }

  // Two frames 10 hours apart in an MKV of a few kilobytes: refused or made
  // short at once, never hours of repeated pictures. The raw H.264 they came
  // from converts as it is.
  void clockLeapClosed() {
    if (!haveElements({"y4menc"})) QSKIP("y4menc is missing");
    const QString y4m = path(QStringLiteral("two.y4m")), h264 = path(QStringLiteral("two.264"));
    const QString stamps = path(QStringLiteral("stamps.txt")), src = path(QStringLiteral("leap.mkv"));
    QVERIFY(gst(QStringLiteral("videotestsrc num-buffers=2 ! video/x-raw,width=160,height=120,framerate=25/1 ! y4menc ! "
                               "filesink location=%1").arg(y4m)));
    bool ok = false;
    runProgram(QStringLiteral("x264"), {"--quiet", "--preset", "ultrafast", "-o", h264, y4m}, &ok);
    QVERIFY(ok);
    QVERIFY(enc::writeFile(stamps, "# timestamp format v2\n0\n36000000\n"));
    runProgram(QStringLiteral("mkvmerge"), {"-q", "-o", src, "--timestamps", "0:" + stamps, h264}, &ok);
    QVERIFY(ok);
    // The raw stream itself carries no times at all: its frames follow one
    // another from the start.
    const Outcome raw = convert(Formats::MP4HQ, h264);
    QVERIFY2(!raw.output.isEmpty(), qPrintable(said(raw)));
    QCOMPARE(packetTimes(raw.output, QStringLiteral("video")).size(), 2);
    for (const int position : {int(Formats::MPG), int(Formats::MP4HQ)}) {
      const Outcome o = convert(position, src, 30000);
      QVERIFY2(!o.stage.timedOut && !o.stage.crashed, qPrintable(said(o)));
      QVERIFY2(o.ms < 20000, qPrintable(QStringLiteral("%1 ms").arg(o.ms)));
      if (o.output.isEmpty()) continue;  // a clear refusal will do
      QVERIFY2(QFileInfo(o.output).size() < 20 * 1024 * 1024, qPrintable(QString::number(QFileInfo(o.output).size())));
      QVERIFY2(enc::probe(o.output).duration < 60, qPrintable(QString::number(enc::probe(o.output).duration)));
    }
  }

  // Sources cut off: an FLV cut in half to MP3, and WAVs whose header
  // promises more than their file holds. Whole files of the same kind, also
  // WAVs written as a stream whose sizes were never filled in, convert. A WAV
  // is told first that it has no picture for a video format, cut or not.
  void cutSourcesIncomplete() {
    if (!haveElements({"flvmux"})) QSKIP("flvmux is missing");
    const QString whole = path(QStringLiteral("whole.flv")), cut = path(QStringLiteral("cut.flv"));
    QVERIFY(gst(QStringLiteral("flvmux name=m ! filesink location=%1 %2 ! m. audiotestsrc num-buffers=87 "
                               "samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=1 ! lamemp3enc ! mpegaudioparse ! m.")
                    .arg(whole, video_.arg(50))));
    QFile flv(whole);
    QVERIFY(flv.open(QIODevice::ReadOnly));
    QVERIFY(enc::writeFile(cut, flv.readAll().left(flv.size() / 2)));

    const QString wav = path(QStringLiteral("tone.wav"));
    bool ok = false;
    runProgram(QStringLiteral("sox"), {"-n", "-r", "22050", "-b", "16", "-c", "1", wav, "synth", "1", "sine", "440"}, &ok);
    QVERIFY(ok);
    QFile wavFile(wav);
    QVERIFY(wavFile.open(QIODevice::ReadOnly));
    const QByteArray tone = wavFile.readAll();
    const qsizetype data = tone.indexOf("data");
    QVERIFY(data > 0);
    // The header of 10 hours, of 2 s, and of a size left open.
    for (const auto& [name, size] : {std::pair{"liar.wav", quint32(22050u * 2 * 36000)}, std::pair{"twice.wav", quint32(22050u * 2 * 2)},
                                     std::pair{"stream.wav", 0xFFFFFFFFu}}) {
      QByteArray bytes = tone;
      putLe32(bytes, data + 4, size);
      if (size != 0xFFFFFFFFu) putLe32(bytes, 4, quint32(size + data + 8 - 8));
      QVERIFY(enc::writeFile(path(QString::fromLatin1(name)), bytes));
    }
    // sox into a pipe cannot go back: both sizes and the sample count of its
    // fact chunk keep a placeholder of almost 2 GiB.
    const QByteArray piped = runProgram(QStringLiteral("sox"), {"-n", "-r", "44100", "-c", "2", "-t", "wav", "-", "synth", "3", "sine", "440"}, &ok);
    QVERIFY(ok && enc::writeFile(path(QStringLiteral("pipe.wav")), piped));

    for (const QString& name : {QStringLiteral("cut.flv"), QStringLiteral("liar.wav"), QStringLiteral("twice.wav")}) {
      const Outcome o = convert(Formats::MP3, path(name), 30000);
      QVERIFY2(o.output.isEmpty() && o.stage.reason == QLatin1String("source-incomplete"),
               qPrintable(name + QStringLiteral(": ") + said(o)));
    }
    for (const auto& [name, seconds] : {std::pair{"whole.flv", 2.0}, std::pair{"tone.wav", 1.0}, std::pair{"stream.wav", 1.0},
                                        std::pair{"pipe.wav", 3.0}}) {
      const Outcome o = convert(Formats::MP3, path(QString::fromLatin1(name)), 30000);
      QVERIFY2(!o.output.isEmpty(), qPrintable(QString::fromLatin1(name) + QStringLiteral(": ") + said(o)));
      const double got = enc::probe(o.output).duration;
      QVERIFY2(std::abs(got - seconds) < 0.2, qPrintable(QStringLiteral("%1: %2 s").arg(QLatin1String(name)).arg(got)));
    }
    for (const QString& name : {QStringLiteral("pipe.wav"), QStringLiteral("liar.wav")}) {
      const Outcome o = convert(Formats::MP4HQ, path(name), 30000);
      QVERIFY2(o.output.isEmpty() && o.stage.reason == QLatin1String("needs-video"),
               qPrintable(name + QStringLiteral(": ") + said(o)));
    }
  }
};

QTEST_GUILESS_MAIN(TestEncoderSources)
#include "test_encoder_sources.moc"
