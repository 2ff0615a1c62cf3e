#include "common/media.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/avowners.h"
#include "common/console.h"
#include "common/ffcompat.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/display.h>
#include <libavutil/log.h>
}

namespace toolkit {
namespace {

// A stream time in seconds; 0 when the file does not say.
double seconds(int64_t ts, AVRational base) {
  return ts == AV_NOPTS_VALUE || ts <= 0 ? 0.0 : static_cast<double>(ts) * av_q2d(base);
}

// A stream's own length: what its header says, else the DURATION tag that
// Matroska writers leave per track ("01:02:03.456000000").
double streamSeconds(const AVStream& s) {
  const double stated = seconds(s.duration, s.time_base);
  if (stated > 0) return stated;
  const AVDictionaryEntry* tag = av_dict_get(s.metadata, "DURATION", nullptr, 0);
  if (!tag) return 0;
  const QStringList parts = QString::fromUtf8(tag->value).split(QLatin1Char(':'));
  if (parts.size() != 3) return 0;
  bool okH = false, okM = false, okS = false;
  const double t = parts[0].toInt(&okH) * 3600.0 + parts[1].toInt(&okM) * 60.0 + parts[2].toDouble(&okS);
  return okH && okM && okS && t > 0 ? t : 0;
}

// A container whose frame count is not the count of frames it plays.
bool editedLength(const AVFormatContext& f) {
  return f.iformat && QByteArray(f.iformat->name).split(',').contains("mov");
}

// Of several streams of a kind, the one a player plays: the one marked
// default, else the first.
bool betterPick(const AVStream& s, int current, const AVFormatContext& f) {
  if (current < 0) return true;
  return (s.disposition & AV_DISPOSITION_DEFAULT) && !(f.streams[current]->disposition & AV_DISPOSITION_DEFAULT);
}

Rational rate(AVRational r) { return r.num > 0 && r.den > 0 ? Rational{r.num, r.den} : Rational{}; }

// What the container and the video and audio streams a player would play
// tell. A cover picture is not video.
MediaInfo describe(const AVFormatContext& f) {
  MediaInfo info;
  info.duration = seconds(f.duration, AV_TIME_BASE_Q);
  info.kbps = f.bit_rate > 0 ? static_cast<double>(f.bit_rate) / 1000.0 : 0.0;
  info.steadyClock = !(f.iformat && (f.iformat->flags & AVFMT_TS_DISCONT));
  int video = -1, audio = -1;
  for (unsigned i = 0; i < f.nb_streams; ++i) {
    const AVStream& s = *f.streams[i];
    const AVMediaType type = s.codecpar->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO && !(s.disposition & AV_DISPOSITION_ATTACHED_PIC) && betterPick(s, video, f))
      video = int(i);
    else if (type == AVMEDIA_TYPE_AUDIO && betterPick(s, audio, f))
      audio = int(i);
  }
  for (unsigned i = 0; i < f.nb_streams; ++i) {
    const AVStream& s = *f.streams[i];
    const AVCodecParameters& par = *s.codecpar;
    const bool coverArt = s.disposition & AV_DISPOSITION_ATTACHED_PIC;
    if (int(i) == video) {
      info.hasVideo = true;
      info.videoIndex = s.index;
      info.size = QSize(par.width, par.height);
      if (displayRotation(s) % 180 == 90) info.size.transpose();
      info.frameRate = rate(s.avg_frame_rate);
      if (info.frameRate.value() <= 0 || info.frameRate.value() > 1000) info.frameRate = rate(s.r_frame_rate);
      info.videoDuration = streamSeconds(s);
      // An MP4/MOV counts every sample it stores, also those its edit list
      // leaves out (a clip trimmed on a phone): only its edited length counts.
      if (s.nb_frames > 0 && info.frameRate.value() > 0 && !editedLength(f))
        info.declaredVideoDuration = static_cast<double>(s.nb_frames) / info.frameRate.value();
    } else if (int(i) == audio) {
      info.hasAudio = true;
      info.audioIndex = s.index;
      info.sampleRate = par.sample_rate;
      info.channels = par.ch_layout.nb_channels;
      info.audioDuration = streamSeconds(s);
    } else if (par.codec_type != AVMEDIA_TYPE_ATTACHMENT && !coverArt) {
      info.otherStreams = true;
    }
  }
  return info;
}

// FFmpeg tells that a picture is over max_pixels only in its log; the
// library's messages are otherwise dropped (they would end up among the
// tool's lines).
std::atomic<bool> overLimit{false};
void quietLog(void*, int, const char* fmt, va_list) {
  if (fmt && std::strstr(fmt, "max pixel count")) overLimit = true;
}

}  // namespace

