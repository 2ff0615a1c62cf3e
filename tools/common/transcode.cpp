#include "common/transcode.h"

#include "common/transcoder.h"

namespace toolkit {
namespace conversion {

Reason writeReason(int code) {
  return code < 0 && AVUNERROR(code) > 0 && AVUNERROR(code) < 4096 ? reasonForErrno(AVUNERROR(code))
                                                                     : Reason::EncodeFailed;
}

Packet newPacket() {
  Packet p(av_packet_alloc());
  if (!p) throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  return p;
}
Frame newFrame() {
  Frame f(av_frame_alloc());
  if (!f) throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  return f;
}

// The packets and encoders go before the output they were made for.
Transcoder::~Transcoder() {
  waiting_.clear();
  lanes_.clear();
}

TranscodeResult Transcoder::run(const QByteArray& url) {
  TranscodeResult r;
  try {
    clock_.start();
    sinceReport_.start();
    frame_ = newFrame();
    filtered_ = newFrame();
    openOutput(url);
    if (plan_.video) openLane(lanes_.emplace_back(), plan_.videoIndex, true);
    if (plan_.audio) openLane(lanes_.emplace_back(), plan_.audioIndex, false);
    // Streams not converted are skipped, but for the picture of a sound
    // taken alone: its packets tell whether the source is whole.
    for (unsigned i = 0; i < in_->nb_streams; ++i) {
      const AVStream& s = *in_->streams[i];
      const bool picture = s.codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s.disposition & AV_DISPOSITION_ATTACHED_PIC);
      if (std::none_of(lanes_.begin(), lanes_.end(), [&](const Lane& l) { return l.in->index == int(i); }) &&
          !(picture && int(i) == plan_.watchIndex))
        in_->streams[i]->discard = AVDISCARD_ALL;
    }
    Packet pkt = newPacket();
    for (;;) {
      const int err = av_read_frame(in_, pkt.get());
      if (err == AVERROR(EAGAIN)) continue;
      if (err < 0) {
        // FFmpeg ends the input at a read error as at its end; what is
        // missing shows in the length written.
        if (err != AVERROR_EOF) decodeError_ = true;
        break;
      }
      noteRead(*pkt);
      for (Lane& lane : lanes_)
        if (lane.in->index == pkt->stream_index) {
          mend(lane, pkt.get());
          decode(lane, pkt.get());
        }
      av_packet_unref(pkt.get());
      report();
    }
    // Every stream is decoded to its end before any is closed: a still
    // picture's end is the sound's.
    for (Lane& lane : lanes_) {
      decode(lane, nullptr);
      if (lane.held) releaseHeld(lane, nullptr);
      if (!lane.ready)
        throw Failed{decodeError_ ? Reason::SourceDamaged : Reason::EncodeFailed,
                     decodeError_ ? QStringLiteral("the source's %1 could not be decoded").arg(lane.kind)
                                  : QStringLiteral("the source's %1 stream holds nothing to convert").arg(lane.kind)};
    }
    for (Lane& lane : lanes_) {
      // The end is where the last frame ends, so that a steady rate keeps it.
      const int64_t end = lane.video ? stillEnd(lane) : lane.end;
      if ((end == AV_NOPTS_VALUE ? av_buffersrc_add_frame(lane.src, nullptr)
                                 : av_buffersrc_close(lane.src, end, AV_BUFFERSRC_FLAG_PUSH)) < 0)
        throw Failed{Reason::EncodeFailed, QStringLiteral("the %1 filters cannot end").arg(lane.kind)};
      drain(lane);
      encode(lane, nullptr);
    }
    // ffmpeg gives up on a source of which more than two thirds cannot be
    // decoded, whatever it wrote.
    if (3 * undecodable_ > 2 * (decoded_ + undecodable_))
      throw Failed{Reason::SourceDamaged, QStringLiteral("the source could not be decoded: %1 of %2 pieces are damaged")
                                              .arg(undecodable_).arg(decoded_ + undecodable_)};
    finishOutput();
    r.ok = true;
  } catch (const Failed& f) {
    r.reason = f.reason;
    r.why = f.why;
  } catch (const Stopped&) {
    r.stopped = true;
    r.reason = Reason::Stopped;
  } catch (const std::exception& e) {
    // Out of memory, or no thread for the AMR encoder.
    r.reason = Reason::EncodeFailed;
    r.why = QString::fromUtf8(e.what());
  }
  r.decodeError = decodeError_;
  r.state = state_;
  for (const Lane& lane : lanes_) {
    const double read = lane.firstRead == AV_NOPTS_VALUE
                            ? 0.0
                            : static_cast<double>(lane.endRead - lane.firstRead) * av_q2d(lane.in->time_base);
    (lane.video ? r.videoRead : r.audioRead) = read;
    r.gapClosed = std::max(r.gapClosed, static_cast<double>(-lane.gap) * av_q2d(lane.in->time_base));
  }
  if (sourceEnd_ != AV_NOPTS_VALUE) r.sourceRead = static_cast<double>(std::max<int64_t>(sourceEnd_, 0)) / AV_TIME_BASE;
  return r;
}

// Where a packet of the source ends, as the file has it.
void Transcoder::noteRead(const AVPacket& pkt) {
  const int64_t ts = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
  if (ts == AV_NOPTS_VALUE) return;
  const AVStream& s = *in_->streams[pkt.stream_index];
  const int64_t length = s.codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? pictureLength(s, pkt.duration) : pkt.duration;
  int64_t end = av_rescale_q(ts + std::max<int64_t>(length, 0), s.time_base, AV_TIME_BASE_Q);
  if (in_->start_time != AV_NOPTS_VALUE) end -= in_->start_time;
  sourceEnd_ = sourceEnd_ == AV_NOPTS_VALUE ? end : std::max(sourceEnd_, end);
}

// A stream of one picture (a song's cover muxed as its video) is a still
// shown until the sound ends, not a picture stream cut after one frame: the
// steady rate repeats it to there. Matroska gives such a track the whole
// segment's length, and a player shows it so.
int64_t Transcoder::stillEnd(const Lane& picture) const {
  int64_t end = picture.end;
  if (picture.pictures != 1 || end == AV_NOPTS_VALUE) return end;
  for (const Lane& sound : lanes_)
    if (!sound.video && sound.end != AV_NOPTS_VALUE)
      end = std::max(end, av_rescale_q(sound.end, sound.in->time_base, picture.in->time_base));
  return end;
}

// A picture lasts at least one frame at the stream's rate: muxers that stamp
// slides with a nominal 20 ms would otherwise lose the last one. A rate below
// one frame in ten seconds is taken only where the file gives no length.
int64_t Transcoder::pictureLength(const AVStream& s, int64_t length) const {
  const AVRational rate = av_guess_frame_rate(in_, const_cast<AVStream*>(&s), nullptr);
  if (rate.num <= 0 || rate.den <= 0 || (length > 0 && av_cmp_q(rate, AVRational{1, 10}) < 0)) return length;
  return std::max(length, av_rescale_q(1, av_inv_q(rate), s.time_base));
}

void Transcoder::report() {
  if (reported_ && sinceReport_.elapsed() < 100) return;
  reported_ = true;
  sinceReport_.restart();
  const double elapsed = static_cast<double>(clock_.elapsed()) / 1000.0;
  state_.sizeKB = static_cast<double>(avio_tell(out_->pb)) / 1024.0;
  state_.fps = elapsed > 0 ? static_cast<double>(state_.frames) / elapsed : 0;
  state_.kbps = state_.seconds > 0 ? state_.sizeKB * 8 * 1.024 / state_.seconds : 0;
  if (!progress_(state_)) throw Stopped{};
}

}  // namespace conversion

TranscodeResult transcode(AVFormatContext* source, const Plan& plan, const QByteArray& url,
                          const ProgressCallback& progress) {
  conversion::Transcoder t(source, plan, progress);
  return t.run(url);
}

}  // namespace toolkit
