// Sources written by other programs' muxers and encoders (GStreamer, mkvmerge,
// x264, lame, flac, sox), none by ffmpeg, each through every format's road
// twice: with the tools, and with ffmpeg given the options the tools trace
// (VANTREL_TOOL_TRACE). Both outputs are judged the same way: the streams the
// format needs are there, the file decodes without an error, each stream is
// as long as its source stream, a seek finds picture and sound, a tone keeps
// its pitch. A cell is WORSE where the tool's output misses a check that
// ffmpeg's passes, or the tool refuses what ffmpeg converts.
//
// BENCH_POSITIONS=mp3,3gp limits the formats, BENCH_SOURCES=mkv,wav (parts of
// the source names) the sources; BENCH_KEEP=DIR keeps the corpus and the
// outputs there. Exits 1 when a cell is WORSE. A source without the picture
// (or the sound) a format is made of is refused by the tools with a reason:
// n/a. A cut source must be refused as source-incomplete.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "benchsupport.h"
#include "engine/commandline.h"
#include "protocol/toolprotocol.h"
#include "settings/core/formats.h"

namespace {

using namespace bench;

struct Ran {
  bool ok = false;
  QByteArray out, err;
};

// Runs a program to its end (90 s at most); `stdoutFile` takes its
// standard output when given.
Ran run(const QString& program, const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
        const QString& stdoutFile = {}) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.setStandardInputFile(QProcess::nullDevice());
  if (!stdoutFile.isEmpty()) p.setStandardOutputFile(stdoutFile);
  p.start(program, args);
  Ran r;
  if (!p.waitForStarted()) return r;
  if (!p.waitForFinished(90000)) {
    p.kill();
    p.waitForFinished();
    r.err = "timed out";
    return r;
  }
  r.out = p.readAllStandardOutput();
  r.err += p.readAllStandardError();
  r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  return r;
}

// ---------------------------------------------------------------- the corpus

struct Source {
  QString name;
  QString file;  // its name in the corpus folder
  std::function<bool(const QString& path, const QString& dir)> make;
  bool refuse = false;   // cut: the right outcome is "source-incomplete"
  double content = 0;    // > 0: what the stamps promise is not content; it lasts this long
};

bool gst(const QString& pipeline) {
  return run(QStringLiteral("gst-launch-1.0"), QStringList{QStringLiteral("-q")} + QProcess::splitCommand(pipeline)).ok;
}
bool prog(const char* program, const QStringList& args) { return run(QString::fromLatin1(program), args).ok; }

// GStreamer's test picture and tone, `seconds` long.
QString picture(double seconds, int w = 320, int h = 240, int fps = 25, const QString& extra = QStringLiteral(",format=I420")) {
  return QStringLiteral("videotestsrc num-buffers=%1 pattern=ball ! video/x-raw,width=%2,height=%3,framerate=%4/1%5")
      .arg(std::lround(seconds * fps)).arg(w).arg(h).arg(fps).arg(extra);
}
QString tone(double seconds, int rate = 44100, int channels = 2, int freq = 440, const QString& extra = {}) {
  return QStringLiteral("audiotestsrc num-buffers=%1 samplesperbuffer=1024 freq=%2 ! audio/x-raw,rate=%3,channels=%4%5")
      .arg(std::lround(seconds * rate / 1024)).arg(freq).arg(rate).arg(channels).arg(extra);
}
const QString kH264 = QStringLiteral("x264enc speed-preset=ultrafast key-int-max=25 ! h264parse");

// A muxer with a picture and a sound branch: `mux` is the element, the
// branches end in it.
std::function<bool(const QString&, const QString&)> muxed(const QString& mux, const QString& video, const QString& audio) {
  return [=](const QString& path, const QString&) {
    QString p = mux + QStringLiteral(" name=m ! filesink location=") + path;
    if (!video.isEmpty()) p += QLatin1Char(' ') + video + QStringLiteral(" ! m.");
    if (!audio.isEmpty()) p += QLatin1Char(' ') + audio + QStringLiteral(" ! m.");
    return gst(p);
  };
}

bool soxTone(const QString& path, const QStringList& format, double seconds, int freq = 440) {
  return prog("sox", QStringList{QStringLiteral("-n")} + format +
                         QStringList{path, QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"),
                                     QString::number(freq)});
}

