#include "common/transcoder.h"

namespace toolkit::conversion {

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

}  // namespace toolkit::conversion
