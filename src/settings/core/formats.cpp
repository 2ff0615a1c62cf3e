#include "settings/core/formats.h"

namespace Formats {

QStringList formatEntries() {
  return {QStringLiteral("RMVB(RealPlayerRMVB)"),
          QStringLiteral("RM(RealPlayerRM)"),
          QStringLiteral("MPG(MPEG2)"),
          QStringLiteral("AVI(Windows Media Player格式)"),
          QStringLiteral("MP4(高清MPEG4格式)"),
          QStringLiteral("MOV(QuickTime格式)"),
          QStringLiteral("MP4(手机MP4格式)"),
          QStringLiteral("3GP(手机3GP格式)"),
          QStringLiteral("MP3(纯音频格式)")};
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
  auto p = [](QString vb, QString f, QString s, QString r, QString br, int ch) {
    return Preset{vb, f, s, r, br, ch};
  };
  switch (position) {
    case RMVB:
    case RM: return p("1200", "29", kOriginalSize, "44100", "320", 1);
    case MPG:
    case AVI: return p("600", "24", kOriginalSize, "28000", "64", 1);
    case MP4HQ: return p("1200", "29", kOriginalSize, "48000", "320", 1);
    case MOV: return p("256", "29", kOriginalSize, "48000", "64", 1);
    case MP4Phone:
    case GP3: return p("128", "29", "320x240", "8000", "12.2", 0);
    case MP3: return Preset{std::nullopt, std::nullopt, std::nullopt, "48000", "320", 1};
    default: return std::nullopt;
  }
}

bool isTwoStage(int position) {
  return position == RMVB || position == RM || position == MOV || position == MP4Phone ||
         position == GP3;
}

}  // namespace Formats
