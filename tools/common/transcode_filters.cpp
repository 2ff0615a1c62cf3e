#include "common/transcoder.h"
#include "common/ffcompat.h"
#include "common/media.h"

namespace toolkit::conversion {

void Transcoder::filter(Lane& lane, AVFrame* frame) {
  frame->pts = frame->best_effort_timestamp;
  if (frame->pts != AV_NOPTS_VALUE) frame->pts -= lane.offset;
  // A frame without a time follows the one before; the first one of a
  // stream without any (a raw H.264 file) starts it.
  else frame->pts = lane.end == AV_NOPTS_VALUE ? 0 : lane.end;
  if (!lane.video && frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    const int channels = frame->ch_layout.nb_channels;
    av_channel_layout_uninit(&frame->ch_layout);
    av_channel_layout_default(&frame->ch_layout, channels);
  }
  if (lane.video) ++lane.pictures;
  if (frame->pts != AV_NOPTS_VALUE) {
    int64_t length = ffcompat::frameDuration(*frame);
    if (lane.video) length = pictureLength(*lane.in, length);
    if (length <= 0 && !lane.video && frame->sample_rate > 0)
      length = av_rescale_q(frame->nb_samples, AVRational{1, frame->sample_rate}, lane.in->time_base);
    lane.end = lane.end == AV_NOPTS_VALUE ? frame->pts + length : std::max(lane.end, frame->pts + length);
  }
  // AVI and RealMedia sound that starts late is led in with silence, but
  // only when its times run on with its samples: a muxer that stamps every
  // packet alike (FLV's Speex from GStreamer) gives no start to keep.
  if (!lane.ready && !lane.video && !lane.held && (plan_.container == Container::AVI || plan_.container == Container::RM) &&
      frame->pts != AV_NOPTS_VALUE && frame->pts > 0 && static_cast<double>(frame->pts) * av_q2d(lane.in->time_base) < 60) {
    lane.held.reset(av_frame_clone(frame));
    if (!lane.held) throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
    return;
  }
  if (lane.held) releaseHeld(lane, frame);
  if (!lane.ready) {
    setUp(lane, *frame);
  } else if (!lane.video && soundFormat(*frame) != lane.takes) {
    // As ffmpeg does: what the old filters have ready goes on, then new ones.
    drain(lane);
    setUpFilters(lane, *frame);
    fitFrames(lane);
  }
  push(lane, frame);
}

void Transcoder::push(Lane& lane, AVFrame* frame) {
  const int err = av_buffersrc_add_frame_flags(lane.src, frame, 0);
  if (err < 0)
    throw Failed{Reason::EncodeFailed, QStringLiteral("the %1 filters failed: %2").arg(lane.kind, av::errorText(err))};
  drain(lane);
}

// The held first frame goes on, led in when the frame after it (none: the
// sound ends there) starts where it ends, or near.
void Transcoder::releaseHeld(Lane& lane, AVFrame* next) {
  Frame held = std::move(lane.held);
  const int64_t length = held->sample_rate > 0
                             ? av_rescale_q(held->nb_samples, AVRational{1, held->sample_rate}, lane.in->time_base)
                             : 0;
  lane.leadIn = !next || next->pts == AV_NOPTS_VALUE || next->pts >= held->pts + length / 2;
  if (!lane.leadIn) {
    // Its samples run on from the start, as AVI plays them, and the file
    // promises no more than they hold.
    const int64_t shift = held->pts;
    lane.offset += shift;
    lane.end -= shift;
    held->pts = 0;
    next->pts = std::max<int64_t>(next->pts - shift, 0);
  }
  setUp(lane, *held);
  push(lane, held.get());
}

void Transcoder::setUp(Lane& lane, const AVFrame& first) {
  setUpFilters(lane, first);
  setUpEncoder(lane, first);
  fitFrames(lane);
  lane.ready = true;
  if (std::all_of(lanes_.begin(), lanes_.end(), [](const Lane& l) { return l.ready; })) startWriting();
}

// The default layout of `channels`, as text for the filters.
static QByteArray layoutText(const AVChannelLayout& given, int channels) {
  AVChannelLayout layout{};
  if (given.order != AV_CHANNEL_ORDER_UNSPEC && given.nb_channels > 0)
    av_channel_layout_copy(&layout, &given);
  else
    av_channel_layout_default(&layout, channels);
  char text[128] = {};
  av_channel_layout_describe(&layout, text, sizeof text);
  av_channel_layout_uninit(&layout);
  return QByteArray(text);
}

QByteArray soundFormat(const AVFrame& f) {
  return QByteArray::number(f.sample_rate) + ' ' + QByteArray::number(f.format) + ' ' +
         layoutText(f.ch_layout, f.ch_layout.nb_channels);
}

void Transcoder::setUpFilters(Lane& lane, const AVFrame& first) {
  lane.graph.reset(avfilter_graph_alloc());
  if (!lane.graph) throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  QByteArray srcArgs, chain;
  const AVRational base = lane.in->time_base;
  if (lane.video) {
    const AVRational sar = first.sample_aspect_ratio.num > 0 ? first.sample_aspect_ratio : AVRational{1, 1};
    srcArgs = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:pixel_aspect=%6/%7")
                  .arg(first.width).arg(first.height).arg(first.format).arg(base.num).arg(base.den)
                  .arg(sar.num).arg(sar.den).toUtf8();
    // A steady rate first (fewer pictures to scale when it drops some), then
    // the size and the 4:2:0 pixels every codec here takes.
    Rational rate = plan_.frameRate.value_or(Rational{});
    if (rate.value() <= 0) {
      const AVRational guessed = av_guess_frame_rate(in_, lane.in, nullptr);
      rate = guessed.num > 0 && guessed.den > 0 ? Rational{guessed.num, guessed.den} : Rational{25, 1};
    }
    int num = 0, den = 0;
    av_reduce(&num, &den, rate.num, rate.den, 65535);
    // A picture stored on its side is turned upright, as ffmpeg does.
    static const char* const turns[] = {"", "transpose=clock,", "hflip,vflip,", "transpose=cclock,"};
    const int rotation = displayRotation(*lane.in);
    QSize size = plan_.size;
    if (!size.isValid()) size = rotation % 180 ? QSize(first.height, first.width) : QSize(first.width, first.height);
    // RealMedia times its pictures by their count: a picture that starts
    // after the sound is held from the start, as ffmpeg's steady rate does.
    const bool fromStart = plan_.container == Container::RM && first.pts != AV_NOPTS_VALUE &&
                           first.pts > 0 && static_cast<double>(first.pts) * av_q2d(base) < 60;
    chain = QStringLiteral("fps=%1/%2%3,%4scale=%5:%6,format=yuv420p")
                .arg(num).arg(den)
                .arg(fromStart ? QStringLiteral(":start_time=0") : QString(), QLatin1String(turns[rotation / 90]))
                .arg(size.width()).arg(size.height()).toUtf8();
  } else {
    lane.takes = soundFormat(first);
    srcArgs = QStringLiteral("time_base=%1/%2:sample_rate=%3:sample_fmt=%4:channel_layout=%5")
                  .arg(base.num).arg(base.den).arg(first.sample_rate)
                  .arg(QString::fromUtf8(av_get_sample_fmt_name(AVSampleFormat(first.format))),
                       QString::fromUtf8(layoutText(first.ch_layout, first.ch_layout.nb_channels)))
                  .toUtf8();
    const AVSampleFormat wanted = lane.amr ? AV_SAMPLE_FMT_S16 : [&] {
      const AVCodec* codec = avcodec_find_encoder_by_name(traits(plan_.audioCodec).encoder.toUtf8().constData());
      const AVSampleFormat* formats = codec ? ffcompat::sampleFormats(*codec) : nullptr;
      if (!formats) return AVSampleFormat(first.format);
      // The source's own format when the encoder takes it, else its first.
      for (const AVSampleFormat* f = formats; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == first.format) return *f;
      return formats[0];
    }();
    // AVI and RealMedia sound runs on by its sample count from the start:
    // sound that starts after the picture is led in with silence, or it
    // would play early and the file would promise more than it holds. New
    // filters for a change of format midway go on where the old ones ended.
    const bool fromStart = !lane.ready && lane.leadIn;
    AVChannelLayout none{};
    chain = QStringLiteral("aresample=%1%2,aformat=sample_fmts=%3:channel_layouts=%4")
                .arg(plan_.sampleRate)
                // Only the start is filled: later times are not followed, as
                // ffmpeg does not (a muxer's broken times would cut sound).
                .arg(fromStart ? QStringLiteral(":first_pts=0:min_hard_comp=100000") : QString())
                .arg(QString::fromUtf8(av_get_sample_fmt_name(wanted)),
                     QString::fromUtf8(layoutText(none, plan_.channels)))
                .toUtf8();
  }
  AVFilterGraph* g = lane.graph.get();
  const char* srcName = lane.video ? "buffer" : "abuffer";
  const char* sinkName = lane.video ? "buffersink" : "abuffersink";
  const AVFilter* srcFilter = avfilter_get_by_name(srcName);
  const AVFilter* sinkFilter = avfilter_get_by_name(sinkName);
  if (!srcFilter || !sinkFilter)
    throw Failed{Reason::EncodeFailed, QStringLiteral("FFmpeg has no %1 filter").arg(QLatin1String(srcFilter ? sinkName : srcName))};
  int err = avfilter_graph_create_filter(&lane.src, srcFilter, "in", srcArgs.constData(), nullptr, g);
  if (err >= 0) err = avfilter_graph_create_filter(&lane.sink, sinkFilter, "out", nullptr, nullptr, g);
  AVFilterInOut* outputs = nullptr;
  AVFilterInOut* inputs = nullptr;
  if (err >= 0) {
    outputs = avfilter_inout_alloc();
    inputs = avfilter_inout_alloc();
    if (!outputs || !inputs) err = AVERROR(ENOMEM);
  }
  if (err >= 0) {
    outputs->name = av_strdup("in");
    outputs->filter_ctx = lane.src;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = lane.sink;
    err = outputs->name && inputs->name ? avfilter_graph_parse_ptr(g, chain.constData(), &inputs, &outputs, nullptr)
                                        : AVERROR(ENOMEM);
  }
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  if (err >= 0) err = avfilter_graph_config(g, nullptr);
  if (err < 0)
    throw Failed{Reason::EncodeFailed, QStringLiteral("the %1 filters cannot be set up (%2): %3")
                                           .arg(lane.kind, QString::fromUtf8(chain), av::errorText(err))};
}

// An audio encoder that takes frames of one size gets them so from the filters.
void Transcoder::fitFrames(Lane& lane) {
  const AVCodecContext* enc = lane.enc.get();
  if (!lane.video && enc && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && enc->frame_size > 0)
    av_buffersink_set_frame_size(lane.sink, unsigned(enc->frame_size));
}

void Transcoder::drain(Lane& lane) {
  int err;
  const AVRational base = av_buffersink_get_time_base(lane.sink);
  while ((err = av_buffersink_get_frame(lane.sink, filtered_.get())) >= 0) {
    if (filtered_->pts != AV_NOPTS_VALUE) filtered_->pts = av_rescale_q(filtered_->pts, base, lane.encBase);
    else filtered_->pts = lane.next;
    lane.next = filtered_->pts + (lane.video ? 1 : filtered_->nb_samples);
    encode(lane, filtered_.get());
    av_frame_unref(filtered_.get());
    // One packet may give many frames (a gap in the times filled at a steady
    // rate): the progress, and with it a stop request, is heard here too.
    report();
  }
  if (err != AVERROR(EAGAIN) && err != AVERROR_EOF)
    throw Failed{Reason::EncodeFailed, QStringLiteral("the %1 filters failed: %2").arg(lane.kind, av::errorText(err))};
}

}  // namespace toolkit::conversion
