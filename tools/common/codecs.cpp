#include "common/codecs.h"

#include <QFileInfo>
#include <cmath>

namespace toolkit {

const VideoTraits& traits(VideoCodec c) {
  static const VideoTraits t[] = {
      {QStringLiteral("RealVideo 1.0"), QStringLiteral("rv10"), 16, false, 800, 4096},
      {QStringLiteral("MPEG-2"), QStringLiteral("mpeg2video"), 2, true, 800, 0},
      {QStringLiteral("MPEG-4 Part 2"), QStringLiteral("mpeg4"), 2, false, 800, 0},
      {QStringLiteral("H.264"), QStringLiteral("libx264"), 2, false, 0, 0},
  };
  return t[int(c)];
}

const AudioTraits& traits(AudioCodec c) {
  static const AudioTraits t[] = {
      {QStringLiteral("AC-3"), QStringLiteral("ac3"), {32000, 44100, 48000}, 2, 192},
      {QStringLiteral("MP2"), QStringLiteral("mp2"), {16000, 22050, 24000, 32000, 44100, 48000}, 2,
       192},
      {QStringLiteral("MP3"), QStringLiteral("libmp3lame"),
       {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}, 2, 128},
      {QStringLiteral("AAC"), QStringLiteral("aac"),
       {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000}, 2, 128},
      {QStringLiteral("AMR-NB"), QString(), {8000}, 1, 12.2},
  };
  return t[int(c)];
}

const ContainerTraits& traits(Container c) {
  using V = VideoCodec;
  using A = AudioCodec;
  static const ContainerTraits t[] = {
      {QStringLiteral("RealMedia"), QStringLiteral("rm"), V::RV10, A::AC3, {V::RV10}, {A::AC3}, 65535},
      {QStringLiteral("MPEG-2 program stream"), QStringLiteral("vob"), V::MPEG2, A::MP2,
       {V::MPEG2}, {A::MP2, A::MP3, A::AC3}},
      {QStringLiteral("AVI"), QStringLiteral("avi"), V::MPEG4, A::MP3,
       {V::MPEG4, V::MPEG2, V::H264}, {A::MP3, A::MP2, A::AC3}},
      {QStringLiteral("MP4"), QStringLiteral("mp4"), V::MPEG4, A::AAC,
       {V::MPEG4, V::H264, V::MPEG2}, {A::AAC, A::MP3, A::MP2, A::AC3, A::AMRNB}, 0, 16000},
      {QStringLiteral("QuickTime"), QStringLiteral("mov"), V::H264, A::AAC,
       {V::H264, V::MPEG4, V::MPEG2}, {A::AAC, A::MP3, A::MP2, A::AC3, A::AMRNB}},
      {QStringLiteral("3GP"), QStringLiteral("3gp"), V::MPEG4, A::AMRNB, {V::MPEG4, V::H264},
       {A::AMRNB, A::AAC}},
      {QStringLiteral("MP3"), QStringLiteral("mp3"), std::nullopt, A::MP3, {}, {A::MP3}},
  };
  return t[int(c)];
}

std::optional<VideoCodec> videoCodecByName(const QString& name) {
  const QString n = name.trimmed().toLower();
  if (n == QLatin1String("rv10")) return VideoCodec::RV10;
  if (n == QLatin1String("mpeg2video")) return VideoCodec::MPEG2;
  if (n == QLatin1String("mpeg4")) return VideoCodec::MPEG4;
  if (n == QLatin1String("h264") || n == QLatin1String("libx264")) return VideoCodec::H264;
  return std::nullopt;
}

std::optional<AudioCodec> audioCodecByName(const QString& name) {
  const QString n = name.trimmed().toLower();
  if (n == QLatin1String("ac3")) return AudioCodec::AC3;
  if (n == QLatin1String("mp2")) return AudioCodec::MP2;
  if (n == QLatin1String("mp3") || n == QLatin1String("libmp3lame")) return AudioCodec::MP3;
  if (n == QLatin1String("aac")) return AudioCodec::AAC;
  if (n == QLatin1String("amr_nb") || n == QLatin1String("libopencore_amrnb"))
    return AudioCodec::AMRNB;
  return std::nullopt;
}

std::optional<Container> containerByPath(const QString& path) {
  const QString ext = QFileInfo(path).suffix().toLower();
  if (ext == QLatin1String("rm") || ext == QLatin1String("rmvb")) return Container::RM;
  if (ext == QLatin1String("mpg") || ext == QLatin1String("mpeg") || ext == QLatin1String("vob"))
    return Container::MPEGPS;
  if (ext == QLatin1String("avi")) return Container::AVI;
  if (ext == QLatin1String("mp4") || ext == QLatin1String("m4v")) return Container::MP4;
  if (ext == QLatin1String("mov")) return Container::MOV;
  if (ext == QLatin1String("3gp")) return Container::GP3;
  if (ext == QLatin1String("mp3")) return Container::MP3;
  return std::nullopt;
}

std::optional<Container> containerByName(const QString& name) {
  const QString n = name.trimmed().toLower();
  if (n == QLatin1String("rm")) return Container::RM;
  if (n == QLatin1String("mpeg") || n == QLatin1String("vob") || n == QLatin1String("mpg"))
    return Container::MPEGPS;
  if (n == QLatin1String("avi")) return Container::AVI;
  if (n == QLatin1String("mp4")) return Container::MP4;
  if (n == QLatin1String("mov")) return Container::MOV;
  if (n == QLatin1String("3gp")) return Container::GP3;
  if (n == QLatin1String("mp3")) return Container::MP3;
  return std::nullopt;
}

QVector<double> legalBitrates(AudioCodec c, int sampleRate) {
  const bool mpeg1 = sampleRate >= 32000;
  static const QVector<double> lowRates = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  switch (c) {
    case AudioCodec::AC3:
      return {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
    case AudioCodec::MP2:
      if (mpeg1) return {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
      return lowRates;
    case AudioCodec::MP3:
      if (mpeg1) return {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
      return lowRates;
    case AudioCodec::AMRNB:
      return {4.75, 5.15, 5.9, 6.7, 7.4, 7.95, 10.2, 12.2};
    case AudioCodec::AAC:
      return {};
  }
  return {};
}

QVector<Rational> mpeg2FrameRates() {
  return {{24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}, {60, 1}};
}

Rational nearestMpeg2Rate(double fps) {
  const auto rates = mpeg2FrameRates();
  Rational best = rates.first();
  for (const Rational& r : rates) {
    const double d = std::abs(r.value() - fps), bd = std::abs(best.value() - fps);
    if (d < bd - 1e-9 || (std::abs(d - bd) <= 1e-9 && r.value() > best.value())) best = r;
  }
  return best;
}

}  // namespace toolkit
