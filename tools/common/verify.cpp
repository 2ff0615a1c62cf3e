#include "common/verify.h"

#include <QMap>
#include <algorithm>
#include <cmath>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include "common/avowners.h"
#include "common/media.h"

namespace toolkit {

OutputStreams readOutput(const QString& path) {
  AVFormatContext* opened = nullptr;
  if (avformat_open_input(&opened, fileUrl(path).constData(), nullptr, nullptr) < 0)
    throw ToolError(QStringLiteral("the finished file cannot be opened again"));
  const av::Input f(opened);
  struct Span {
    qint64 packets = 0;
    double first = HUGE_VAL, end = -HUGE_VAL;
    bool endHasLength = true;  // whether the packet that reaches furthest says how long it lasts
  };
  QMap<int, Span> spans;
  const av::Packet pkt(av_packet_alloc());
  if (!pkt) throw ToolError(QStringLiteral("out of memory"));
  int err = 0;
  while ((err = av_read_frame(f.get(), pkt.get())) >= 0) {
    const AVStream* s = f->streams[pkt->stream_index];
    Span& span = spans[pkt->stream_index];
    ++span.packets;
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (ts != AV_NOPTS_VALUE) {
      const double t = static_cast<double>(ts) * av_q2d(s->time_base);
      span.first = std::min(span.first, t);
      const double end = t + static_cast<double>(std::max<int64_t>(pkt->duration, 0)) * av_q2d(s->time_base);
      if (end >= span.end) {
        span.end = end;
        span.endHasLength = pkt->duration > 0;
      }
    }
    av_packet_unref(pkt.get());
  }
  OutputStreams out;
  for (unsigned i = 0; i < f->nb_streams; ++i) {
    Span span = spans.value(int(i));
    if (span.packets == 0) continue;
    const AVStream* s = f->streams[i];
    // A container that keeps no packet lengths (RealMedia): the last picture
    // shows as long as the pictures before it, on average.
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !span.endHasLength && span.packets > 1 && span.end > span.first)
      span.end += (span.end - span.first) / static_cast<double>(span.packets - 1);
    const AVRational fps = s->avg_frame_rate.num > 0 ? s->avg_frame_rate : s->r_frame_rate;
    const StreamSpan got{span.packets, span.end > span.first ? span.end - span.first : 0.0,
                         fps.num > 0 && fps.den > 0 ? av_q2d(fps) : 0.0};
    const AVMediaType type = s->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO && !out.video) out.video = got;
    if (type == AVMEDIA_TYPE_AUDIO && !out.audio) out.audio = got;
  }
  if (err != AVERROR_EOF) throw ToolError(QStringLiteral("the finished file cannot be read to its end"));
  return out;
}

std::optional<Shortfall> judgeOutput(const Plan& plan, const OutputStreams& out, double secondsRead,
                                     bool sourceDamaged, const StreamsRead& read) {
  const Reason missing = sourceDamaged ? Reason::SourceDamaged : Reason::EncodeFailed;
  const auto judge = [&](bool written, const std::optional<StreamSpan>& got, double sourceLength,
                         double streamRead, const QString& kind) -> std::optional<Shortfall> {
    if (!written) return std::nullopt;
    if (!got)
      return Shortfall{missing, sourceDamaged
                                    ? QStringLiteral("the source's %1 could not be decoded: the output has no %1").arg(kind)
                                    : QStringLiteral("the output has no %1").arg(kind)};
    const double frames = got->rate * got->seconds;
    if (got->rate > 0 && got->rate <= 1000 && static_cast<double>(got->packets) < 0.5 * frames)
      return Shortfall{missing, QStringLiteral("%1the output's %2 holds %3 of about %4 frames")
                                    .arg(sourceDamaged ? QStringLiteral("the source's %1 could not be decoded: ").arg(kind)
                                                       : QString(),
                                         kind)
                                    .arg(got->packets)
                                    .arg(std::llround(frames))};
    const double expected = sourceLength > 0 ? sourceLength : streamRead > 0 ? streamRead : secondsRead;
    // A picture's last frame may carry no length of its own (a still over
    // music, a 1 fps slide show): one frame of the output's rate is slack.
    const double frame = got->rate > 0 && got->rate <= 1000 ? 1.01 / got->rate : 0.0;
    if (expected <= 0 || got->seconds + std::max({0.5, 0.1 * expected, frame}) >= expected) return std::nullopt;
    return Shortfall{missing,
                     QStringLiteral("%1the output's %2 lasts %3 s of %4 s")
                         .arg(sourceDamaged ? QStringLiteral("the source's %1 could not be decoded: ").arg(kind)
                                            : QString(),
                              kind)
                         .arg(got->seconds, 0, 'f', 2)
                         .arg(expected, 0, 'f', 2)};
  };
  if (auto v = judge(plan.video, out.video, plan.videoDuration, read.video, QStringLiteral("video"))) return v;
  if (auto a = judge(plan.audio, out.audio, plan.audioDuration, read.audio, QStringLiteral("audio"))) return a;
  const double written = std::max(out.video ? out.video->seconds : 0.0, out.audio ? out.audio->seconds : 0.0);
  if (read.source > 0 && written > read.source + std::max(1.0, 0.05 * read.source))
    return Shortfall{Reason::SourceDamaged,
                     QStringLiteral("the output lasts %1 s, but only %2 s of the source could be read: its times "
                                    "claim more than it holds")
                         .arg(written, 0, 'f', 2)
                         .arg(read.source, 0, 'f', 2)};
  return std::nullopt;
}

}  // namespace toolkit