QList<Source> corpus() {
  const QString v3 = picture(3) + QStringLiteral(" ! ") + kH264;
  const QString aac = tone(3) + QStringLiteral(" ! voaacenc ! aacparse");
  const QString mp3 = tone(3) + QStringLiteral(" ! lamemp3enc ! mpegaudioparse");
  const auto f = [](double s, int rate = 44100, int ch = 2) { return tone(s, rate, ch); };
  QList<Source> s;
  s << Source{"gst mp4 h264+aac", "a.mp4", muxed("mp4mux", v3, aac)}
    << Source{"gst mp4 fragmented", "frag.mp4", muxed("mp4mux fragment-duration=500", v3, aac)}
    << Source{"gst mp4 1080p", "hd.mp4", muxed("mp4mux", picture(2, 1920, 1080) + " ! " + kH264, aac)}
    << Source{"gst mp4 mp3 edit list", "edit.mp4", muxed("mp4mux", v3, mp3)}
    << Source{"gst qt mjpeg+pcm", "pcm.mov", muxed("qtmux", picture(3) + " ! jpegenc", f(3) + " ! audioconvert ! audio/x-raw,format=S16LE")}
    << Source{"gst 3gpp h264+amr", "phone.3gp",
              muxed("3gppmux", v3, "audiotestsrc num-buffers=30 samplesperbuffer=800 ! audio/x-raw,rate=8000,channels=1 ! amrnbenc")}
    << Source{"gst mkv hevc10 portrait+opus", "portrait.mkv",
              muxed("matroskamux", picture(3, 360, 640, 30, ",format=I420_10LE") + " ! x265enc speed-preset=ultrafast ! h265parse",
                    tone(3, 48000) + " ! opusenc")}
    << Source{"gst mkv h264 4:4:4 10-bit", "hi444.mkv", muxed("matroskamux", picture(2, 320, 240, 25, {}) + " ! " + kH264, aac)}
    << Source{"gst mkv odd size+vorbis", "odd.mkv", muxed("matroskamux", picture(3, 321, 239, 25, {}) + " ! " + kH264, f(3) + " ! vorbisenc")}
    << Source{"gst mkv 5.1 flac", "six.mkv",
              muxed("matroskamux", v3, tone(3, 48000, 6, 440, ",channel-mask=(bitmask)0x3f") + " ! flacenc ! flacparse")}
    << Source{"gst mkv short video, long sound", "shortv.mkv", muxed("matroskamux", picture(2) + " ! " + kH264, tone(5) + " ! lamemp3enc ! mpegaudioparse")}
    << Source{"gst mkv still picture+music", "still.mkv",
              muxed("matroskamux", "videotestsrc num-buffers=1 ! video/x-raw,width=320,height=240,framerate=1/1 ! jpegenc", mp3)}
    << Source{"gst webm vp8+vorbis", "vp8.webm", muxed("webmmux", picture(3) + " ! vp8enc deadline=1", f(3) + " ! vorbisenc")}
    << Source{"gst webm vp9+opus", "vp9.webm", muxed("webmmux", picture(3) + " ! vp9enc deadline=1 cpu-used=8", tone(3, 48000) + " ! opusenc")}
    << Source{"gst ogg theora+vorbis", "a.ogv", muxed("oggmux", picture(3) + " ! theoraenc", f(3) + " ! vorbisenc")}
    << Source{"gst avi camera mjpeg+u8 11 kHz", "cam.avi",
              muxed("avimux", picture(3) + " ! jpegenc", tone(3, 11025, 1, 440, ",format=U8"))}
    << Source{"gst avi h264+mp3", "a.avi", muxed("avimux", v3, mp3)}
    << Source{"gst mpegts h264+aac", "a.ts", muxed("mpegtsmux", v3, aac)}
    << Source{"gst mpegps mpeg2+mp2", "a.mpg",
              muxed("mpegpsmux", picture(3) + " ! mpeg2enc format=3 ! mpegvideoparse", f(3) + " ! twolamemp2enc ! mpegaudioparse")}
    << Source{"gst flv h264+mp3", "a.flv", muxed("flvmux", v3, mp3)}
    << Source{"gst flv h264+speex", "speex.flv", muxed("flvmux", v3, tone(3, 16000, 1) + " ! speexenc")}
    << Source{"gst ogg vorbis", "a.ogg", muxed("oggmux", {}, f(3) + " ! vorbisenc")}
    << Source{"gst ogg opus", "a.opus", muxed("oggmux", {}, tone(3, 48000) + " ! opusenc")}
    << Source{"gst wav mu-law 8 kHz", "mulaw.wav",
              [](const QString& path, const QString&) { return gst(tone(3, 8000, 1) + " ! mulawenc ! wavenc ! filesink location=" + path); }}
    << Source{"gst aiff", "a.aiff", [](const QString& path, const QString&) {
                return gst(tone(3) + " ! audioconvert ! audio/x-raw,format=S16BE ! aiffmux ! filesink location=" + path);
              }};

  // mkvmerge: two sound tracks, the second marked default; a picture 1 s
  // after the sound; two files end to end; two frames 10 hours apart.
  const auto wavs = [](const QString& dir, const QString& a, int fa, const QString& b, int fb) {
    return soxTone(dir + a, {"-r", "44100", "-b", "16", "-c", "2"}, 3, fa) && soxTone(dir + b, {"-r", "44100", "-b", "16", "-c", "2"}, 3, fb);
  };
  s << Source{"mkvmerge 2 tracks, 2nd default", "tracks.mkv", [=](const QString& path, const QString& dir) {
                return gst(v3 + " ! matroskamux ! filesink location=" + dir + "/v.mkv") && wavs(dir, "/c.wav", 300, "/m.wav", 1000) &&
                       prog("mkvmerge", {"-q", "-o", path, dir + "/v.mkv", "--default-track", "0:no", "--language", "0:en", dir + "/c.wav",
                                         "--default-track", "0:yes", "--language", "0:zh", dir + "/m.wav"});
              }}
    << Source{"mkvmerge picture 1 s late", "late.mkv", [=](const QString& path, const QString& dir) {
                return gst(v3 + " ! matroskamux ! filesink location=" + dir + "/v.mkv") && wavs(dir, "/s.wav", 440, "/t.wav", 440) &&
                       prog("mkvmerge", {"-q", "-o", path, "--sync", "0:1000", dir + "/v.mkv", dir + "/s.wav"});
              }}
    << Source{"mkvmerge sound 1 s late", "alate.mkv", [=](const QString& path, const QString& dir) {
                return gst(v3 + " ! matroskamux ! filesink location=" + dir + "/v.mkv") && wavs(dir, "/s.wav", 440, "/t.wav", 440) &&
                       prog("mkvmerge", {"-q", "-o", path, dir + "/v.mkv", "--sync", "0:1000", dir + "/s.wav"});
              }}
    << Source{"mkvmerge appended", "joined.mkv", [=](const QString& path, const QString& dir) {
                return muxed("matroskamux", picture(2) + " ! " + kH264, mp3)(dir + "/p1.mkv", dir) &&
                       muxed("matroskamux", picture(2) + " ! " + kH264, mp3)(dir + "/p2.mkv", dir) &&
                       prog("mkvmerge", {"-q", "-o", path, dir + "/p1.mkv", "+", dir + "/p2.mkv"});
              }}
    << Source{"mkvmerge frames 10 h apart", "leap.mkv",
              [](const QString& path, const QString& dir) {
                QFile stamps(dir + "/stamps.txt");
                if (!stamps.open(QIODevice::WriteOnly)) return false;
                stamps.write("# timestamp format v2\n0\n36000000\n");
                stamps.close();
                return gst(picture(0.08, 160, 120) + " ! y4menc ! filesink location=" + dir + "/two.y4m") &&
                       prog("x264", {"--quiet", "--preset", "ultrafast", "-o", dir + "/two.264", dir + "/two.y4m"}) &&
                       prog("mkvmerge", {"-q", "-o", path, "--timestamps", "0:" + dir + "/stamps.txt", dir + "/two.264"});
              },
              false, 1.0};

  // A song with its cover: one x264 picture and 4 s of Vorbis, joined by
  // mkvmerge.
  s << Source{"mkvmerge one picture+vorbis", "cover.mkv", [](const QString& path, const QString& dir) {
                return gst(picture(0.04) + " ! y4menc ! filesink location=" + dir + "/one.y4m") &&
                       gst(tone(4) + " ! audioconvert ! vorbisenc ! oggmux ! filesink location=" + dir + "/song.ogg") &&
                       prog("x264", {"--quiet", "--frames", "1", "-o", dir + "/one.h264", dir + "/one.y4m"}) &&
                       prog("mkvmerge", {"-q", "-o", path, dir + "/one.h264", dir + "/song.ogg"});
              }};

  // ASF whose video is stamped 1000 h after its sound.
  s << Source{"gst asf video 1000 h after sound", "far.wmv",
              muxed("asfmux", picture(3).replace("pattern=ball", "pattern=ball timestamp-offset=3600000000000000") + " ! avenc_wmv2",
                    tone(3) + " ! avenc_wmav2")};

  // The x264 command line: a raw stream and its own MKV and FLV.
  const auto x264 = [](const QString& ext) {
    return [ext](const QString& path, const QString& dir) {
      const QString y4m = dir + "/x.y4m";
      return (QFile::exists(y4m) || gst(picture(3, 320, 240) + " ! y4menc ! filesink location=" + y4m)) &&
             prog("x264", {"--quiet", "--preset", "veryfast", "-o", path, y4m});
    };
  };
  s << Source{"x264 raw .264", "raw.264", x264("264")} << Source{"x264 mkv", "x264.mkv", x264("mkv")}
    << Source{"x264 flv", "x264.flv", x264("flv")};

  // lame, flac and sox.
  const auto wav = [](const QString& dir) { return soxTone(dir + "/t.wav", {"-r", "44100", "-b", "16", "-c", "2"}, 3); };
  const auto png = [](const QString& dir) { return gst("videotestsrc num-buffers=1 ! video/x-raw,width=200,height=200 ! pngenc ! filesink location=" + dir + "/cover.png"); };
  s << Source{"lame vbr", "vbr.mp3", [=](const QString& p, const QString& d) { return wav(d) && prog("lame", {"--quiet", "-V2", "--tt", "t", d + "/t.wav", p}); }}
    << Source{"lame cbr with cover", "cover.mp3", [=](const QString& p, const QString& d) {
                return wav(d) && png(d) && prog("lame", {"--quiet", "-b", "128", "--ti", d + "/cover.png", d + "/t.wav", p});
              }}
    << Source{"lame 8 kHz mono", "low.mp3", [=](const QString& p, const QString& d) {
                return soxTone(d + "/l.wav", {"-r", "8000", "-b", "16", "-c", "1"}, 3) && prog("lame", {"--quiet", "-b", "16", d + "/l.wav", p});
              }}
    << Source{"flac", "a.flac", [=](const QString& p, const QString& d) { return wav(d) && prog("flac", {"-s", "-f", "-o", p, d + "/t.wav"}); }}
    << Source{"flac with picture", "pic.flac", [=](const QString& p, const QString& d) {
                return wav(d) && png(d) && prog("flac", {"-s", "-f", "--picture", d + "/cover.png", "-o", p, d + "/t.wav"});
              }}
    << Source{"sox wav u8 8 kHz", "u8.wav", [](const QString& p, const QString&) { return soxTone(p, {"-r", "8000", "-b", "8", "-c", "1"}, 3); }}
    << Source{"sox wav 24-bit 96 kHz", "hi.wav", [](const QString& p, const QString&) { return soxTone(p, {"-r", "96000", "-b", "24", "-c", "2"}, 3); }}
    << Source{"sox wav float 6 ch", "float6.wav",
              [](const QString& p, const QString&) { return soxTone(p, {"-r", "48000", "-e", "floating-point", "-b", "32", "-c", "6"}, 3); }}
    << Source{"sox au", "a.au", [](const QString& p, const QString&) { return soxTone(p, {"-r", "22050", "-b", "16", "-c", "1"}, 3); }}
    << Source{"sox voc", "a.voc", [](const QString& p, const QString&) { return soxTone(p, {"-r", "11025", "-b", "8", "-c", "1"}, 3); }};

  // Cut sources: half an FLV, and a WAV whose header promises ten times what
  // it holds.
  s << Source{"gst flv cut in half", "cut.flv",
              [=](const QString& p, const QString& d) {
                if (!muxed("flvmux", v3, mp3)(d + "/whole.flv", d)) return false;
                QFile in(d + "/whole.flv"), out(p);
                if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) return false;
                const QByteArray all = in.readAll();
                return out.write(all.left(all.size() / 2)) > 0;
              },
              true}
    << Source{"sox wav with a lying header", "lie.wav",
              [](const QString& p, const QString&) {
                if (!soxTone(p, {"-r", "22050", "-b", "16", "-c", "1"}, 1)) return false;
                QFile w(p);
                if (!w.open(QIODevice::ReadWrite)) return false;
                QByteArray d = w.readAll();
                const qsizetype data = d.indexOf("data");
                if (data < 0) return false;
                const quint32 held = quint32(d.size() - data - 8) * 10;
                for (int b = 0; b < 4; ++b) d[data + 4 + b] = char(held >> (8 * b) & 0xFF);
                w.seek(0);
                return w.write(d) == d.size();
              },
              true};
  return s;
}

