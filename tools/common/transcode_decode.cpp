#include "common/transcoder.h"
#include "common/media.h"

namespace toolkit::conversion {

void Transcoder::openLane(Lane& lane, int index, bool video) {
  lane.video = video;
  lane.kind = video ? QStringLiteral("video") : QStringLiteral("audio");
  if (index < 0 || index >= int(in_->nb_streams))
    throw Failed{Reason::EncodeFailed, QStringLiteral("the source has no stream %1").arg(index)};
  lane.in = in_->streams[index];
  lane.in->discard = AVDISCARD_DEFAULT;
  if (in_->start_time != AV_NOPTS_VALUE)
    lane.offset = av_rescale_q(in_->start_time, AV_TIME_BASE_Q, lane.in->time_base);
  const AVCodec* codec = avcodec_find_decoder(lane.in->codecpar->codec_id);
  if (!codec)
    throw Failed{Reason::SourceDamaged, QStringLiteral("the source's %1 could not be decoded: FFmpeg has no decoder for %2")
                                            .arg(lane.kind, QString::fromUtf8(avcodec_get_name(lane.in->codecpar->codec_id)))};
  lane.dec.reset(avcodec_alloc_context3(codec));
  if (!lane.dec || avcodec_parameters_to_context(lane.dec.get(), lane.in->codecpar) < 0)
    throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  lane.dec->pkt_timebase = lane.in->time_base;
  if (video) lane.dec->framerate = av_guess_frame_rate(in_, lane.in, nullptr);
  av::Dictionary opts;
  if (av_dict_set(opts.address(), "threads", "auto", 0) < 0 ||
      av_dict_set_int(opts.address(), "max_pixels", kMaxPicturePixels, 0) < 0)  // a stream that grows midway
    throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  const int err = avcodec_open2(lane.dec.get(), codec, opts.address());
  if (err < 0)
    throw Failed{Reason::SourceDamaged,
                 QStringLiteral("the source's %1 could not be decoded: %2").arg(lane.kind, av::errorText(err))};
  // The output's streams in the plan's order, picture first, whichever
  // decodes first.
  lane.out = avformat_new_stream(out_.get(), nullptr);
  if (!lane.out) throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  if (const AVDictionaryEntry* lang = av_dict_get(lane.in->metadata, "language", nullptr, 0);
      lang && av_dict_set(&lane.out->metadata, "language", lang->value, 0) < 0)
    throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  if (!video && plan_.audioCodec == AudioCodec::AMRNB) {
    lane.amr = std::make_unique<AmrThread>(plan_.audioKbps);
    if (const QString why = lane.amr->failure(); !why.isEmpty()) throw Failed{Reason::EncodeFailed, why};
  }
}

// Streams that may restart their clock (MPEG-TS: a recording across
// programmes, files joined end to end) are made continuous, by ffmpeg's
// rule: a jump of over 10 s, or back by over 0.1 s, shifts every later time.
void Transcoder::mend(Lane& lane, AVPacket* pkt) {
  const AVRational base = lane.in->time_base;
  if (jump_) {
    const int64_t shift = av_rescale_q(jump_, AV_TIME_BASE_Q, base);
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += shift;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += shift;
  }
  if (!(in_->iformat->flags & AVFMT_TS_DISCONT)) {
    closeGap(lane, pkt);
  } else if (pkt->dts != AV_NOPTS_VALUE) {
    mendDiscontinuity(lane, pkt);
  }
  const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
  if (ts != AV_NOPTS_VALUE) {
    const int64_t end = ts + std::max<int64_t>(lane.video ? pictureLength(*lane.in, pkt->duration) : pkt->duration, 0);
    lane.firstRead = lane.firstRead == AV_NOPTS_VALUE ? ts : std::min(lane.firstRead, ts);
    lane.endRead = lane.endRead == AV_NOPTS_VALUE ? end : std::max(lane.endRead, end);
  }
}

// A stream whose clock leaps hours ahead between two packets (a damaged
// recording, a muxer's wrong time) holds nothing in between: the leap is
// closed, as ffmpeg drops such times, instead of hours of repeated frames.
void Transcoder::closeGap(Lane& lane, AVPacket* pkt) {
  constexpr int64_t kFarLeap = 3600LL * AV_TIME_BASE;
  const AVRational base = lane.in->time_base;
  if (lane.gap) {
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += lane.gap;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += lane.gap;
  }
  if (pkt->duration > av_rescale_q(kFarLeap, AV_TIME_BASE_Q, base)) pkt->duration = 0;
  const int64_t at = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
  if (at == AV_NOPTS_VALUE) return;
  // A stream that starts hours after the others (ASF video from GStreamer
  // stamped near +1000 h beside its sound at 0) holds nothing before: it
  // starts with them.
  int64_t from = lane.nextDts;
  if (from == AV_NOPTS_VALUE)
    for (const Lane& other : lanes_)
      if (&other != &lane && other.in->start_time != AV_NOPTS_VALUE) {
        const int64_t start = av_rescale_q(other.in->start_time, other.in->time_base, AV_TIME_BASE_Q);
        from = from == AV_NOPTS_VALUE ? start : std::min(from, start);
      }
  const int64_t leap = from == AV_NOPTS_VALUE ? 0 : av_rescale_q(at, base, AV_TIME_BASE_Q) - from;
  if (leap > kFarLeap) {
    const int64_t shift = -av_rescale_q(leap, AV_TIME_BASE_Q, base);
    lane.gap += shift;
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += shift;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += shift;
  }
  const int64_t length = pkt->duration > 0 ? pkt->duration : 0;
  lane.nextDts = av_rescale_q((pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts) + length, base, AV_TIME_BASE_Q);
}

void Transcoder::mendDiscontinuity(Lane& lane, AVPacket* pkt) {
  const AVRational base = lane.in->time_base;
  int64_t dts = av_rescale_q(pkt->dts, base, AV_TIME_BASE_Q);
  if (lane.nextDts != AV_NOPTS_VALUE) {
    const int64_t delta = dts - lane.nextDts;
    if (delta < -10LL * AV_TIME_BASE || delta > 10LL * AV_TIME_BASE || dts + AV_TIME_BASE / 10 < lane.lastDts) {
      jump_ -= delta;
      const int64_t shift = av_rescale_q(-delta, AV_TIME_BASE_Q, base);
      pkt->dts += shift;
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += shift;
      dts -= delta;
    }
  }
  lane.lastDts = dts;
  lane.nextDts = dts + (pkt->duration > 0 ? av_rescale_q(pkt->duration, base, AV_TIME_BASE_Q) : 0);
}

// A stream whose pictures grow past the limit midway ends the conversion.
static void refuseHugePicture(int err) {
  if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF && pictureRefused())
    throw Failed{Reason::PictureTooLarge, QStringLiteral("the source's picture grows larger than %1x%1").arg(kMaxPictureSide)};
}