bool pictureRefused() { return overLimit; }

// What a source may open besides itself: nothing, except the parts a
// playlist names.
struct Source::Guard {
  QString self;       // the source, links resolved
  QStringList parts;  // a playlist's parts, links resolved
  QString refused;    // the first name refused
  bool opened = false;
};

namespace {

bool isMediaName(const QString& path) {
  static const QStringList kinds = {"ts", "m2ts", "mts", "m4s", "mp4", "m4v", "m4a", "mov", "aac", "ac3", "eac3",
                                    "mp3", "mp2", "mpg", "mpeg", "vob", "mkv", "webm", "ogg", "oga", "ogv", "opus",
                                    "flac", "wav", "3gp", "avi", "flv", "m3u8", "m3u"};
  return kinds.contains(QFileInfo(path).suffix().toLower());
}

// The local path `url` names; empty for another protocol or a relative name.
QString localPath(const char* url) {
  QString name = QString::fromUtf8(url);
  if (name.startsWith(QLatin1String("file:"))) name = name.mid(5);
  else if (!name.startsWith(QLatin1Char('/'))) return {};  // "http:", "crypto+file:", "subfile,,..."
  if (!QDir::isAbsolutePath(name) || name.contains(QLatin1Char('?'))) return {};
  return name;
}

// Every input FFmpeg opens for this source comes here, the source itself first.
int guardedOpen(AVFormatContext* s, AVIOContext** pb, const char* url, int flags, AVDictionary** options) {
  auto* guard = static_cast<Source::Guard*>(s->opaque);
  const QString path = localPath(url);
  const QString real = path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
  bool allowed = !(flags & AVIO_FLAG_WRITE) && !real.isEmpty();
  if (allowed && real != guard->self) {
    // A playlist's parts only once the playlist reader has it; never
    // anything before the source is open.
    const bool playlist = guard->opened && s->iformat && std::strcmp(s->iformat->name, "hls") == 0;
    allowed = playlist && guard->parts.contains(real);
  }
  if (!allowed) {
    if (guard->refused.isEmpty()) guard->refused = QString::fromUtf8(url);
    return AVERROR(EPERM);
  }
  guard->opened = true;
  // The resolved name: a link swapped in between cannot redirect the open.
  const QByteArray target = QByteArrayLiteral("file:") + real.toUtf8();
  return avio_open2(pb, target.constData(), flags, &s->interrupt_callback, options);
}

// A playlist by its first bytes, as FFmpeg's playlist reader knows one.
bool isPlaylist(const QByteArray& head) { return head.startsWith("#EXTM3U"); }

// The file a playlist line names, beside `base`, links resolved; throws when
// it is anything but a media file beneath `root`.
QString partPath(const QString& uri, const QString& base, const QString& root) {
  const auto refuse = [&uri] {
    throw ToolError(QStringLiteral("the playlist asks to read what is not one of its parts, which is refused: %1").arg(uri),
                    Reason::OpensOtherFile);
  };
  QString name = uri;
  if (name.startsWith(QLatin1String("file:"))) name = name.mid(5);
  // Another protocol ("http:", "concat:", "subfile,,...:") or a query.
  static const QRegularExpression protocol(QStringLiteral("^[A-Za-z0-9+.,_-]*:"));
  if (protocol.match(name).hasMatch() || name.contains(QLatin1Char('?')) || name.contains(QLatin1Char('|')))
    refuse();
  const QString real = QFileInfo(QDir(base).absoluteFilePath(name)).canonicalFilePath();
  if (real.isEmpty() || !real.startsWith(root + QLatin1Char('/')) || !isMediaName(real) || !QFileInfo(real).isFile())
    refuse();
  return real;
}

void collectParts(const QString& playlist, const QString& root, QStringList& parts, int depth) {
  QFile file(playlist);
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray text = file.read(4 << 20);
  if (!isPlaylist(text)) return;
  const QString base = QFileInfo(playlist).absolutePath();
  static const QRegularExpression attribute(QStringLiteral("URI=\"([^\"]*)\""));
  for (QByteArray line : text.split('\n')) {
    line = line.trimmed();
    QString uri;
    if (line.startsWith('#')) {
      // Tags that name files: an initialisation part, a key, another rendition.
      const auto m = attribute.match(QString::fromUtf8(line));
      if (!m.hasMatch()) continue;
      uri = m.captured(1);
    } else {
      uri = QString::fromUtf8(line);
    }
    if (uri.isEmpty()) continue;
    const QString real = partPath(uri, base, root);
    if (parts.contains(real)) continue;
    QFile part(real);
    const QByteArray head = part.open(QIODevice::ReadOnly) ? part.read(64) : QByteArray();
    if (head.startsWith("ffconcat") || (isPlaylist(head) && depth >= 2))
      throw ToolError(QStringLiteral("the playlist's part is a list of other files, which are not read: %1").arg(uri),
                      Reason::OpensOtherFile);
    parts << real;
    if (isPlaylist(head)) collectParts(real, root, parts, depth + 1);
  }
}

// The seconds of sound a WAV's header promises and those its file holds:
// FFmpeg's reader quietly takes a data size larger than the file for the
// file's end. A header may leave the size open: a recording being written,
// or a writer that could not go back to fill it in (sox or arecord into a
// pipe) and left 0, 0xFFFFFFFF or a placeholder just below 2 GiB (sox:
// 0x7ffff000); its sound is then what the file holds. Nothing for any other
// layout.
struct WavLength {
  double promised = 0, held = 0;
  bool open = false;
};
constexpr quint32 kOpenWavSize = 0x7fff0000u;
WavLength wavLength(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const qint64 fileSize = file.size();
  const QByteArray head = file.read(1 << 16);
  const auto u32 = [&](qsizetype at) {
    return quint32(quint8(head[at])) | quint32(quint8(head[at + 1])) << 8 | quint32(quint8(head[at + 2])) << 16 |
           quint32(quint8(head[at + 3])) << 24;
  };
  if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE") return {};
  quint32 byteRate = 0;
  for (qsizetype at = 12; at + 8 <= head.size();) {
    const QByteArray id = head.mid(at, 4);
    const quint32 size = u32(at + 4);
    if (id == "fmt " && size >= 16 && at + 20 <= head.size()) byteRate = u32(at + 16);
    if (id == "data") {
      if (byteRate == 0) return {};
      const double held = static_cast<double>(std::max<qint64>(fileSize - (at + 8), 0)) / byteRate;
      if (size == 0 || size >= kOpenWavSize) return {0, held, true};
      return {static_cast<double>(size) / byteRate, held};
    }
    at += 8 + qsizetype(size) + (size & 1);
  }
  return {};
}

// Demuxers that open other files through a reader of their own, past any
// guard: refused whatever the file is called.
bool readsOtherFiles(const AVInputFormat* f) {
  return f && (std::strcmp(f->name, "concat") == 0 || std::strcmp(f->name, "avisynth") == 0 ||
               std::strcmp(f->name, "vapoursynth") == 0);
}

// Which demuxer FFmpeg chooses for `url`, read from its first bytes.
const AVInputFormat* probedFormat(const QByteArray& url) {
  AVIOContext* pb = nullptr;
  if (avio_open(&pb, url.constData(), AVIO_FLAG_READ) < 0) return nullptr;
  const AVInputFormat* f = nullptr;
  av_probe_input_buffer(pb, &f, url.constData(), nullptr, 0, 0);
  avio_closep(&pb);
  return f;
}

}  // namespace