// ------------------------------------------------------------------ judging

struct Streams {
  int video = -1, audio = -1;  // indices; an attached picture is no video
  double duration = 0;
};

Streams probe(const QString& file) {
  Streams s;
  const Ran r = run(QStringLiteral("ffprobe"), {"-v", "error", "-show_streams", "-show_format", "-of", "json", file});
  const QJsonObject root = QJsonDocument::fromJson(r.out).object();
  s.duration = root.value("format").toObject().value("duration").toString().toDouble();
  int defaultAudio = -1;
  for (const QJsonValue& v : root.value("streams").toArray()) {
    const QJsonObject st = v.toObject();
    const QString type = st.value("codec_type").toString();
    const int index = st.value("index").toInt();
    const QJsonObject disp = st.value("disposition").toObject();
    if (type == QLatin1String("video") && s.video < 0 && disp.value("attached_pic").toInt() == 0) s.video = index;
    if (type == QLatin1String("audio")) {
      if (s.audio < 0) s.audio = index;
      if (defaultAudio < 0 && disp.value("default").toInt() == 1) defaultAudio = index;
    }
  }
  if (defaultAudio >= 0) s.audio = defaultAudio;
  return s;
}

// The first and last moment of a stream's packets; the container's length
// where the packets carry no times.
std::pair<double, double> span(const QString& file, int index, double fallback) {
  const Ran r = run(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", QString::number(index), "-show_entries",
                                                "packet=pts_time,duration_time", "-of", "csv=p=0", file});
  double first = 1e18, last = -1e18;
  for (const QByteArray& line : r.out.split('\n')) {
    const QList<QByteArray> f = line.split(',');
    if (f.size() < 2) continue;
    bool ok = false;
    double pts = f.value(0).toDouble(&ok);
    if (!ok) pts = last > -1e18 ? last : 0;  // a raw stream: one packet after the other
    first = std::min(first, pts);
    last = std::max(last, pts + f.value(1).toDouble());
  }
  if (first > last) return {0, fallback};
  return {first, last};
}

