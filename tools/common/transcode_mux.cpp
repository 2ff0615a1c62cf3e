#include "common/transcoder.h"

namespace toolkit::conversion {

void Transcoder::openOutput(const QByteArray& url) {
  const QByteArray muxer = plan_.muxer.toUtf8();
  AVFormatContext* out = nullptr;
  int err = avformat_alloc_output_context2(&out, nullptr, muxer.constData(), url.constData());
  out_.reset(out);
  if (err < 0 || !out_)
    throw Failed{Reason::EncodeFailed, QStringLiteral("FFmpeg has no %1 writer: %2").arg(plan_.muxer, av::errorText(err))};
  err = avio_open(&out_->pb, url.constData(), AVIO_FLAG_WRITE);
  if (err < 0) throw Failed{writeReason(err), QStringLiteral("cannot write %1: %2").arg(plan_.output, av::errorText(err))};
  // The source's title, artist and the like go along, as ffmpeg carries them.
  if (av_dict_copy(&out_->metadata, in_->metadata, 0) < 0 ||
      av_dict_set(&out_->metadata, "encoder", LIBAVFORMAT_IDENT, 0) < 0)
    throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  out_->max_delay = AV_TIME_BASE * 7 / 10;  // ffmpeg's -muxdelay
}

void Transcoder::write(Lane& lane, Packet pkt) {
  if (pkt->pts != AV_NOPTS_VALUE) {
    // A picture shows for at least one tick of its encoder's clock.
    const int64_t length = std::max<int64_t>(pkt->duration, lane.video ? 1 : 0);
    const double end = static_cast<double>(pkt->pts + length) * av_q2d(lane.encBase);
    state_.seconds = std::max(state_.seconds, end);
  }
  if (!headerWritten_) {
    // As ffmpeg: past 50 MB only 128 packets wait, and never without end.
    waitingBytes_ += pkt->size;
    if ((waitingBytes_ > kWaitingBytes && waiting_.size() >= kWaitingPackets) || waiting_.size() >= kMostWaiting) {
      const auto late = std::find_if(lanes_.begin(), lanes_.end(), [](const Lane& l) { return !l.ready; });
      throw Failed{Reason::SourceDamaged,
                   QStringLiteral("the source's %1 does not start: %2 packets (%3 MB) of the %4 wait for it")
                       .arg(late != lanes_.end() ? late->kind : QStringLiteral("stream"))
                       .arg(waiting_.size())
                       .arg(static_cast<double>(waitingBytes_) / 1e6, 0, 'f', 1)
                       .arg(lane.kind)};
    }
    waiting_.emplace_back(&lane, std::move(pkt));
    return;
  }
  mux(lane, pkt.get());
}

void Transcoder::mux(Lane& lane, AVPacket* pkt) {
  pkt->stream_index = lane.out->index;
  av_packet_rescale_ts(pkt, lane.encBase, lane.out->time_base);
  // An MP3 encoder's priming starts the sound a little before zero. AVI
  // plays its sound by its bytes from the start anyway; left below zero,
  // the muxer would move every picture on by a whole frame of its own
  // clock, which is seconds for a slide show.
  if (!lane.video && plan_.container == Container::AVI && pkt->dts != AV_NOPTS_VALUE) {
    if (lane.muxShift == AV_NOPTS_VALUE) lane.muxShift = std::max<int64_t>(-pkt->dts, 0);
    pkt->dts += lane.muxShift;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += lane.muxShift;
  }
  // Times that do not increase would end the muxer; ffmpeg moves them on.
  if (!(out_->oformat->flags & AVFMT_NOTIMESTAMPS) && pkt->dts != AV_NOPTS_VALUE) {
    if (lane.lastMuxDts != AV_NOPTS_VALUE) {
      const int64_t least = lane.lastMuxDts + ((out_->oformat->flags & AVFMT_TS_NONSTRICT) ? 0 : 1);
      if (pkt->dts < least) {
        if (pkt->pts != AV_NOPTS_VALUE && pkt->pts >= pkt->dts) pkt->pts = std::max(pkt->pts, least);
        pkt->dts = least;
      }
    }
    lane.lastMuxDts = pkt->dts;
  }
  const int err = av_interleaved_write_frame(out_.get(), pkt);
  if (err < 0) throw Failed{writeReason(err), QStringLiteral("cannot write %1: %2").arg(plan_.output, av::errorText(err))};
}

void Transcoder::startWriting() {
  av::Dictionary opts;
  const int err = avformat_write_header(out_.get(), opts.address());
  if (err < 0) throw Failed{writeReason(err), QStringLiteral("cannot start %1: %2").arg(plan_.output, av::errorText(err))};
  headerWritten_ = true;
  while (!waiting_.empty()) {
    auto [lane, pkt] = std::move(waiting_.front());
    waiting_.pop_front();
    mux(*lane, pkt.get());
  }
}

void Transcoder::finishOutput() {
  int err = av_interleaved_write_frame(out_.get(), nullptr);
  if (err >= 0) err = av_write_trailer(out_.get());
  if (err >= 0 && out_->pb->error < 0) err = out_->pb->error;
  if (err >= 0) state_.sizeKB = static_cast<double>(std::max<int64_t>(avio_size(out_->pb), 0)) / 1024.0;
  if (state_.seconds > 0) state_.kbps = state_.sizeKB * 8 * 1.024 / state_.seconds;
  const int closed = avio_closep(&out_->pb);
  if (err >= 0) err = closed;
  if (err < 0) throw Failed{writeReason(err), QStringLiteral("cannot write %1: %2").arg(plan_.output, av::errorText(err))};
}

}  // namespace toolkit::conversion