// A picture beyond the limit on either side ends the conversion before it
// reaches the filters: the decoder's max_pixels bounds only width times
// height, so a stream may grow midway to 16000x64, say. Checked for every
// frame and for every size the decoder takes on.
static void refuseWidePicture(int width, int height) {
  if (!pictureFits(QSize(width, height)))
    throw Failed{Reason::PictureTooLarge, QStringLiteral("the source's picture grows to %1x%2, larger than %3x%3")
                                              .arg(width).arg(height).arg(kMaxPictureSide)};
}

void Transcoder::decode(Lane& lane, const AVPacket* pkt) {
  int err = avcodec_send_packet(lane.dec.get(), pkt);
  refuseHugePicture(err);
  if (lane.video) refuseWidePicture(lane.dec->width, lane.dec->height);
  if (err < 0 && err != AVERROR_EOF) {
    // As ffmpeg does: a packet that cannot be decoded is skipped.
    decodeError_ = true;
    ++undecodable_;
    return;
  }
  while ((err = avcodec_receive_frame(lane.dec.get(), frame_.get())) >= 0) {
    ++decoded_;
    if (lane.video) refuseWidePicture(frame_->width, frame_->height);
    filter(lane, frame_.get());
    av_frame_unref(frame_.get());
  }
  refuseHugePicture(err);
  if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) {
    decodeError_ = true;
    ++undecodable_;
  }
}

}  // namespace toolkit::conversion