// The pitch of a stream's tone from its zero crossings: the median of the
// quarter seconds of its middle half, 0 when most of them disagree with it
// (no steady tone). A click where two recordings meet moves one quarter only.
double pitch(const QString& file, int index) {
  const Ran r = run(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i", file, "-map", QStringLiteral("0:%1").arg(index), "-ac", "1",
                                               "-ar", "8000", "-f", "s16le", "-"});
  const auto* pcm = reinterpret_cast<const qint16*>(r.out.constData());
  const qsizetype n = r.out.size() / 2, window = 2000;
  QList<double> hz;
  for (qsizetype from = n / 4; from + window <= 3 * n / 4; from += window) {
    int crossings = 0;
    bool high = pcm[from] > 0;
    for (qsizetype i = from; i < from + window; ++i) {
      if (high && pcm[i] < -300) high = false, ++crossings;
      else if (!high && pcm[i] > 300) high = true, ++crossings;
    }
    hz << crossings / 2.0 * 8000 / double(window);
  }
  if (hz.size() < 2) return 0;
  std::sort(hz.begin(), hz.end());
  const double median = hz[hz.size() / 2];
  const auto near = std::count_if(hz.begin(), hz.end(), [&](double h) { return std::abs(h / median - 1) < 0.02; });
  return median > 50 && near * 10 >= hz.size() * 6 ? median : 0;
}

