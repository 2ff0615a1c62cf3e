#include "common/transcode.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
}

#include "common/amr.h"
#include "common/avowners.h"
#include "common/ffcompat.h"
#include "common/media.h"

namespace toolkit {
namespace {

// A failure inside the conversion; caught at its top.
struct Failed {
  Reason reason;
  QString why;
};

struct Stopped {};

// Why writing failed, from FFmpeg's error code.
Reason writeReason(int code) {
  return code < 0 && AVUNERROR(code) > 0 && AVUNERROR(code) < 4096 ? reasonForErrno(AVUNERROR(code))
                                                                     : Reason::EncodeFailed;
}

using av::Frame;
using av::Packet;

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

// One source stream on its way to the output: decoder, filters, encoder (or
// the AMR encoder) and output stream. The filters and encoder are set up at
// the first decoded frame, which tells the real picture or sound format.
struct Lane {
  bool video = false;
  QString kind;  // "video" or "audio", for messages
  AVStream* in = nullptr;
  int64_t offset = 0;  // the source's start, in the stream's time base
  av::Codec dec, enc;
  av::Graph graph;
  AVFilterContext* src = nullptr;
  AVFilterContext* sink = nullptr;
  std::unique_ptr<AmrThread> amr;
  int64_t amrSamples = 0;
  AVRational encBase{1, 1};
  AVStream* out = nullptr;
  bool ready = false;
  int64_t end = AV_NOPTS_VALUE;  // where the last frame decoded ends, in the stream's time base
  int64_t next = 0;              // where the next filtered frame starts, in the encoder's time base
  QByteArray takes;              // the sound the filters were set up for
  int64_t lastDts = AV_NOPTS_VALUE, nextDts = AV_NOPTS_VALUE;  // read, in AV_TIME_BASE units
  int64_t lastMuxDts = AV_NOPTS_VALUE;  // written, in the output stream's time base
  int64_t firstRead = AV_NOPTS_VALUE, endRead = AV_NOPTS_VALUE;  // packets read, in the stream's time base
  int64_t gap = 0;  // jumps taken out of this stream, in its time base
};

// What the audio filters are set up for; a change in the stream (a broadcast
// recording going from stereo to 5.1) needs new ones.
QByteArray soundFormat(const AVFrame& f);

class Transcoder {
 public:
  Transcoder(AVFormatContext* in, const Plan& plan, const ProgressCallback& progress)
      : in_(in), plan_(plan), progress_(progress) {}
  ~Transcoder();
  TranscodeResult run(const QByteArray& url);

 private:
  void openOutput(const QByteArray& url);
  void openLane(Lane& lane, int index, bool video);
  void mend(Lane& lane, AVPacket* pkt);
  void closeGap(Lane& lane, AVPacket* pkt);
  void mendDiscontinuity(Lane& lane, AVPacket* pkt);
  void decode(Lane& lane, const AVPacket* pkt);
  void filter(Lane& lane, AVFrame* frame);
  void setUp(Lane& lane, const AVFrame& first);
  void setUpFilters(Lane& lane, const AVFrame& first);
  void setUpEncoder(Lane& lane, const AVFrame& first);
  void fitFrames(Lane& lane);
  void drain(Lane& lane);
  void encode(Lane& lane, AVFrame* frame);
  void encodeAmr(Lane& lane, const AVFrame* frame);
  void write(Lane& lane, Packet pkt);
  void mux(Lane& lane, AVPacket* pkt);
  void startWriting();
  void finishOutput();
  void report();

