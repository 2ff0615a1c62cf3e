// The encoders' rules without running FFmpeg: reading values, nearest legal
// values, the two option dialects, the plan they lead to, AMR frames and the
// progress lines.
#include <QTest>

#include "common/amr.h"
#include "common/console.h"
#include "common/dialects.h"
#include "common/encode.h"
#include "common/plan.h"
#include "common/values.h"
#include "common/verify.h"
#include "protocol/progress.h"

using namespace toolkit;

namespace {

MediaInfo avSource() {
  MediaInfo m;
  m.duration = 2;
  m.hasVideo = true;
  m.videoIndex = 0;
  m.size = QSize(320, 240);
  m.frameRate = {25, 1};
  m.videoDuration = 2;
  m.hasAudio = true;
  m.audioIndex = 1;
  m.sampleRate = 44100;
  m.channels = 2;
  m.audioDuration = 2;
  return m;
}

Plan coderPlan(const QStringList& options, const QString& output, const MediaInfo& src = avSource()) {
  return resolve(parseFfmpegStyle(QStringList{"-i", "in.mp4", "-y"} + options + QStringList{output}), src);
}

bool hasNote(const Plan& p, const QString& text) {
  for (const QString& n : p.notes)
    if (n.contains(text)) return true;
  return false;
}

}  // namespace

