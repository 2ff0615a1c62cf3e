// Every output format with its preset, and every entry of every parameter
// box varied one at a time, through the real command-line builders and the
// built tools; each result is checked with ffprobe.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

#include "encoders_support.h"
#include "settings/core/formats.h"

namespace {

struct Expected {
  QString format;  // ffprobe format_name, or a brand check for the MP4 family
  QString brand;   // major brand prefix; empty: not checked
  QString video, audio;
};

Expected expectedFor(int position) {
  switch (position) {
    case Formats::RMVB:
    case Formats::RM: return {"rm", "", "rv10", "ac3"};
    case Formats::MPG: return {"mpeg", "", "mpeg2video", "mp2"};
    case Formats::AVI: return {"avi", "", "mpeg2video", "mp2"};
    case Formats::MP4HQ: return {"mp4", "isom", "mpeg4", "mp3"};
    case Formats::MOV: return {"mov", "qt", "h264", "aac"};
    case Formats::MP4Phone: return {"mp4", "3gp", "mpeg4", "amr_nb"};
    case Formats::GP3: return {"3gp", "3gp", "mpeg4", "amr_nb"};
    default: return {"mp3", "", "", "mp3"};
  }
}

PanelValues presetPanel(int position) {
  const Formats::Preset p = *Formats::presetFor(position);
  PanelValues v;
  v.format = position;
  v.videoBitrate = p.videoBitrate.value_or(QStringLiteral("1200"));
  v.frameRate = p.frameRate.value_or(QStringLiteral("29"));
  v.size = p.size.value_or(Formats::kOriginalSize);
  v.sampleRate = p.sampleRate;
  v.audioBitrate = p.audioBitrate;
  v.channel = p.channel;
  return v;
}

}  // namespace

Q_DECLARE_METATYPE(PanelValues)

