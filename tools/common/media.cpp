#include "common/media.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>

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

Rational rate(AVRational r) { return r.num > 0 && r.den > 0 ? Rational{r.num, r.den} : Rational{}; }

QString avError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return QString::fromUtf8(text);
}

// What the container and the first video and audio streams tell. A cover
// picture is not video.
MediaInfo describe(const AVFormatContext& f) {
  MediaInfo info;
  info.duration = seconds(f.duration, AV_TIME_BASE_Q);
  info.kbps = f.bit_rate > 0 ? static_cast<double>(f.bit_rate) / 1000.0 : 0.0;
  for (unsigned i = 0; i < f.nb_streams; ++i) {
    const AVStream& s = *f.streams[i];
    const AVCodecParameters& par = *s.codecpar;
    const bool coverArt = s.disposition & AV_DISPOSITION_ATTACHED_PIC;
    if (par.codec_type == AVMEDIA_TYPE_VIDEO && !coverArt && !info.hasVideo) {
      info.hasVideo = true;
      info.videoIndex = s.index;
      info.size = QSize(par.width, par.height);
      if (displayRotation(s) % 180 == 90) info.size.transpose();
      info.frameRate = rate(s.avg_frame_rate);
      if (info.frameRate.value() <= 0 || info.frameRate.value() > 1000) info.frameRate = rate(s.r_frame_rate);
      info.videoDuration = streamSeconds(s);
      if (s.nb_frames > 0 && info.frameRate.value() > 0)
        info.declaredVideoDuration = static_cast<double>(s.nb_frames) / info.frameRate.value();
    } else if (par.codec_type == AVMEDIA_TYPE_AUDIO && !info.hasAudio) {
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

Source::Source(const QString& path) {
  const QFileInfo fi(path);
  if (!fi.exists())
    throw ToolError(QStringLiteral("the source does not exist: %1").arg(path), Reason::SourceMissing);
  if (!fi.isFile())
    throw ToolError(QStringLiteral("the source is not a file: %1").arg(path), Reason::SourceMissing);
  if (fi.size() == 0) throw ToolError(QStringLiteral("the source is empty: %1").arg(path), Reason::NotMedia);

  // The library's own messages would end up among the tool's lines.
  av_log_set_level(AV_LOG_QUIET);
  AVFormatContext* f = nullptr;
  int err = avformat_open_input(&f, fileUrl(path).constData(), nullptr, nullptr);
  if (err >= 0) {
    err = avformat_find_stream_info(f, nullptr);
    if (err < 0) avformat_close_input(&f);
  }
  if (err < 0)
    throw ToolError(QStringLiteral("the source is not a media file FFmpeg can read: %1").arg(avError(err)),
                    Reason::NotMedia);
  info_ = describe(*f);
  const MediaInfo& info = info_;
  context_ = f;
  auto refuse = [this](const QString& why, Reason reason) {
    avformat_close_input(&context_);
    throw ToolError(why, reason);
  };

  // A header that counts more frames than the data holds (a cut-off AVI).
  const double missing = info.declaredVideoDuration - info.videoDuration;
  if (info.videoDuration > 0 && missing > std::max(0.5, 0.05 * info.declaredVideoDuration))
    refuse(QStringLiteral("the source is truncated: its header promises %1 s of video, the file holds %2 s")
               .arg(info.declaredVideoDuration, 0, 'f', 2).arg(info.videoDuration, 0, 'f', 2),
           Reason::SourceIncomplete);
  if (!info.hasVideo && !info.hasAudio)
    refuse(QStringLiteral("the source holds neither video nor audio"), Reason::NotMedia);
}

Source::~Source() { avformat_close_input(&context_); }

MediaInfo probe(const QString& path) { return Source(path).info(); }

}  // namespace toolkit