  AVFormatContext* in_;
  const Plan& plan_;
  const ProgressCallback& progress_;
  av::Output out_;
  std::deque<Lane> lanes_;
  bool headerWritten_ = false;
  std::deque<std::pair<Lane*, Packet>> waiting_;  // until every stream is set up
  int64_t waitingBytes_ = 0;
  static constexpr int64_t kWaitingBytes = 50 * 1000 * 1000;
  static constexpr size_t kWaitingPackets = 128, kMostWaiting = 1 << 17;
  Frame frame_, filtered_;  // made in run(), where a failure is caught
  ProgressState state_;
  QElapsedTimer clock_, sinceReport_;
  bool reported_ = false;
  bool decodeError_ = false;
  qint64 decoded_ = 0, undecodable_ = 0;  // pieces of the source, as ffmpeg counts them
  int64_t jump_ = 0;  // added to every time read, across the source's discontinuities (AV_TIME_BASE units)
  int64_t sourceEnd_ = AV_NOPTS_VALUE;  // how far the source's packets reach (AV_TIME_BASE units)
  void noteRead(const AVPacket& pkt);
};

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
    for (Lane& lane : lanes_) {
      decode(lane, nullptr);
      if (!lane.ready)
        throw Failed{decodeError_ ? Reason::SourceDamaged : Reason::EncodeFailed,
                     decodeError_ ? QStringLiteral("the source's %1 could not be decoded").arg(lane.kind)
                                  : QStringLiteral("the source's %1 stream holds nothing to convert").arg(lane.kind)};
      // The end is where the last frame ends, so that a steady rate keeps it.
      const int64_t end = lane.end;
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
  int64_t end = av_rescale_q(ts + std::max<int64_t>(pkt.duration, 0), s.time_base, AV_TIME_BASE_Q);
  if (in_->start_time != AV_NOPTS_VALUE) end -= in_->start_time;
  sourceEnd_ = sourceEnd_ == AV_NOPTS_VALUE ? end : std::max(sourceEnd_, end);
}

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
    const int64_t end = ts + std::max<int64_t>(pkt->duration, 0);
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
  if (lane.nextDts != AV_NOPTS_VALUE) {
    const int64_t leap = av_rescale_q(at, base, AV_TIME_BASE_Q) - lane.nextDts;
    if (leap > kFarLeap) {
      const int64_t shift = -av_rescale_q(leap, AV_TIME_BASE_Q, base);
      lane.gap += shift;
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += shift;
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += shift;
    }
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
void refuseHugePicture(int err) {
  if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF && pictureRefused())
    throw Failed{Reason::PictureTooLarge, QStringLiteral("the source's picture grows larger than %1x%1").arg(kMaxPictureSide)};
}

void Transcoder::decode(Lane& lane, const AVPacket* pkt) {
  int err = avcodec_send_packet(lane.dec.get(), pkt);
  refuseHugePicture(err);
  if (err < 0 && err != AVERROR_EOF) {
    // As ffmpeg does: a packet that cannot be decoded is skipped.
    decodeError_ = true;
    ++undecodable_;
    return;
  }
  while ((err = avcodec_receive_frame(lane.dec.get(), frame_.get())) >= 0) {
    ++decoded_;
    filter(lane, frame_.get());
    av_frame_unref(frame_.get());
  }
  refuseHugePicture(err);
  if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) {
    decodeError_ = true;
    ++undecodable_;
  }
}

void Transcoder::filter(Lane& lane, AVFrame* frame) {
  frame->pts = frame->best_effort_timestamp;
  if (frame->pts != AV_NOPTS_VALUE) frame->pts -= lane.offset;
  else frame->pts = lane.end;  // a frame without a time follows the one before
  if (!lane.video && frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    const int channels = frame->ch_layout.nb_channels;
    av_channel_layout_uninit(&frame->ch_layout);
    av_channel_layout_default(&frame->ch_layout, channels);
  }
  if (frame->pts != AV_NOPTS_VALUE) {
    int64_t length = ffcompat::frameDuration(*frame);
    if (length <= 0 && lane.video) {
      const AVRational rate = av_guess_frame_rate(in_, lane.in, nullptr);
      if (rate.num > 0 && rate.den > 0) length = av_rescale_q(1, av_inv_q(rate), lane.in->time_base);
    }
    if (length <= 0 && !lane.video && frame->sample_rate > 0)
      length = av_rescale_q(frame->nb_samples, AVRational{1, frame->sample_rate}, lane.in->time_base);
    lane.end = lane.end == AV_NOPTS_VALUE ? frame->pts + length : std::max(lane.end, frame->pts + length);
  }
  if (!lane.ready) {
    setUp(lane, *frame);
  } else if (!lane.video && soundFormat(*frame) != lane.takes) {
    // As ffmpeg does: what the old filters have ready goes on, then new ones.
    drain(lane);
    setUpFilters(lane, *frame);
    fitFrames(lane);
  }
  const int err = av_buffersrc_add_frame_flags(lane.src, frame, 0);
  if (err < 0)
    throw Failed{Reason::EncodeFailed, QStringLiteral("the %1 filters failed: %2").arg(lane.kind, av::errorText(err))};
  drain(lane);
}

void Transcoder::setUp(Lane& lane, const AVFrame& first) {
  setUpFilters(lane, first);
  setUpEncoder(lane, first);
  fitFrames(lane);
  lane.ready = true;
  if (std::all_of(lanes_.begin(), lanes_.end(), [](const Lane& l) { return l.ready; })) startWriting();
}

// The default layout of `channels`, as text for the filters.
QByteArray layoutText(const AVChannelLayout& given, int channels) {
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
    AVChannelLayout none{};
    chain = QStringLiteral("aresample=%1,aformat=sample_fmts=%2:channel_layouts=%3")
                .arg(plan_.sampleRate)
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

void Transcoder::setUpEncoder(Lane& lane, const AVFrame& first) {
  if (lane.amr) {
    AVCodecParameters* par = lane.out->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_AMR_NB;
    par->sample_rate = 8000;
    av_channel_layout_default(&par->ch_layout, 1);
    par->frame_size = 160;
    lane.encBase = AVRational{1, 8000};
    lane.out->time_base = lane.encBase;
    return;
  }
  const QString name = lane.video ? traits(plan_.videoCodec).encoder : traits(plan_.audioCodec).encoder;
  const AVCodec* codec = avcodec_find_encoder_by_name(name.toUtf8().constData());
  if (!codec) throw Failed{Reason::EncodeFailed, QStringLiteral("FFmpeg has no %1 encoder").arg(name)};
  lane.enc.reset(avcodec_alloc_context3(codec));
  AVCodecContext* enc = lane.enc.get();
  if (!enc) throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  AVFilterContext* sink = lane.sink;
  if (lane.video) {
    enc->width = av_buffersink_get_w(sink);
    enc->height = av_buffersink_get_h(sink);
    enc->pix_fmt = AVPixelFormat(av_buffersink_get_format(sink));
    enc->sample_aspect_ratio = av_buffersink_get_sample_aspect_ratio(sink);
    enc->framerate = av_buffersink_get_frame_rate(sink);
    enc->time_base = av_inv_q(enc->framerate);
    enc->color_range = first.color_range;
    enc->color_primaries = first.color_primaries;
    enc->color_trc = first.color_trc;
    enc->colorspace = first.colorspace;
    enc->chroma_sample_location = first.chroma_location;
    if (plan_.videoKbps > 0) enc->bit_rate = int64_t(plan_.videoKbps * 1000);
    if (plan_.videoBufferKbits > 0) {
      enc->rc_max_rate = int64_t(plan_.videoMaxKbps * 1000);
      enc->rc_buffer_size = int(plan_.videoBufferKbits * 1000);
    }
    lane.out->sample_aspect_ratio = enc->sample_aspect_ratio;
    lane.out->avg_frame_rate = enc->framerate;
  } else {
    enc->sample_rate = av_buffersink_get_sample_rate(sink);
    enc->sample_fmt = AVSampleFormat(av_buffersink_get_format(sink));
    if (av_buffersink_get_ch_layout(sink, &enc->ch_layout) < 0)
      throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
    enc->time_base = AVRational{1, enc->sample_rate};
    if (plan_.mp3Quality) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = FF_QP2LAMBDA * *plan_.mp3Quality;
    } else {
      enc->bit_rate = int64_t(plan_.audioKbps * 1000);
    }
  }
  if (out_->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av::Dictionary opts;
  if (av_dict_set(opts.address(), "threads", "auto", 0) < 0)
    throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
  int err = avcodec_open2(enc, codec, opts.address());
  if (err < 0)
    throw Failed{Reason::EncodeFailed, QStringLiteral("the %1 encoder %2 cannot start: %3").arg(lane.kind, name, av::errorText(err))};
  err = avcodec_parameters_from_context(lane.out->codecpar, enc);
  if (err < 0) throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
#if LIBAVCODEC_VERSION_INT < AV_VERSION_INT(60, 29, 100)
  // What the encoder tells the muxer about its stream (the MPEG-2 buffer and
  // peak rate, from which the program stream sizes its buffers and mux
  // rate), as ffmpeg hands it on; newer libraries copy it with the rest.
  for (int i = 0; i < enc->nb_coded_side_data; ++i) {
    const AVPacketSideData& sd = enc->coded_side_data[i];
    uint8_t* copy = av_stream_new_side_data(lane.out, sd.type, sd.size);
    if (!copy) throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
    std::memcpy(copy, sd.data, sd.size);
  }
#endif
  lane.encBase = enc->time_base;
  lane.out->time_base = enc->time_base;
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

void Transcoder::encode(Lane& lane, AVFrame* frame) {
  if (lane.amr) return encodeAmr(lane, frame);
  if (frame && lane.video) {
    frame->pict_type = AV_PICTURE_TYPE_NONE;  // the encoder chooses its own key frames
    ++state_.frames;
  }
  int err = avcodec_send_frame(lane.enc.get(), frame);
  if (err < 0 && err != AVERROR_EOF)
    throw Failed{Reason::EncodeFailed, QStringLiteral("the %1 encoder failed: %2").arg(lane.kind, av::errorText(err))};
  for (;;) {
    Packet pkt = newPacket();
    err = avcodec_receive_packet(lane.enc.get(), pkt.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
    if (err < 0)
      throw Failed{Reason::EncodeFailed, QStringLiteral("the %1 encoder failed: %2").arg(lane.kind, av::errorText(err))};
    if (lane.video) {
      size_t size = 0;
      if (const uint8_t* stats = av_packet_get_side_data(pkt.get(), AV_PKT_DATA_QUALITY_STATS, &size);
          stats && size >= 4)
        state_.q = static_cast<double>(static_cast<int32_t>(AV_RL32(stats))) / FF_QP2LAMBDA;
    }
    write(lane, std::move(pkt));
  }
}

// 8000 Hz mono 16-bit samples into AMR frames of 20 ms, one packet each.
void Transcoder::encodeAmr(Lane& lane, const AVFrame* frame) {
  QList<QByteArray> frames;
  if (frame) {
    lane.amr->put(QByteArray(reinterpret_cast<const char*>(frame->data[0]), qsizetype(frame->nb_samples) * 2));
    frames = lane.amr->take();
  } else {
    frames = lane.amr->finish();
  }
  if (const QString why = lane.amr->failure(); !why.isEmpty()) throw Failed{Reason::EncodeFailed, why};
  for (const QByteArray& bytes : frames) {
    Packet pkt = newPacket();
    if (av_new_packet(pkt.get(), int(bytes.size())) < 0) throw Failed{Reason::EncodeFailed, QStringLiteral("out of memory")};
    std::memcpy(pkt->data, bytes.constData(), size_t(bytes.size()));
    pkt->pts = pkt->dts = lane.amrSamples;
    pkt->duration = AmrEncoder::kFrameSamples;
    pkt->flags |= AV_PKT_FLAG_KEY;
    lane.amrSamples += AmrEncoder::kFrameSamples;
    write(lane, std::move(pkt));
  }
}

void Transcoder::write(Lane& lane, Packet pkt) {
  if (pkt->pts != AV_NOPTS_VALUE) {
    const double end = static_cast<double>(pkt->pts + std::max<int64_t>(pkt->duration, 0)) * av_q2d(lane.encBase);
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

}  // namespace

TranscodeResult transcode(AVFormatContext* source, const Plan& plan, const QByteArray& url,
                          const ProgressCallback& progress) {
  Transcoder t(source, plan, progress);
  return t.run(url);
}

}  // namespace toolkit