class TestEncoderMatrix : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString av_, odd_, audio_;
  int row_ = 0;
  QMap<QString, enc::Probe> sources_;

  // VANTREL_TEST_SHARD="i/n" keeps the i-th of every n groups of rows (a
  // group is one row, or all rows of one HD clip, which is made only once), so
  // that CTest runs the matrix in n pieces side by side. Unset: every row.
  int shard_ = 0, shards_ = 1, group_ = 0;
  bool nextGroupIsMine() { return group_++ % shards_ == shard_; }

 public:
  TestEncoderMatrix() {
    const QByteArray shard = qgetenv("VANTREL_TEST_SHARD");
    if (shard.isEmpty()) return;
    const QList<QByteArray> parts = shard.split('/');
    bool iOk = false, nOk = false;
    if (parts.size() == 2) {
      shard_ = parts[0].toInt(&iOk);
      shards_ = parts[1].toInt(&nOk);
    }
    if (!iOk || !nOk || shards_ <= 0 || shard_ < 0 || shard_ >= shards_)
      qFatal("VANTREL_TEST_SHARD=%s is not i/n with 0 <= i < n", shard.constData());
  }

 private:
  void addRow(const QString& name, const PanelValues& v, const QString& clip, QSize size = {},
              int rate = 0, int channels = 0, const QString& fps = {}) {
    if (!nextGroupIsMine()) return;
    QTest::newRow(qPrintable(name)) << v << clip << size << rate << channels << fps;
  }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    av_ = dir_.filePath(QStringLiteral("av clip.mp4"));
    odd_ = dir_.filePath(QStringLiteral("odd.mp4"));
    audio_ = dir_.filePath(QStringLiteral("tone.m4a"));
    QVERIFY(enc::makeClip(av_, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-f", "lavfi",
                                "-i", "sine=frequency=440:sample_rate=44100:duration=2", "-ac", "2",
                                "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac",
                                "-shortest"}));
    QVERIFY(enc::makeClip(odd_, {"-f", "lavfi", "-i", "testsrc=size=321x241:rate=25:duration=2", "-c:v",
                                 "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv444p"}));
    QVERIFY(enc::makeClip(audio_, {"-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=2",
                                   "-ac", "2", "-c:a", "aac"}));
    sources_ = {{"av", enc::probe(av_)}, {"odd", enc::probe(odd_)}, {"audio", enc::probe(audio_)}};
  }

  void convert_data() {
    QTest::addColumn<PanelValues>("panel");
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("fps");
    const QString av = QStringLiteral("av"), odd = QStringLiteral("odd"), audio = QStringLiteral("audio");
    group_ = 0;

    // Each format with its preset: the A/V clip, the odd-sized silent clip.
    for (int pos = 0; pos < Formats::Count; ++pos) {
      const bool phone = pos == Formats::MP4Phone || pos == Formats::GP3;
      const bool mp3 = pos == Formats::MP3;
      addRow(QStringLiteral("preset pos%1").arg(pos), presetPanel(pos), mp3 ? audio : av,
             mp3 ? QSize() : QSize(320, 240), phone ? 8000 : 0, phone ? 1 : 0);
      if (mp3) addRow(QStringLiteral("preset pos8 video source"), presetPanel(pos), av, {}, 48000, 2);
      else addRow(QStringLiteral("preset pos%1 odd size").arg(pos), presetPanel(pos), odd, QSize(320, 240));
    }

    // Video bitrate: MPEG-2 in AVI, RealVideo (which takes it only with a size).
    QStringList vbs = Formats::videoBitrateEntries();
    vbs << QStringLiteral("1200") << QStringLiteral("") << QStringLiteral("5000");
    for (const QString& vb : vbs) {
      PanelValues v = presetPanel(Formats::AVI);
      v.videoBitrate = vb;
      addRow(QStringLiteral("vb '%1' pos3").arg(vb), v, av);
      v = presetPanel(Formats::RMVB);
      v.size = QStringLiteral("320x240");
      v.videoBitrate = vb;
      addRow(QStringLiteral("vb '%1' pos0").arg(vb), v, av, QSize(320, 240));
    }

    // Frame rate: MPEG-2 has only its own set.
    const QList<QPair<QString, QString>> rates = {{"15", "24000/1001"}, {"23", "24000/1001"},
                                                  {"29", "30000/1001"}, {"24", "24/1"},
                                                  {"25", "25/1"},       {"29.97", "30000/1001"},
                                                  {"", "25/1"}};
    for (const auto& [f, want] : rates) {
      PanelValues v = presetPanel(Formats::MPG);
      v.frameRate = f;
      addRow(QStringLiteral("f '%1' pos2").arg(f), v, av, {}, 0, 0, want);
    }

    // Picture size: RealVideo wants multiples of 16, MPEG-4 and H.264 even sizes.
    const QMap<QString, QSize> rv = {{"128x96", {128, 96}},   {"160x120", {160, 112}}, {"176x144", {176, 144}},
                                     {"320x180", {320, 176}}, {"320x240", {320, 240}}, {"352x288", {352, 288}},
                                     {"640x272", {640, 272}}, {"480x480", {480, 480}}, {"640x360", {640, 352}},
                                     {"640x480", {640, 480}}, {"720x306", {720, 304}}, {"720x320", {720, 320}},
                                     {"", {320, 240}},        {"321x241", {320, 240}}};
    for (const QString& s : Formats::sizeEntries() + QStringList{QString(), QStringLiteral("321x241")}) {
      const bool original = s == Formats::kOriginalSize;
      PanelValues v = presetPanel(Formats::RMVB);
      v.size = s;
      addRow(QStringLiteral("size '%1' pos0").arg(s), v, av, original ? QSize(320, 240) : rv.value(s));
      const QSize asked = original || s.isEmpty() ? QSize(320, 240)
                          : s == QLatin1String("321x241") ? QSize(320, 240)
                                                          : QSize(s.section('x', 0, 0).toInt(), s.section('x', 1).toInt());
      v = presetPanel(Formats::GP3);
      v.size = s;
      addRow(QStringLiteral("size '%1' pos7").arg(s), v, av, asked);
      v = presetPanel(Formats::MOV);
      v.size = s;
      addRow(QStringLiteral("size '%1' pos5").arg(s), v, av, asked);
    }

    // Sample rate: MP3 and AC-3 each have their own set.
    const QMap<QString, int> mp3Rates = {{"48000", 48000}, {"44100", 44100}, {"32000", 32000}, {"24000", 24000},
                                         {"22050", 22050}, {"16000", 16000}, {"12050", 12000}, {"8000", 8000},
                                         {"28000", 32000}, {"", 44100}};
    for (auto it = mp3Rates.cbegin(); it != mp3Rates.cend(); ++it) {
      PanelValues v = presetPanel(Formats::MP3);
      v.sampleRate = it.key();
      addRow(QStringLiteral("r '%1' pos8").arg(it.key()), v, audio, {}, it.value(), 2);
      v = presetPanel(Formats::RM);
      v.size = QStringLiteral("320x240");
      v.sampleRate = it.key();
      const int ac3 = it.value() >= 44100 ? it.value() : 32000;
      addRow(QStringLiteral("r '%1' pos1").arg(it.key()), v, av, QSize(320, 240), it.key().isEmpty() ? 44100 : ac3);
    }

    // Audio bitrate: MP3 (both roads), MP2 and AC-3.
    QStringList brs = Formats::audioBitrateEntries();
    brs << QString() << QStringLiteral("128k") << QStringLiteral("1000");
    for (const QString& br : brs) {
      PanelValues v = presetPanel(Formats::MP3);
      v.audioBitrate = br;
      addRow(QStringLiteral("br '%1' pos8").arg(br), v, audio);
      v = presetPanel(Formats::MPG);
      v.audioBitrate = br;
      addRow(QStringLiteral("br '%1' pos2").arg(br), v, av);
      v = presetPanel(Formats::MP4HQ);
      v.audioBitrate = br;
      addRow(QStringLiteral("br '%1' pos4").arg(br), v, av);
      v = presetPanel(Formats::RMVB);
      v.size = QStringLiteral("320x240");
      v.audioBitrate = br;
      addRow(QStringLiteral("br '%1' pos0").arg(br), v, av, QSize(320, 240));
    }

    // Channels: mono, stereo, and none chosen (the source's).
    for (int ch : {0, 1, -1}) {
      PanelValues v = presetPanel(Formats::MP3);
      v.channel = ch;
      addRow(QStringLiteral("ch %1 pos8").arg(ch), v, audio, {}, 0, ch == 0 ? 1 : 2);
      v = presetPanel(Formats::RMVB);
      v.size = QStringLiteral("320x240");
      v.channel = ch;
      addRow(QStringLiteral("ch %1 pos0").arg(ch), v, av, QSize(320, 240), 0, ch == 0 ? 1 : 2);
    }
  }

  // Today's sources through every position: HD and 4K, a portrait HEVC
  // 10-bit phone clip. RealVideo takes frames of fewer than 4096 macroblocks,
  // so larger pictures shrink to the largest size that fits, keeping the
  // aspect; every other format keeps the size (the phones take 320x240).
  void convertHd_data() {
    QTest::addColumn<PanelValues>("panel");
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QSize>("size");
    const QMap<QString, QSize> rvSize = {{"720p", {1280, 720}}, {"1080p", {1360, 768}},
                                         {"portrait", {768, 1360}}, {"4k", {1360, 768}}};
    const QMap<QString, QSize> srcSize = {{"720p", {1280, 720}}, {"1080p", {1920, 1080}},
                                          {"portrait", {1080, 1920}}, {"4k", {3840, 2160}}};
    group_ = 0;
    bool mine1080 = false, mine4k = false;
    for (const QString& clip : {QStringLiteral("720p"), QStringLiteral("1080p"), QStringLiteral("portrait"),
                                QStringLiteral("4k")}) {
      const bool mine = nextGroupIsMine();
      mine1080 = mine1080 || (mine && clip == QLatin1String("1080p"));
      mine4k = mine4k || (mine && clip == QLatin1String("4k"));
      for (int pos = 0; mine && pos < Formats::Count; ++pos) {
        const QSize want = pos == Formats::RMVB || pos == Formats::RM            ? rvSize.value(clip)
                           : pos == Formats::MP4Phone || pos == Formats::GP3      ? QSize(320, 240)
                           : pos == Formats::MP3                                  ? QSize()
                                                                                  : srcSize.value(clip);
        QTest::newRow(qPrintable(QStringLiteral("%1 pos%2").arg(clip).arg(pos))) << presetPanel(pos) << clip << want;
      }
    }
    // Large sizes and bitrates typed for RM: the same budget, frames under 64 KiB.
    PanelValues v = presetPanel(Formats::RM);
    v.size = QStringLiteral("1920x1080");
    v.videoBitrate = QStringLiteral("1500");
    if (mine1080) QTest::newRow("1080p pos1 typed 1920x1080") << v << "1080p" << QSize(1360, 768);
    v.size = QStringLiteral("1280x720");
    v.videoBitrate = QStringLiteral("5000");
    if (mine4k) QTest::newRow("4k pos1 typed 1280x720 at 5000k") << v << "4k" << QSize(1280, 720);
  }

  void convertHd() {
    QFETCH(PanelValues, panel);
    QFETCH(QString, clip);
    QFETCH(QSize, size);
    const QString source = hdClip(clip);
    QVERIFY(!source.isEmpty());
    convertAndCheck(panel, source, sources_.value(clip), size, 0, 0, {});
  }

  void convert() {
    QFETCH(PanelValues, panel);
    QFETCH(QString, clip);
    QFETCH(QSize, size);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QString, fps);
    const QString source = clip == QLatin1String("av") ? av_ : clip == QLatin1String("odd") ? odd_ : audio_;
    convertAndCheck(panel, source, sources_.value(clip), size, rate, channels, fps);
  }

 private:
  // The HD clips, made when a row first needs one: 1 s of picture and sound.
  QString hdClip(const QString& name) {
    const QString file = dir_.filePath(name + QStringLiteral(".mkv"));
    if (QFileInfo::exists(file)) return file;
    const QMap<QString, QString> sizes = {{"720p", "1280x720"}, {"1080p", "1920x1080"},
                                          {"portrait", "1080x1920"}, {"4k", "3840x2160"}};
    QStringList args = {"-f", "lavfi", "-i", QStringLiteral("testsrc2=size=%1:rate=30:duration=1").arg(sizes.value(name)),
                        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=1", "-ac", "2"};
    if (name == QLatin1String("portrait"))
      args << "-c:v" << "libx265" << "-preset" << "ultrafast" << "-pix_fmt" << "yuv420p10le" << "-x265-params" << "log-level=error";
    else
      args << "-c:v" << "libx264" << "-preset" << "ultrafast" << "-pix_fmt" << "yuv420p";
    args << "-c:a" << "aac";
    if (!enc::makeClip(file, args)) return {};
    sources_.insert(name, enc::probe(file));
    return file;
  }

  void convertAndCheck(const PanelValues& panel, const QString& source, const enc::Probe& src, const QSize& size,
                       int rate, int channels, const QString& fps) {
    const QString work = dir_.filePath(QStringLiteral("work"));
    const QString out = dir_.filePath(QStringLiteral("out%1").arg(++row_));
    QVERIFY(QDir().mkpath(work) && QDir().mkpath(out));
    const BuildContext ctx = enc::buildContext(work);
    const QString ext = CommandLines::outputExtension(panel.format);
    const bool twoStage = Formats::format(panel.format)->stageCount == 2;

    const QString direct = CommandLines::outputFileName(out, source, QTime::currentTime(), ext);
    // As the engine does: no encoder replaces the last row's work file.
    QFile::remove(ctx.workFile);
    const enc::Run one = enc::runTool(CommandLines::stageOne(panel, source, twoStage ? QString() : direct, ctx));
    for (const QString& line : one.output.split(QLatin1Char('\n')))
      if (line.contains(QLatin1String("note:"))) qInfo("%s", qPrintable(line));
    QVERIFY2(one.exitCode == 0 && !one.crashed, qPrintable(one.output));
    QString output = direct;
    if (twoStage) {
      output = CommandLines::outputFileName(out, source, QTime::currentTime(), ext);
      const enc::Run two = enc::runTool(CommandLines::stageTwo(panel, output, ctx));
      for (const QString& line : two.output.split(QLatin1Char('\n')))
        if (line.contains(QLatin1String("note:"))) qInfo("%s", qPrintable(line));
      QVERIFY2(two.exitCode == 0 && !two.crashed, qPrintable(two.output));
    }
    QCOMPARE(enc::folderEntries(out), QStringList{QFileInfo(output).fileName()});

    const Expected want = expectedFor(panel.format);
    const enc::Probe got = enc::probe(output);
    QVERIFY(got.ok);
    QVERIFY2(got.formatName.split(QLatin1Char(',')).contains(want.format), qPrintable(got.formatName));
    if (!want.brand.isEmpty()) QVERIFY2(got.brand.startsWith(want.brand), qPrintable(got.brand));
    QCOMPARE(got.videoCodec, want.video);
    QCOMPARE(got.audioCodec, src.audioCodec.isEmpty() ? QString() : want.audio);
    QVERIFY2(qAbs(got.duration - src.duration) <= 0.3,
             qPrintable(QStringLiteral("%1 s against %2 s").arg(got.duration).arg(src.duration)));
    if (size.isValid()) QCOMPARE(got.size, size);
    if (rate) QCOMPARE(got.sampleRate, rate);
    if (channels) QCOMPARE(got.channels, channels);
    if (!fps.isEmpty()) QCOMPARE(got.frameRate, fps);
  }
};

QTEST_GUILESS_MAIN(TestEncoderMatrix)
#include "test_encoder_matrix.moc"
