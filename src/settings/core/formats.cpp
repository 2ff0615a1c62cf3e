#include "settings/core/formats.h"

namespace Formats {
namespace {

constexpr Stage kConvWork{"conv", Runner::First, Reader::Percent, Line::ConvWork};

Preset preset(QString vb, QString f, QString s, QString r, QString br, int ch) {
  return Preset{vb, f, s, r, br, ch};
}

const Format* table() {
  static const Format formats[Count] = {
      {RMVB, "rmvb", QStringLiteral("RMVB(RealPlayerRMVB)"), ".rmvb",
       {kConvWork, {"coder", Runner::Second, Reader::Timecode, Line::CoderReal}}, 2,
       preset("1200", "29", kOriginalSize, "44100", "320", 1),
       Size | VideoBitrate | SampleRate | AudioBitrate | Channels,
       VideoBitrate | SampleRate | AudioBitrate | Channels},
      {RM, "rm", QStringLiteral("RM(RealPlayerRM)"), ".rm",
       {kConvWork, {"coder", Runner::Second, Reader::Timecode, Line::CoderReal}}, 2,
       preset("1200", "29", kOriginalSize, "44100", "320", 1),
       Size | VideoBitrate | SampleRate | AudioBitrate | Channels,
       VideoBitrate | SampleRate | AudioBitrate | Channels},
      {MPG, "mpg", QStringLiteral("MPG(MPEG2)"), ".mpg",
       {{"conv", Runner::First, Reader::Percent, Line::ConvMpeg2}}, 1,
       preset("600", "24", kOriginalSize, "28000", "64", 1),
       VideoBitrate | FrameRate | AudioBitrate, 0},
      {AVI, "avi", QStringLiteral("AVI(Windows Media Player格式)"), ".avi",
       {{"conv", Runner::First, Reader::Percent, Line::ConvMpeg2}}, 1,
       preset("600", "24", kOriginalSize, "28000", "64", 1),
       VideoBitrate | FrameRate | AudioBitrate, 0},
      {MP4HQ, "mp4", QStringLiteral("MP4(高清MPEG4格式)"), ".mp4",
       {{"conv", Runner::First, Reader::Percent, Line::ConvMp4}}, 1,
       preset("1200", "29", kOriginalSize, "48000", "320", 1), VideoBitrate | AudioBitrate, 0},
      {MOV, "mov", QStringLiteral("MOV(QuickTime格式)"), ".mov",
       {kConvWork, {"coder", Runner::Second, Reader::Timecode, Line::CoderMov}}, 2,
       preset("256", "29", kOriginalSize, "48000", "64", 1), Size, 0},
      {MP4Phone, "phone-mp4", QStringLiteral("MP4(手机MP4格式)"), ".mp4",
       {kConvWork, {"coder2", Runner::Second, Reader::Timecode, Line::Coder2Phone}}, 2,
       preset("128", "29", "320x240", "8000", "12.2", 0), Size, 0},
      {GP3, "3gp", QStringLiteral("3GP(手机3GP格式)"), ".3gp",
       {kConvWork, {"coder2", Runner::Second, Reader::Timecode, Line::Coder2Phone}}, 2,
       preset("128", "29", "320x240", "8000", "12.2", 0), Size, 0},
      {MP3, "mp3", QStringLiteral("MP3(纯音频格式)"), ".mp3",
       {{"coder", Runner::Second, Reader::Timecode, Line::CoderMp3}}, 1,
       Preset{std::nullopt, std::nullopt, std::nullopt, "48000", "320", 1},
       SampleRate | AudioBitrate | Channels, 0},
  };
  return formats;
}

}  // namespace

const Format* format(int position) {
  if (position < 0 || position >= Count) return nullptr;
  return &table()[position];
}

std::optional<int> positionByName(const QString& nameOrIndex) {
  const QString t = nameOrIndex.trimmed().toLower();
  for (int p = 0; p < Count; ++p)
    if (t == QLatin1String(table()[p].name)) return p;
  bool ok = false;
  const int index = t.toInt(&ok);
  if (ok && format(index) && t == QString::number(index)) return index;
  return std::nullopt;
}

QStringList formatEntries() {
  QStringList labels;
  for (int p = 0; p < Count; ++p) labels << table()[p].label;
  return labels;
}

QStringList videoBitrateEntries() {
  return {"40", "80", "120", "128", "256", "384", "512", "600", "640", "768", "800", "900", "1000", "1500"};
}

QStringList frameRateEntries() { return {"15", "23", "29"}; }

QStringList sizeEntries() {
  return {kOriginalSize, "128x96", "160x120", "176x144", "320x180", "320x240", "352x288",
          "640x272", "480x480", "640x360", "640x480", "720x306", "720x320"};
}

QStringList sampleRateEntries() {
  return {"48000", "44100", "32000", "24000", "22050", "16000", "12050", "8000"};
}

QStringList audioBitrateEntries() {
  return {"10.2", "12.2", "32", "48", "56", "64", "80", "96", "112", "128", "192", "224", "256", "320"};
}

QStringList channelEntries() { return {QStringLiteral("单声道"), QStringLiteral("双声道")}; }

std::optional<Preset> presetFor(int position) {
  if (const Format* f = format(position)) return f->preset;
  return std::nullopt;
}

}  // namespace Formats