int displayRotation(const AVStream& s) {
  const int32_t* matrix = ffcompat::displayMatrix(s);
  if (!matrix) return 0;
  const double theta = -av_display_rotation_get(matrix);
  if (std::isnan(theta)) return 0;
  const int turn = int(std::lround(theta / 90)) * 90;
  return ((turn % 360) + 360) % 360;
}

QByteArray fileUrl(const QString& path) {
  // FFmpeg takes file names in UTF-8 on every system; "file:" and an absolute
  // path leave no room for a protocol ("pipe:x.mp4") or an option.
  return QByteArrayLiteral("file:") + QFileInfo(path).absoluteFilePath().toUtf8();
}

QStringList playlistParts(const QString& path) {
  const QFileInfo fi(path);
  QStringList parts;
  if (fi.isFile()) collectParts(fi.canonicalFilePath(), fi.canonicalPath(), parts, 0);
  return parts;
}

Source::Source(const QString& path, const QStringList& parts) {
  const QFileInfo fi(path);
  if (!fi.exists())
    throw ToolError(QStringLiteral("the source does not exist: %1").arg(path), Reason::SourceMissing);
  if (!fi.isFile())
    throw ToolError(QStringLiteral("the source is not a file: %1").arg(path), Reason::SourceMissing);
  if (fi.size() == 0) throw ToolError(QStringLiteral("the source is empty: %1").arg(path), Reason::NotMedia);

  av_log_set_level(AV_LOG_QUIET);
  av_log_set_callback(quietLog);
  const QByteArray url = fileUrl(path);
  if (readsOtherFiles(probedFormat(url)))
    throw ToolError(QStringLiteral("the source is a list of other files, which are not read: %1").arg(path),
                    Reason::OpensOtherFile);
  guard_ = std::make_unique<Guard>();
  guard_->self = fi.canonicalFilePath();
  guard_->parts = parts;
  AVFormatContext* f = avformat_alloc_context();
  if (!f) throw ToolError(QStringLiteral("out of memory"), Reason::EncodeFailed);
  f->opaque = guard_.get();
  f->io_open = guardedOpen;
  av::Dictionary options;
  if (av_dict_set(options.address(), "protocol_whitelist", "file", 0) < 0) {
    avformat_free_context(f);
    throw ToolError(QStringLiteral("out of memory"), Reason::EncodeFailed);
  }
  // On failure avformat_open_input frees the context and leaves null.
  int err = avformat_open_input(&f, url.constData(), nullptr, options.address());
  av::Input opened(f);
  if (err >= 0) {
    // A picture beyond the limit is refused by the decoder before it takes
    // the memory for it.
    std::vector<AVDictionary*> perStream(opened->nb_streams, nullptr);
    bool set = true;
    for (AVDictionary*& d : perStream) set = set && av_dict_set_int(&d, "max_pixels", kMaxPicturePixels, 0) >= 0;
    if (set) err = avformat_find_stream_info(opened.get(), perStream.data());
    for (AVDictionary*& d : perStream) av_dict_free(&d);
    if (!set) throw ToolError(QStringLiteral("out of memory"), Reason::EncodeFailed);
  }
  if (pictureRefused())
    throw ToolError(QStringLiteral("the source's picture is larger than %1x%1").arg(kMaxPictureSide),
                    Reason::PictureTooLarge);
  if (!guard_->refused.isEmpty())
    throw ToolError(QStringLiteral("the source asks to read another file, which is refused: %1").arg(guard_->refused),
                    Reason::OpensOtherFile);
  if (err < 0)
    throw ToolError(QStringLiteral("the source is not a media file FFmpeg can read: %1").arg(av::errorText(err)),
                    Reason::NotMedia);
  info_ = describe(*opened);
  const MediaInfo& info = info_;
  context_ = std::move(opened);
  auto refuse = [this](const QString& why, Reason reason) {
    context_.reset();
    throw ToolError(why, reason);
  };

  // A header that counts more frames than the data holds (a cut-off AVI).
  if (info.videoDuration > 0 && ToolProtocol::fallsShort(info.videoDuration, info.declaredVideoDuration))
    truncated_ = QStringLiteral("the source is truncated: its header promises %1 s of video, the file holds %2 s")
                     .arg(info.declaredVideoDuration, 0, 'f', 2).arg(info.videoDuration, 0, 'f', 2);
  if (info_.hasAudio && context_->iformat && std::strcmp(context_->iformat->name, "wav") == 0) {
    const WavLength wav = wavLength(path);
    // A WAV whose header promises more sound than its file holds.
    if (ToolProtocol::fallsShort(wav.held, wav.promised))
      truncated_ = QStringLiteral("the source is truncated: its header promises %1 s of sound, the file holds %2 s")
                       .arg(wav.promised, 0, 'f', 2).arg(wav.held, 0, 'f', 2);
    // FFmpeg takes a placeholder (of the size or of the fact chunk's sample
    // count) for the length.
    if (wav.open && wav.held > 0)
      for (double* length : {&info_.duration, &info_.audioDuration})
        if (*length > wav.held) *length = wav.held;
  }
  if (!info.hasVideo && !info.hasAudio)
    refuse(QStringLiteral("the source holds neither video nor audio"), Reason::NotMedia);
  if (info.hasVideo && !pictureFits(info.size))
    refuse(QStringLiteral("the source's picture of %1x%2 is larger than %3x%3")
               .arg(info.size.width()).arg(info.size.height()).arg(kMaxPictureSide),
           Reason::PictureTooLarge);
}

Source::~Source() = default;

QString Source::refusedOpen() const { return guard_ ? guard_->refused : QString(); }

bool pictureFits(const QSize& size) {
  return size.width() <= kMaxPictureSide && size.height() <= kMaxPictureSide &&
         qint64(size.width()) * size.height() <= kMaxPicturePixels;
}

void Source::refuseIfTruncated() const {
  if (!truncated_.isEmpty()) throw ToolError(truncated_, Reason::SourceIncomplete);
}

}  // namespace toolkit