class TestEncoderRules : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void bitrates() {
    QCOMPARE(parseBitrate("1200k"), std::optional<double>(1200));
    QCOMPARE(parseBitrate("12.2k"), std::optional<double>(12.2));
    QCOMPARE(parseBitrate("128kk"), std::optional<double>(128));  // "128k" typed into the box
    QCOMPARE(parseBitrate("1.5M"), std::optional<double>(1500));
    QCOMPARE(parseBitrate("64000"), std::optional<double>(64));
    QCOMPARE(parseBitrate("k"), std::nullopt);
    QCOMPARE(parseBitrate("fast"), std::nullopt);
    QCOMPARE(parseBitrate("-5k"), std::nullopt);
    QCOMPARE(parseBitrate("1 28k"), std::nullopt);
  }

  void framesSizesRates() {
    QCOMPARE(parseFrameRate("29.97"), std::optional<Rational>(Rational{30000, 1001}));
    QCOMPARE(parseFrameRate("23.976"), std::optional<Rational>(Rational{24000, 1001}));
    QCOMPARE(parseFrameRate("30000/1001"), std::optional<Rational>(Rational{30000, 1001}));
    QCOMPARE(parseFrameRate("12.5"), std::optional<Rational>(Rational{12500, 1000}));
    QCOMPARE(parseFrameRate("0"), std::nullopt);
    QCOMPARE(parseFrameRate("1/0"), std::nullopt);
    QCOMPARE(parseSize("320x240"), std::optional<QSize>(QSize(320, 240)));
    QCOMPARE(parseSize(" 176X144 "), std::optional<QSize>(QSize(176, 144)));
    QCOMPARE(parseSize("qcif"), std::optional<QSize>(QSize(176, 144)));
    QCOMPARE(parseSize("0x240"), std::nullopt);
    QCOMPARE(parseSize("原始大小"), std::nullopt);
    QCOMPARE(parseSampleRate("44.1k"), std::optional<double>(44100));
  }

  void nearestValues() {
    QCOMPARE(nearest(28000, {16000, 22050, 24000, 32000, 44100, 48000}), 32000.0);  // a tie goes up
    QCOMPARE(nearest(12050, {8000, 11025, 12000, 16000}), 12000.0);
    QCOMPARE(nearest(10.2, {32, 48, 64}), 32.0);
    QCOMPARE(nearest(1000, {32, 320, 384}), 384.0);
    QCOMPARE(alignDimension(120, 16), 112);  // a tie goes down
    QCOMPARE(alignDimension(180, 16), 176);
    QCOMPARE(alignDimension(306, 16), 304);
    QCOMPARE(alignDimension(241, 2), 240);
    QCOMPARE(alignDimension(1, 2), 2);
    QCOMPARE(alignDimension(7, 16), 16);
    QCOMPARE(nearestMpeg2Rate(15), (Rational{24000, 1001}));
    QCOMPARE(nearestMpeg2Rate(29), (Rational{30000, 1001}));
    QCOMPARE(nearestMpeg2Rate(24), (Rational{24, 1}));
    QCOMPARE(nearestMpeg2Rate(120), (Rational{60, 1}));
    // The MPEG audio bitrate sets follow the sample rate.
    QVERIFY(legalBitrates(AudioCodec::MP2, 48000).contains(384));
    QVERIFY(!legalBitrates(AudioCodec::MP2, 24000).contains(192));
    QVERIFY(legalBitrates(AudioCodec::MP3, 22050).contains(8));
    QVERIFY(!legalBitrates(AudioCodec::MP3, 44100).contains(8));
  }

  void mencoderDialect() {
    const Request r = parseMencoderStyle({"in.avi", "-oac", "lavc", "-lavcopts", "acodec=mp2:abitrate=", "-ovc", "lavc",
                                          "-lavcopts", "vcodec=mpeg2video:vbitrate=600:vpass=1", "-ofps", "",
                                          "-of", "lavf", "-lavfopts", "format=yuv4mpeg", "-o", "out.mpg"});
    QCOMPARE(r.source, QStringLiteral("in.avi"));
    QCOMPARE(r.output, QStringLiteral("out.mpg"));
    QCOMPARE(r.audioCodec, std::optional<AudioCodec>(AudioCodec::MP2));  // from the first -lavcopts
    QCOMPARE(r.videoCodec, std::optional<VideoCodec>(VideoCodec::MPEG2));
    QCOMPARE(r.audioKbps.state, Setting<double>::Empty);
    QCOMPARE(r.videoKbps.value, 600.0);
    QCOMPARE(r.frameRate.state, Setting<Rational>::Empty);
    QCOMPARE(r.askedFormat, QStringLiteral("yuv4mpeg"));

    // A later -lavcopts replaces the same key; large vbitrate values are bit/s.
    const Request later = parseMencoderStyle({"in", "-oac", "mp3lame", "-lameopts", "preset=standard", "-ovc", "lavc",
                                              "-lavcopts", "vcodec=mpeg2video:vbitrate=100", "-lavcopts",
                                              "vcodec=mpeg4:vbitrate=900000", "-o", "o.mp4"});
    QCOMPARE(later.videoCodec, std::optional<VideoCodec>(VideoCodec::MPEG4));
    QCOMPARE(later.videoKbps.value, 900.0);
    QCOMPARE(later.mp3Quality, std::optional<int>(2));

    QVERIFY_THROWS_EXCEPTION(ToolError, parseMencoderStyle({"in", "-oac", "mp3lame", "-ovc", "lavc", "-lameopts", "preset=loud", "-o", "o.mp4"}));
    QVERIFY_THROWS_EXCEPTION(ToolError, parseMencoderStyle({"a", "b", "-oac", "mp3lame", "-ovc", "lavc", "-o", "o.mp4"}));
    QVERIFY_THROWS_EXCEPTION(ToolError, parseMencoderStyle({"a", "-oac", "mp3lame", "-ovc", "lavc", "-lavcopts", "novalue", "-o", "o.mp4"}));
  }

  void ffmpegDialect() {
    const Request r = parseFfmpegStyle({"-i", "in", "-y", "-s", "", "-vcodec", "rv10", "-b", "k", "-f", "rm", "-ar", "",
                                        "-ab", "k", "-ac", "0", "out.rmvb"});
    QCOMPARE(r.size.state, Setting<QSize>::Empty);
    QCOMPARE(r.videoKbps.state, Setting<double>::Empty);
    QCOMPARE(r.sampleRate.state, Setting<double>::Empty);
    QCOMPARE(r.audioKbps.state, Setting<double>::Empty);
    QCOMPARE(r.channels.state, Setting<int>::Set);
    QCOMPARE(r.channels.value, 0);
    QVERIFY_THROWS_EXCEPTION(ToolError, parseFfmpegStyle({"-i", "a", "-i", "b", "out.mp3"}));
    QVERIFY_THROWS_EXCEPTION(ToolError, parseFfmpegStyle({"-y", "out.mp3"}));
  }

  // Empty boxes become defaults, and each default is said once.
  void plansOfEmptyValues() {
    const Plan p = coderPlan({"-s", "", "-vcodec", "rv10", "-b", "k", "-f", "rm", "-ar", "", "-ab", "k", "-ac", "0"}, "o.rmvb");
    QCOMPARE(p.size, QSize(320, 240));
    QVERIFY(!p.scale);
    QCOMPARE(p.videoKbps, 800.0);
    QCOMPARE(p.sampleRate, 44100);
    QCOMPARE(p.audioKbps, 192.0);
    QCOMPARE(p.channels, 2);
    QCOMPARE(p.notes.size(), 5);
  }

  void plansOfIllegalValues() {
    const Plan rm = coderPlan({"-s", "160x120", "-vcodec", "rv10", "-b", "600k", "-f", "rm", "-ar", "28000", "-ab", "12.2k", "-ac", "6"}, "o.rm");
    QCOMPARE(rm.size, QSize(160, 112));
    QVERIFY(rm.scale);
    QCOMPARE(rm.sampleRate, 32000);
    QCOMPARE(rm.audioKbps, 32.0);
    QCOMPARE(rm.channels, 2);
    QCOMPARE(rm.muxer, QStringLiteral("rm"));
    QVERIFY(hasNote(rm, "multiples of 16"));
    QVERIFY(hasNote(rm, "28000 Hz"));
    QVERIFY(hasNote(rm, "at most 2 channels"));

    // The phone MP4 is a 3GPP file, AMR-NB at 8000 Hz mono whatever is asked.
    const Plan phone = coderPlan({"-s", "321x241", "-vcodec", "mpeg4", "-acodec", "amr_nb", "-ac", "2", "-ar", "44100", "-ab", "11.5k"}, "o.mp4");
    QCOMPARE(phone.muxer, QStringLiteral("3gp"));
    QCOMPARE(phone.size, QSize(320, 240));
    QCOMPARE(phone.sampleRate, 8000);
    QCOMPARE(phone.channels, 1);
    QCOMPARE(phone.audioKbps, 12.2);
    MediaInfo silent = avSource();
    silent.hasAudio = false;
    QCOMPARE(coderPlan({"-vcodec", "mpeg4", "-acodec", "amr_nb"}, "o.mp4", silent).muxer, QStringLiteral("3gp"));

    // The extension decides the container, over -f.
    const Plan byName = coderPlan({"-f", "avi"}, "o.mov");
    QCOMPARE(byName.container, Container::MOV);
    QCOMPARE(byName.videoCodec, VideoCodec::H264);
    QCOMPARE(byName.audioCodec, AudioCodec::AAC);
    QCOMPARE(byName.videoKbps, 0.0);  // quality mode
    QVERIFY(hasNote(byName, "-f avi"));
    QCOMPARE(coderPlan({"-f", "rm"}, "o.unknown").container, Container::RM);
    QVERIFY_THROWS_EXCEPTION(ToolError, coderPlan({}, "o.unknown"));
  }

  // RealVideo 1.0 takes frames of fewer than 4096 macroblocks: a larger
  // picture becomes the largest multiple-of-16 size below the budget with the
  // same aspect, said in one note; never larger than asked.
  void realVideoBudget_data() {
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QSize>("written");
    QTest::newRow("720p fits (3600 blocks)") << QSize(1280, 720) << QString() << QSize(1280, 720);
    QTest::newRow("1080p") << QSize(1920, 1080) << QString() << QSize(1360, 768);
    QTest::newRow("portrait") << QSize(1080, 1920) << QString() << QSize(768, 1360);
    QTest::newRow("4k") << QSize(3840, 2160) << QString() << QSize(1360, 768);
    QTest::newRow("exactly 4096 blocks") << QSize(1024, 1024) << QString() << QSize(1008, 1008);
    QTest::newRow("rounded up to 4096 blocks") << QSize(1030, 1020) << QString() << QSize(1024, 1008);
    QTest::newRow("one block under") << QSize(1024, 1008) << QString() << QSize(1024, 1008);
    QTest::newRow("typed over the budget") << QSize(320, 240) << QString("1920x1080") << QSize(1360, 768);
    QTest::newRow("small, untouched") << QSize(320, 240) << QString() << QSize(320, 240);
  }

  void realVideoBudget() {
    QFETCH(QSize, source);
    QFETCH(QString, asked);
    QFETCH(QSize, written);
    MediaInfo src = avSource();
    src.size = source;
    QStringList options = {"-vcodec", "rv10", "-b", "1200k", "-f", "rm"};
    if (!asked.isEmpty()) options << "-s" << asked;
    const Plan p = coderPlan(options, "o.rmvb", src);
    QCOMPARE(p.size, written);
    QVERIFY(qint64(p.size.width() / 16) * (p.size.height() / 16) < 4096);
    QCOMPARE(p.size.width() % 16 + p.size.height() % 16, 0);
    const QSize want = asked.isEmpty() ? source : *parseSize(asked);
    const bool shrunk = alignSize(want, 16) != written;
    QCOMPARE(hasNote(p, "macroblocks"), shrunk);
    QVERIFY(!(shrunk && hasNote(p, "multiples of 16")));  // one note for one change
  }

  // RealMedia takes no packet over 64 KiB: the video gets a rate control whose
  // buffer keeps each frame under it, and a bitrate that leaves room for it.
  void realMediaFrameLimit() {
    const Plan p = coderPlan({"-vcodec", "rv10", "-b", "1200k", "-f", "rm"}, "o.rm");
    QVERIFY(p.videoBufferKbits > 0 && p.videoBufferKbits * 1000 / 8 < 65536);
    QVERIFY(p.videoMaxKbps >= p.videoKbps);
    const QStringList args = ffmpegArgs(p, "t", false);
    QCOMPARE(args.value(args.indexOf("-bufsize") + 1), shortNumber(p.videoBufferKbits) + "k");
    QCOMPARE(args.value(args.indexOf("-maxrate") + 1), shortNumber(p.videoMaxKbps) + "k");
    // Above what the buffer can carry at the frame rate: lowered, with a note.
    MediaInfo slow = avSource();
    slow.frameRate = {10, 1};
    const Plan fast = coderPlan({"-vcodec", "rv10", "-b", "20000k", "-f", "rm"}, "o.rm", slow);
    QVERIFY(fast.videoKbps * 1000 / 10 <= fast.videoBufferKbits * 1000);
    QVERIFY(hasNote(fast, "64 KiB"));
    // Other containers take any packet.
    QVERIFY(!ffmpegArgs(coderPlan({}, "o.mov"), "t", false).contains("-bufsize"));
  }

  // What each stream is measured against: its own length, else what FFmpeg
  // read; a missing or short stream is damage when FFmpeg could not decode.
  void judgingTheOutput() {
    Plan p = coderPlan({}, "o.mov");
    p.videoDuration = 3;
    p.audioDuration = 0;  // not stated by the source
    const StreamSpan whole{75, 3.0};
    QVERIFY(!judgeOutput(p, {whole, StreamSpan{140, 2.9}}, 3.0, false));
    QVERIFY(!judgeOutput(p, {whole, StreamSpan{140, 2.55}}, 3.0, false));  // within the tolerance
    auto missing = judgeOutput(p, {std::nullopt, StreamSpan{140, 3}}, 3.0, true);
    QVERIFY(missing && missing->reason == Reason::SourceDamaged && missing->why.contains("no video"));
    missing = judgeOutput(p, {std::nullopt, StreamSpan{140, 3}}, 3.0, false);
    QVERIFY(missing && missing->reason == Reason::EncodeFailed);
    const auto shortAudio = judgeOutput(p, {whole, StreamSpan{1, 0.02}}, 3.0, true);
    QVERIFY(shortAudio && shortAudio->reason == Reason::SourceDamaged && shortAudio->why.contains("audio"));
    // A shorter audio track of the source is not a fault of the output.
    p.audioDuration = 1.5;
    QVERIFY(!judgeOutput(p, {whole, StreamSpan{70, 1.5}}, 3.0, false));
    // Video frames for most of what its rate promises over its length.
    QVERIFY(!judgeOutput(p, {StreamSpan{75, 3.0, 25}, StreamSpan{140, 3}}, 3.0, false));
    const auto sparse = judgeOutput(p, {StreamSpan{2, 3.0, 25}, StreamSpan{140, 3}}, 3.0, true);
    QVERIFY(sparse && sparse->reason == Reason::SourceDamaged && sparse->why.contains("2 of about 75 frames"));
    // A stream the plan does not write is not looked for.
    Plan mp3 = coderPlan({"-vn"}, "o.mp3");
    QVERIFY(!judgeOutput(mp3, {std::nullopt, StreamSpan{100, 2}}, 2.0, false));
    // Longer than what was read of the source by over 1 s, or over 5 % of a
    // long one, by either stream: never whole; with nothing read, not judged.
    struct Longer {
      double video, audio, read;
      bool whole;
    };
    p.videoDuration = p.audioDuration = 0;
    for (const Longer& c : {Longer{3.9, 3.0, 3.0, true}, Longer{3.0, 4.1, 3.0, false}, Longer{4.1, 4.0, 3.0, false},
                            Longer{104.9, 100, 100, true}, Longer{100, 105.2, 100, false}, Longer{100, 100, 0, true}}) {
      const auto got = judgeOutput(p, {StreamSpan{75, c.video}, StreamSpan{140, c.audio}}, c.read, false,
                                   StreamsRead{0, 0, c.read});
      QVERIFY2(got.has_value() != c.whole, qPrintable(QStringLiteral("%1/%2 of %3").arg(c.video).arg(c.audio).arg(c.read)));
      if (got) QVERIFY(got->reason == Reason::SourceDamaged && got->why.contains("could be read"));
    }
  }

  void failureReasons() {
    QCOMPARE(ToolProtocol::code(Reason::DiskFull), QStringLiteral("disk-full"));
    QCOMPARE(ToolProtocol::code(Reason::SourceDamaged), QStringLiteral("source-damaged"));
    QCOMPARE(reasonForErrno(ENOSPC), Reason::DiskFull);
    QCOMPARE(reasonForErrno(EROFS), Reason::OutputUnwritable);
    QCOMPARE(reasonForErrno(EACCES), Reason::OutputUnwritable);
    QCOMPARE(reasonForErrno(ENAMETOOLONG), Reason::NameTooLong);
    QCOMPARE(reasonForErrno(EIO), Reason::EncodeFailed);
  }

  void plansOfSourcesWithoutStreams() {
    MediaInfo audioOnly = avSource();
    audioOnly.hasVideo = false;
    QVERIFY_THROWS_EXCEPTION(ToolError, coderPlan({}, "o.3gp", audioOnly));
    const Plan mp3 = coderPlan({"-vn", "-ar", "48000", "-ab", "320k", "-ac", "2"}, "o.mp3", audioOnly);
    QVERIFY(!mp3.video);
    QVERIFY(mp3.audio);
    MediaInfo silent = avSource();
    silent.hasAudio = false;
    QVERIFY_THROWS_EXCEPTION(ToolError, coderPlan({"-vn"}, "o.mp3", silent));
    const Plan mute = coderPlan({}, "o.mov", silent);
    QVERIFY(!mute.audio);
    QVERIFY(!ffmpegArgs(mute, "t", false).contains(QStringLiteral("-c:a")));
  }

  void amrFrames() {
    AmrEncoder enc(12.2);
    QByteArray pcm(160 * 2 * 3 + 100, '\0');
    for (int i = 0; i < pcm.size(); i += 2) pcm[i + 1] = char((i / 2) % 64);
    const QList<QByteArray> frames = enc.encode(pcm);
    QCOMPARE(frames.size(), 3);
    for (const QByteArray& f : frames) QCOMPARE(f.size(), 32);  // 12.2 kbit/s: 31 bytes and the frame header
    QCOMPARE(quint8(frames[0][0]), quint8(0x3c));
    QCOMPARE(enc.finish().size(), 32);
    QCOMPARE(enc.finish().size(), 0);
    AmrEncoder low(10.2);
    const QList<QByteArray> lowFrames = low.encode(QByteArray(320, '\0'));
    QCOMPARE(lowFrames.size(), 1);
    QCOMPARE(lowFrames[0].size(), 27);
  }

  // The lines as the program's parsers read them.
  void progressLines() {
    Plan plan;
    plan.video = plan.audio = true;
    plan.videoKbps = 600;
    plan.audioKbps = 64;
    ProgressState s;
    s.seconds = 1.2;
    s.frames = 30;
    const QString pos = mencoderLine(s, 3, 1, 40, plan);
    QVERIFY2(pos.startsWith(QLatin1String("Pos:   1.2s     30f ( 3%)")), qPrintable(pos));
    Progress::State st;
    QCOMPARE(Progress::stageOne(pos, st)->value, 3);
    QVERIFY(Progress::stageOne(mencoderLine(s, 100, 1, 40, plan), st)->finished);

    MediaInfo m;
    m.duration = 100;
    m.kbps = 800;
    const QString duration = durationLine(m);
    QCOMPARE(duration, QStringLiteral("Duration: 00:01:40.00, start: 0.000000, bitrate: 800 kb/s"));
    s.seconds = 25.04;
    Progress::State two;
    QVERIFY(!Progress::stageTwo(duration + QLatin1Char('\n'), two) || two.fileDuration == 100);
    QCOMPARE(two.fileDuration, 100);
    QCOMPARE(Progress::stageTwo(ffmpegLine(s) + QLatin1Char('\n'), two)->value, 25);
    m.duration = 3725.5;
    QVERIFY(durationLine(m).startsWith(QLatin1String("Duration: 01:02:05.50,")));
    QVERIFY(durationLine(MediaInfo{}).startsWith(QLatin1String("Duration: N/A,")));
  }
};

QTEST_GUILESS_MAIN(TestEncoderRules)
#include "test_encoder_rules.moc"