struct SourceFacts {
  Streams streams;
  std::pair<double, double> video, audio;
  double hz = 0;
};

SourceFacts factsOf(const Source& src, const QString& path) {
  SourceFacts f;
  f.streams = probe(path);
  if (f.streams.video >= 0) f.video = span(path, f.streams.video, f.streams.duration);
  if (f.streams.audio >= 0) {
    f.audio = span(path, f.streams.audio, f.streams.duration);
    f.hz = pitch(path, f.streams.audio);
  }
  if (src.content > 0) {
    f.video.second = std::min(f.video.second, f.video.first + src.content);
    f.audio.second = std::min(f.audio.second, f.audio.first + src.content);
  }
  return f;
}

// What one side made of one source in one format.
struct Outcome {
  bool made = false;
  QString refusal;    // the tool's reason, or ffmpeg's last words
  QStringList faults;  // checks the output missed
  QString text() const {
    if (!made) return QStringLiteral("refused (%1)").arg(refusal);
    return faults.isEmpty() ? QStringLiteral("ok") : faults.join(QLatin1Char(','));
  }
};

Outcome judge(const QString& out, bool videoFormat, const SourceFacts& src) {
  Outcome o;
  o.made = true;
  const Streams got = probe(out);
  const bool needVideo = videoFormat && src.streams.video >= 0;
  const bool needAudio = src.streams.audio >= 0;
  if (needVideo && got.video < 0) o.faults << QStringLiteral("no-video");
  if (needAudio && got.audio < 0) o.faults << QStringLiteral("no-audio");
  if (!o.faults.isEmpty()) return o;
  const Ran decoded = run(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i", out, "-map", "0", "-f", "null", "-"});
  if (!decoded.ok || !decoded.err.trimmed().isEmpty()) o.faults << QStringLiteral("decode-errors");
  // How long the source's streams last together: a picture 1 s after the
  // sound makes the whole 1 s longer than either.
  double from = 1e18, to = -1e18;
  if (needVideo) from = std::min(from, src.video.first), to = std::max(to, src.video.second);
  if (needAudio) from = std::min(from, src.audio.first), to = std::max(to, src.audio.second);
  const double promised = to - from;
  double longest = 0;
  const auto length = [&](int index, const std::pair<double, double>& want, const char* name) {
    const auto [a, b] = span(out, index, got.duration);
    longest = std::max(longest, b - a);
    if (b - a < (want.second - want.first) - std::max(0.3, 0.05 * (want.second - want.first)))
      o.faults << QStringLiteral("%1-short(%2/%3s)").arg(QLatin1String(name)).arg(b - a, 0, 'f', 1).arg(want.second - want.first, 0, 'f', 1);
  };
  if (needVideo) length(got.video, src.video, "video");
  if (needAudio) length(got.audio, src.audio, "audio");
  if (longest > promised + std::max(1.0, 0.1 * promised))
    o.faults << QStringLiteral("too-long(%1s)").arg(longest, 0, 'f', 1);
  // A seek into the middle finds every stream there.
  if (longest >= 1.5 && (needVideo || needAudio)) {
    QStringList args{"-nostdin", "-v", "error", "-ss", QString::number(std::min(1.0, longest / 2)), "-i", out};
    const double at = std::min(1.0, longest / 2);
    // A still picture has no frame to find after the first.
    const bool seekVideo = needVideo && src.video.second - src.video.first > at + 0.5;
    if (seekVideo) args << "-map" << QStringLiteral("0:%1").arg(got.video);
    if (needAudio) args << "-map" << QStringLiteral("0:%1").arg(got.audio);
    args << "-t" << "0.5" << "-f" << "framemd5" << "-";
    const Ran seek = run(QStringLiteral("ffmpeg"), args);
    int frames[2] = {0, 0};
    for (const QByteArray& line : seek.out.split('\n'))
      if (line.startsWith("0,")) ++frames[0];
      else if (line.startsWith("1,")) ++frames[1];
    if (frames[0] == 0 || (seekVideo && needAudio && frames[1] == 0)) o.faults << QStringLiteral("seek");
  }
  if (needAudio && src.hz > 0) {
    const double hz = pitch(out, got.audio);
    if (std::abs(hz / src.hz - 1) > 0.03) o.faults << QStringLiteral("pitch(%1/%2Hz)").arg(std::lround(hz)).arg(std::lround(src.hz));
  }
  return o;
}

// The reason a tool gave for refusing, from its own lines.
QString toolReason(const ToolCommand& c, const QByteArray& output) {
  const QString tool = QFileInfo(c.program).fileName();
  for (const QString& line : QString::fromUtf8(output).split(QLatin1Char('\n')))
    if (const auto r = ToolProtocol::readReason(tool, line)) return tool + QLatin1Char(' ') + *r;
  return tool + QStringLiteral(" exit");
}

// ------------------------------------------------------------------ the roads

struct Traces {
  Trace one, two;
};

// The tool's road: stage one and, for the two-stage formats, stage two, with
// the trace on. `traces` takes what each stage printed.
Outcome toolRoad(int position, const QString& source, const QString& folder, const SourceFacts& facts, Traces& traces,
                 const QProcessEnvironment& traced) {
  const PanelValues v = panelFor(position);
  const BuildContext ctx{QStringLiteral(VANTREL_DATA_DIR), QDir(folder).filePath(QStringLiteral("tmp.mp4"))};
  const QString target = CommandLines::outputFileName(folder, source, QTime(1, 2, 3), CommandLines::outputExtension(position));
  Outcome o;
  const ToolCommand one = CommandLines::stageOne(v, source, target, ctx);
  const Ran a = run(one.program, one.args, traced);
  traces.one = readTrace(a.out);
  if (!a.ok) return o.refusal = toolReason(one, a.out), o;
  if (Formats::format(position)->stageCount == 2) {
    const ToolCommand two = CommandLines::stageTwo(v, target, ctx);
    const Ran b = run(two.program, two.args, traced);
    traces.two = readTrace(b.out);
    if (!b.ok) return o.refusal = toolReason(two, b.out), o;
  }
  return judge(target, position != Formats::MP3, facts);
}

// One traced stage through ffmpeg. On the AMR road ffmpeg decodes the sound,
// amr_sink codes it as the tool does, and ffmpeg muxes those frames.
bool ffmpegStage(const Trace& t, const QString& tracedIn, const QString& in, const QString& out, QString& why) {
  const QList<std::pair<QString, QString>> map{{tracedIn, tracedInput(in)}, {QStringLiteral("OUTPUT"), out}};
  QStringList mux = substituted(t.mux, map);
  if (!t.pcm.isEmpty()) {
    const QString pcm = out + QStringLiteral(".pcm"), amr = out + QStringLiteral(".amr");
    const Ran decoded = run(QStringLiteral("ffmpeg"), substituted(t.pcm, map), QProcessEnvironment::systemEnvironment(), pcm);
    if (!decoded.ok || !run(QStringLiteral(VANTREL_AMR_SINK), {pcm, amr}).ok) return why = QStringLiteral("pcm: ") + decoded.err.trimmed().right(80), false;
    mux = substituted(mux, {{QStringLiteral("pipe:0"), amr}});
  }
  const Ran r = run(QStringLiteral("ffmpeg"), mux);
  if (!r.ok) why = QString::fromUtf8(r.err.trimmed().split('\n').last().right(80));
  return r.ok;
}

Outcome ffmpegRoad(int position, const QString& source, const QString& folder, const SourceFacts& facts, const Traces& traces,
                   const Traces& fallback) {
  const bool two = Formats::format(position)->stageCount == 2;
  const QString work = QDir(folder).filePath(QStringLiteral("work.avi"));
  const QString target = QDir(folder).filePath(QStringLiteral("out") + CommandLines::outputExtension(position));
  Outcome o;
  // Where the tool stopped before it traced, ffmpeg takes the options the
  // tool traced for the plain clip.
  const Trace& one = traces.one.mux.isEmpty() ? fallback.one : traces.one;
  const Trace& second = traces.two.mux.isEmpty() ? fallback.two : traces.two;
  const auto input = [](const Trace& t) {
    const qsizetype i = t.mux.indexOf(QStringLiteral("-i"));
    return i >= 0 ? t.mux.value(i + 1) : QString();
  };
  if (!ffmpegStage(one, input(one), source, two ? work : target, o.refusal)) return o;
  if (two && !ffmpegStage(second, input(second), work, target, o.refusal)) return o;
  return judge(target, position != Formats::MP3, facts);
}

bool selected(const Source& s) {
  const QStringList parts = qEnvironmentVariable("BENCH_SOURCES").split(QLatin1Char(','), Qt::SkipEmptyParts);
  return parts.isEmpty() || std::any_of(parts.begin(), parts.end(), [&](const QString& p) {
           return s.name.contains(p.trimmed(), Qt::CaseInsensitive) || s.file.contains(p.trimmed(), Qt::CaseInsensitive);
         });
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::optional<QList<int>> positions = selectedPositions();
  if (!positions) return 2;
  for (const char* program : {"gst-launch-1.0", "mkvmerge", "x264", "lame", "flac", "sox", "ffmpeg", "ffprobe"})
    if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
      std::fprintf(stderr, "%s is missing (scripts/install-deps.sh installs it)\n", program);
      return 2;
    }
  QTemporaryDir temp;
  const QString keep = qEnvironmentVariable("BENCH_KEEP");
  const QString base = keep.isEmpty() ? temp.path() : QDir(keep).absolutePath();
  QDir(base).mkpath(QStringLiteral("corpus"));
  QProcessEnvironment traced = QProcessEnvironment::systemEnvironment();
  traced.insert(QStringLiteral("VANTREL_TOOL_TRACE"), QStringLiteral("1"));

  // The options each format's tools trace for a plain clip, for the sources
  // the tool refuses before it traces anything.
  const QString plain = QDir(base).filePath(QStringLiteral("plain.mp4"));
  if (!muxed("mp4mux", picture(1) + " ! " + kH264, tone(1) + " ! voaacenc ! aacparse")(plain, base)) {
    std::fprintf(stderr, "GStreamer could not make the plain clip\n");
    return 2;
  }
  const SourceFacts plainFacts = factsOf(Source{}, plain);
  QList<Traces> fallback(Formats::Count);
  for (const int p : *positions) {
    const QString folder = QDir(base).filePath(QStringLiteral("plain-%1").arg(p));
    QDir().mkpath(folder);
    toolRoad(p, plain, folder, plainFacts, fallback[p], traced);
  }

  std::printf("%-34s", "source");
  for (const int p : *positions) std::printf(" %-9s", qPrintable(QString::fromLatin1(Formats::format(p)->name)));
  std::printf("\n");
  std::fflush(stdout);
  QStringList details;
  int cells = 0, worse = 0, bothBad = 0, wrongRefusals = 0, notApplicable = 0;
  for (const Source& src : corpus()) {
    if (!selected(src)) continue;
    const QString dir = QDir(base).filePath(QStringLiteral("corpus/") + QFileInfo(src.file).completeBaseName() + "-" +
                                            QFileInfo(src.file).suffix());
    QDir().mkpath(dir);
    const QString path = QDir(dir).filePath(src.file);
    if (!QFile::exists(path) && !src.make(path, dir)) {
      std::printf("%-34s (could not be made)\n", qPrintable(src.name));
      continue;
    }
    const SourceFacts facts = factsOf(src, path);
    std::printf("%-34s", qPrintable(src.name.left(34)));
    std::fflush(stdout);
    for (const int p : *positions) {
      const QString shortName = QString::fromLatin1(Formats::format(p)->name);
      const QString toolDir = dir + "/tool-" + shortName, ffDir = dir + "/ffmpeg-" + shortName;
      QDir(toolDir).removeRecursively();
      QDir(ffDir).removeRecursively();
      QDir().mkpath(toolDir);
      QDir().mkpath(ffDir);
      Traces traces;
      const Outcome tool = toolRoad(p, path, toolDir, facts, traces, traced);
      // A source without what the format is made of is refused, with
      // reason; ffmpeg's side is not asked.
      const bool lacking = p == Formats::MP3 ? facts.streams.audio < 0 : facts.streams.video < 0;
      if (lacking && !tool.made &&
          (tool.refusal.endsWith(QStringLiteral("needs-video")) || tool.refusal.endsWith(QStringLiteral("needs-audio")))) {
        ++cells, ++notApplicable;
        std::printf(" %-9s", "n/a");
        continue;
      }
      const Outcome ff = ffmpegRoad(p, path, ffDir, facts, traces, fallback[p]);
      ++cells;
      QString cell;
      if (src.refuse) {
        const bool right = !tool.made && tool.refusal.endsWith(QStringLiteral("source-incomplete"));
        cell = right ? QStringLiteral("refused") : QStringLiteral("WRONG");
        if (!right) ++wrongRefusals;
      } else {
        QStringList own;
        for (const QString& f : tool.faults)
          if (!std::any_of(ff.faults.begin(), ff.faults.end(), [&](const QString& g) { return g.section('(', 0, 0) == f.section('(', 0, 0); }))
            own << f;
        const bool toolOk = tool.made && tool.faults.isEmpty();
        const bool isWorse = (!tool.made && ff.made) || (tool.made && ff.made && !own.isEmpty());
        cell = toolOk ? QStringLiteral("ok") : isWorse ? QStringLiteral("WORSE") : QStringLiteral("same");
        if (isWorse) ++worse;
        if (!toolOk && !isWorse) ++bothBad;
      }
      if (cell != QLatin1String("ok") && cell != QLatin1String("refused"))
        details << QStringLiteral("%1 -> %2: %3; tool: %4; ffmpeg: %5").arg(src.name, shortName, cell, tool.text(), ff.text());
      std::printf(" %-9s", qPrintable(cell));
      std::fflush(stdout);
      if (keep.isEmpty()) {
        QDir(toolDir).removeRecursively();
        QDir(ffDir).removeRecursively();
      }
    }
    std::printf("\n");
  }
  std::printf("\n");
  for (const QString& d : details) std::printf("%s\n", qPrintable(d));
  std::printf("\n%d cells: %d where the tool does worse than ffmpeg, %d where both fall short, %d cut sources not refused, "
              "%d without what the format needs (n/a)\n",
              cells, worse, bothBad, wrongRefusals, notApplicable);
  return worse || wrongRefusals ? 1 : 0;
}
