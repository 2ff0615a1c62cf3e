#pragma once
// The few places where the FFmpeg releases the encoders build with differ
// (5.1 on Debian 12, 7.1 on Debian 13). Each difference is one function here,
// so the rest of the code reads the same on both.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <cstdint>

namespace toolkit::ffcompat {

// How long a decoded frame lasts, in its stream's time base (0 or less:
// not known).
inline int64_t frameDuration(const AVFrame& frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
  return frame.duration;
#else
  return frame.pkt_duration;
#endif
}

// The sample formats an encoder takes, ended by AV_SAMPLE_FMT_NONE; null when
// it does not say.
inline const AVSampleFormat* sampleFormats(const AVCodec& codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
  const void* formats = nullptr;
  if (avcodec_get_supported_config(nullptr, &codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats, nullptr) < 0)
    return nullptr;
  return static_cast<const AVSampleFormat*>(formats);
#else
  return codec.sample_fmts;
#endif
}

// The stream's display matrix (3x3, 16.16 fixed point), or null when it has
// none or a short one.
inline const int32_t* displayMatrix(const AVStream& stream) {
  constexpr size_t matrixSize = 9 * sizeof(int32_t);
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
  const AVCodecParameters& par = *stream.codecpar;
  const AVPacketSideData* data =
      av_packet_side_data_get(par.coded_side_data, par.nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
  if (!data || data->size < matrixSize) return nullptr;
  return reinterpret_cast<const int32_t*>(data->data);
#else
  size_t size = 0;
  const uint8_t* data = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!data || size < matrixSize) return nullptr;
  return reinterpret_cast<const int32_t*>(data);
#endif
}

}  // namespace toolkit::ffcompat
