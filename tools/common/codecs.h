#pragma once
#include <QString>
#include <QVector>
#include <optional>

#include "common/values.h"

// What the tools can write: the codecs with the values they take, and the
// containers with the codecs they hold.
namespace toolkit {

enum class VideoCodec { RV10, MPEG2, MPEG4, H264 };
enum class AudioCodec { AC3, MP2, MP3, AAC, AMRNB };
enum class Container { RM, MPEGPS, AVI, MP4, MOV, GP3, MP3 };

struct VideoTraits {
  QString label;       // for messages: "RealVideo 1.0"
  QString encoder;     // FFmpeg encoder
  int align;           // width and height are multiples of this
  bool fixedRates;     // only the MPEG-2 frame rates
  double defaultKbps;  // 0: the encoder's own quality mode
  int maxMacroblocks;  // frames must hold fewer 16x16 blocks; 0: no limit
};
struct AudioTraits {
  QString label;
  QString encoder;     // empty: encoded by the tool itself (AMR-NB)
  QVector<double> rates;
  int maxChannels;
  double defaultKbps;
};
struct ContainerTraits {
  QString label;
  QString muxer;
  std::optional<VideoCodec> video;  // the codec it gets when the line names none
  AudioCodec audio;
  QVector<VideoCodec> videos;       // codecs it can hold
  QVector<AudioCodec> audios;
  int maxPacketBytes = 0;           // largest packet the muxer takes; 0: no limit
  int lowestMp3Rate = 0;            // MP3 below this sample rate it does not take; 0: any
};

const VideoTraits& traits(VideoCodec c);
const AudioTraits& traits(AudioCodec c);
const ContainerTraits& traits(Container c);

std::optional<VideoCodec> videoCodecByName(const QString& name);
std::optional<AudioCodec> audioCodecByName(const QString& name);
// By the output file's extension (".rmvb", ".mpg", ...), case-insensitive.
std::optional<Container> containerByPath(const QString& path);
// By a format name of the lines ("rm", "avi", "mpeg", "mp4", ...).
std::optional<Container> containerByName(const QString& name);

// The bitrates (kbit/s) a codec takes at a sample rate; empty means any.
QVector<double> legalBitrates(AudioCodec c, int sampleRate);
// The MPEG-1/2 video frame rates.
QVector<Rational> mpeg2FrameRates();
Rational nearestMpeg2Rate(double fps);

}  // namespace toolkit
