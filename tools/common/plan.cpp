#include "common/plan.h"

#include <algorithm>
#include <cmath>

#include "common/console.h"

namespace toolkit {
namespace {

QString sizeText(const QSize& s) { return QStringLiteral("%1x%2").arg(s.width()).arg(s.height()); }
QString kbpsText(double v) { return shortNumber(v) + QStringLiteral(" kbit/s"); }
QString fpsText(const Rational& r) { return shortNumber(std::round(r.value() * 1000) / 1000); }

void resolveContainer(const Request& r, Plan& p) {
  if (r.formatDecides) {
    if (const auto named = containerByName(r.askedFormat)) {
      p.container = *named;
      return;
    }
  }
  const auto byPath = containerByPath(r.output);
  const auto byName = r.askedFormat.isEmpty() ? std::nullopt : containerByName(r.askedFormat);
  if (byPath) {
    p.container = *byPath;
    if (!r.askedFormat.isEmpty() && byName != byPath) {
      const QString why = byName ? QString()
                                 : QStringLiteral(", which cannot hold this output");
      p.notes << QStringLiteral("note: %1%2; the file name decides: writing %3")
                     .arg(r.askedText, why, traits(p.container).label);
    }
  } else if (byName) {
    p.container = *byName;
  } else if (r.askedFormat.isEmpty()) {
    throw ToolError(QStringLiteral("cannot tell the output type from the name %1").arg(r.output),
                    Reason::Usage);
  } else {
    throw ToolError(QStringLiteral("output format %1 is not supported").arg(r.askedFormat), Reason::Usage);
  }
}

// A container that takes no packet above a size gets a rate control whose
// buffer is smaller: no frame can then be larger. The bitrate must leave each
// frame room in that buffer.
void limitFrameBytes(const ContainerTraits& ct, double fps, Plan& p) {
  if (ct.maxPacketBytes <= 0 || p.videoKbps <= 0) return;
  p.videoBufferKbits = std::floor(ct.maxPacketBytes * 8 * 0.9 / 1000);
  // A slide show's frames are seconds apart: each one carries seconds of bits.
  const double most = std::floor(p.videoBufferKbits * (fps > 0 ? fps : 1.0) / 2);
  if (p.videoKbps > most) {
    p.notes << QStringLiteral("note: %1 takes no frame over %2 KiB: video bitrate %3 becomes %4")
                   .arg(ct.label).arg(ct.maxPacketBytes / 1024 + 1).arg(kbpsText(p.videoKbps), kbpsText(most));
    p.videoKbps = most;
  }
  p.videoMaxKbps = 2 * p.videoKbps;
}

void resolveVideo(const Request& r, const MediaInfo& src, Plan& p) {
  const ContainerTraits& ct = traits(p.container);
  if (!ct.video) {
    if (r.videoCodec) throw ToolError(QStringLiteral("%1 cannot hold video").arg(ct.label), Reason::Usage);
    return;
  }
  if (r.noVideo) return;
  if (!src.hasVideo)
    throw ToolError(QStringLiteral("the source has no video stream; %1 output needs one").arg(ct.label),
                    Reason::NeedsVideo);
  const VideoCodec codec = r.videoCodec.value_or(*ct.video);
  const VideoTraits& vt = traits(codec);
  if (!ct.videos.contains(codec))
    throw ToolError(QStringLiteral("%1 cannot hold %2 video").arg(ct.label, vt.label), Reason::Usage);
  p.video = true;
  p.videoCodec = codec;
  p.videoIndex = src.videoIndex;

  switch (r.videoKbps.state) {
    case Setting<double>::Set:
      p.videoKbps = r.videoKbps.value;
      if (p.videoKbps < 16) {
        p.notes << QStringLiteral("note: video bitrate %1 is too low: using 16 kbit/s")
                       .arg(kbpsText(p.videoKbps));
        p.videoKbps = 16;
      }
      break;
    case Setting<double>::Empty:
      p.videoKbps = vt.defaultKbps > 0 ? vt.defaultKbps : 800;
      p.notes << QStringLiteral("note: no video bitrate given: using %1").arg(kbpsText(p.videoKbps));
      break;
    case Setting<double>::Absent:
      p.videoKbps = vt.defaultKbps;
      break;
  }

  QSize wantSize = src.size;
  if (r.size.state == Setting<QSize>::Set) wantSize = r.size.value;
  if (r.size.state == Setting<QSize>::Empty)
    p.notes << QStringLiteral("note: no picture size given: keeping the source's %1").arg(sizeText(src.size));
  p.size = fitBlocks(wantSize, vt.align, vt.maxMacroblocks);
  if (p.size != alignSize(wantSize, vt.align)) {
    p.notes << QStringLiteral("note: %1 takes frames of fewer than %2 macroblocks: %3 becomes %4")
                   .arg(vt.label).arg(vt.maxMacroblocks).arg(sizeText(wantSize), sizeText(p.size));
  } else if (p.size != wantSize) {
    if (vt.align == 2)
      p.notes << QStringLiteral("note: 4:2:0 video needs an even width and height: %1 becomes %2")
                     .arg(sizeText(wantSize), sizeText(p.size));
    else
      p.notes << QStringLiteral("note: %1 needs width and height in multiples of %2: %3 becomes %4")
                     .arg(vt.label).arg(vt.align).arg(sizeText(wantSize), sizeText(p.size));
  }
  p.scale = p.size != src.size;

  Rational sourceRate = src.frameRate.value() > 0 ? src.frameRate : Rational{25, 1};
  std::optional<Rational> rate;
  if (r.frameRate.state == Setting<Rational>::Set) rate = r.frameRate.value;
  if (r.frameRate.state == Setting<Rational>::Empty)
    p.notes << QStringLiteral("note: no frame rate given: keeping the source's %1 fps").arg(fpsText(sourceRate));
  if (vt.fixedRates) {
    const Rational want = rate.value_or(sourceRate);
    p.frameRate = nearestMpeg2Rate(want.value());
    if (std::abs(p.frameRate->value() - want.value()) > 1e-6)
      p.notes << QStringLiteral("note: %1 has no frame rate %2: using %3 fps")
                     .arg(vt.label, fpsText(want), fpsText(*p.frameRate));
  } else if (rate) {
    p.frameRate = rate;
  } else if (codec != VideoCodec::H264 && sourceRate.num > 65535) {
    // MPEG-4 and RealVideo keep the time base below 65536.
    p.frameRate = Rational{int(std::lround(sourceRate.value() * 1000)), 1000};
  }
  limitFrameBytes(ct, p.frameRate.value_or(sourceRate).value(), p);
}

void resolveAudio(const Request& r, const MediaInfo& src, Plan& p) {
  const ContainerTraits& ct = traits(p.container);
  if (!src.hasAudio) {
    if (!p.video)
      throw ToolError(QStringLiteral("the source has no audio stream; %1 output needs one").arg(ct.label),
                      Reason::NeedsAudio);
    p.notes << QStringLiteral("note: the source has no audio, so the output has none");
    return;
  }
  const AudioCodec codec = r.audioCodec.value_or(ct.audio);
  const AudioTraits& at = traits(codec);
  if (!ct.audios.contains(codec))
    throw ToolError(QStringLiteral("%1 cannot hold %2 audio").arg(ct.label, at.label), Reason::Usage);
  p.audio = true;
  p.audioCodec = codec;
  p.audioIndex = src.audioIndex;

  const int sourceChannels = std::clamp(src.channels, 1, 2);
  if (r.channels.state == Setting<int>::Set && r.channels.value > 0) {
    p.channels = r.channels.value;
  } else {
    p.channels = sourceChannels;
    if (r.channels.state != Setting<int>::Absent)
      p.notes << (src.channels > 2
                      ? QStringLiteral("note: no channel count chosen: the source has %1 channels, using 2")
                            .arg(src.channels)
                      : QStringLiteral("note: no channel count chosen: keeping the source's %1").arg(src.channels));
    else if (src.channels > 2)
      p.notes << QStringLiteral("note: the source has %1 channels: using 2").arg(src.channels);
  }
  if (p.channels > at.maxChannels) {
    p.notes << QStringLiteral("note: %1 here takes at most %2 channels: using %2")
                   .arg(at.label).arg(at.maxChannels);
    p.channels = at.maxChannels;
  }

  double rate = src.sampleRate > 0 ? src.sampleRate : 44100;
  if (r.sampleRate.state == Setting<double>::Set) rate = r.sampleRate.value;
  if (r.sampleRate.state == Setting<double>::Empty)
    p.notes << QStringLiteral("note: no sample rate given: keeping the source's %1 Hz").arg(shortNumber(rate));
  p.sampleRate = int(nearest(rate, at.rates));
  if (std::abs(p.sampleRate - rate) > 1e-6)
    p.notes << QStringLiteral("note: %1 takes no %2 Hz: using %3 Hz")
                   .arg(at.label, shortNumber(rate)).arg(p.sampleRate);
  if (codec == AudioCodec::MP3 && p.sampleRate < ct.lowestMp3Rate) {
    QVector<double> taken;
    for (double legal : at.rates)
      if (legal >= ct.lowestMp3Rate) taken << legal;
    const int given = p.sampleRate;
    p.sampleRate = int(nearest(given, taken));
    p.notes << QStringLiteral("note: %1 takes no %2 audio at %3 Hz: using %4 Hz")
                   .arg(ct.label, at.label).arg(given).arg(p.sampleRate);
  }

  if (codec == AudioCodec::MP3 && r.mp3Quality) {
    p.mp3Quality = r.mp3Quality;
    return;
  }
  double kbps = at.defaultKbps;
  if (r.audioKbps.state == Setting<double>::Set) kbps = r.audioKbps.value;
  if (r.audioKbps.state == Setting<double>::Empty)
    p.notes << QStringLiteral("note: no audio bitrate given: using %1").arg(kbpsText(kbps));
  const QVector<double> legal = legalBitrates(codec, p.sampleRate);
  p.audioKbps = legal.isEmpty() ? std::max(kbps, 8.0) : nearest(kbps, legal);
  if (std::abs(p.audioKbps - kbps) > 1e-6 && r.audioKbps.state == Setting<double>::Set)
    p.notes << QStringLiteral("note: %1 at %2 Hz takes no %3: using %4")
                   .arg(at.label).arg(p.sampleRate).arg(kbpsText(kbps), kbpsText(p.audioKbps));
  // An AVI reader times MPEG sound by bytes when its frames hold more bytes
  // than samples (over 8 bits a sample): each frame would count twice, and
  // the file would promise twice its sound.
  const double avi = 8.0 * p.sampleRate / 1000.0;
  if (p.container == Container::AVI && (codec == AudioCodec::MP3 || codec == AudioCodec::MP2) && p.audioKbps > avi) {
    double fit = 0;
    for (double b : legal)
      if (b <= avi) fit = std::max(fit, b);
    if (fit > 0) {
      p.notes << QStringLiteral("note: %1 at %2 Hz in AVI takes at most %3: using %4")
                     .arg(at.label).arg(p.sampleRate).arg(kbpsText(avi), kbpsText(fit));
      p.audioKbps = fit;
    }
  }
}

}  // namespace

Plan resolve(const Request& r, const MediaInfo& src) {
  Plan p;
  p.source = r.source;
  p.output = r.output;
  resolveContainer(r, p);
  resolveVideo(r, src, p);
  resolveAudio(r, src, p);
  p.muxer = traits(p.container).muxer;
  // A phone MP4 is a 3GPP file whether or not this source has sound: plain
  // MP4 cannot carry AMR.
  if (r.audioCodec == AudioCodec::AMRNB && p.container == Container::MP4) {
    p.muxer = QStringLiteral("3gp");
    p.notes << QStringLiteral("note: AMR-NB audio: the .mp4 file is written with the 3GPP brand");
  }
  // Each stream used is judged by its own length. The container's length
  // stands in only when the source holds nothing but the streams written: a
  // late subtitle or a longer second audio track makes it longer than them.
  p.videoDuration = p.video ? src.videoDuration : 0.0;
  p.audioDuration = p.audio ? src.audioDuration : 0.0;
  const double streams = std::max(p.videoDuration, p.audioDuration);
  const bool wholeSource =
      (p.video || !src.hasVideo) && (p.audio || !src.hasAudio) && !src.otherStreams;
  p.expectedDuration = streams > 0 ? streams : (wholeSource ? src.duration : 0.0);
  if (!src.otherStreams && src.steadyClock) p.sourceDuration = src.duration;
  if (!p.video && src.hasVideo) p.watchIndex = src.videoIndex;
  return p;
}

QStringList ffmpegArgs(const Plan& p, const QString& target, bool amrInput) {
  QStringList a = {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
                   QStringLiteral("-loglevel"), QStringLiteral("error"),
                   QStringLiteral("-i"), QString::fromUtf8(fileUrl(p.source))};
  if (amrInput) a << QStringLiteral("-f") << QStringLiteral("amr") << QStringLiteral("-i") << QStringLiteral("pipe:0");
  if (p.video) {
    a << QStringLiteral("-map") << QStringLiteral("0:%1").arg(p.videoIndex)
      << QStringLiteral("-c:v") << traits(p.videoCodec).encoder;
    if (p.videoKbps > 0) a << QStringLiteral("-b:v") << shortNumber(p.videoKbps) + QLatin1Char('k');
    if (p.videoBufferKbits > 0)
      a << QStringLiteral("-maxrate") << shortNumber(p.videoMaxKbps) + QLatin1Char('k')
        << QStringLiteral("-bufsize") << shortNumber(p.videoBufferKbits) + QLatin1Char('k');
    if (p.scale)
      a << QStringLiteral("-vf") << QStringLiteral("scale=%1:%2").arg(p.size.width()).arg(p.size.height());
    a << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
    if (p.frameRate) a << QStringLiteral("-r") << p.frameRate->text();
  }
  if (p.audio) {
    if (amrInput) {
      a << QStringLiteral("-map") << QStringLiteral("1:a:0") << QStringLiteral("-c:a") << QStringLiteral("copy");
    } else {
      a << QStringLiteral("-map") << QStringLiteral("0:%1").arg(p.audioIndex)
        << QStringLiteral("-c:a") << traits(p.audioCodec).encoder;
      if (p.mp3Quality)
        a << QStringLiteral("-q:a") << QString::number(*p.mp3Quality);
      else
        a << QStringLiteral("-b:a") << shortNumber(p.audioKbps) + QLatin1Char('k');
      a << QStringLiteral("-ar") << QString::number(p.sampleRate)
        << QStringLiteral("-ac") << QString::number(p.channels);
    }
  }
  a << QStringLiteral("-sn") << QStringLiteral("-dn") << QStringLiteral("-map_chapters") << QStringLiteral("-1")
    << QStringLiteral("-f") << p.muxer
    << QStringLiteral("-progress") << QStringLiteral("pipe:1") << QStringLiteral("-stats_period")
    << QStringLiteral("0.5") << QStringLiteral("-nostats") << QStringLiteral("-y") << target;
  return a;
}

QStringList pcmArgs(const Plan& p) {
  return {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
          QStringLiteral("error"), QStringLiteral("-i"), QString::fromUtf8(fileUrl(p.source)),
          QStringLiteral("-map"), QStringLiteral("0:%1").arg(p.audioIndex),
          QStringLiteral("-vn"), QStringLiteral("-sn"), QStringLiteral("-dn"),
          QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-ar"), QStringLiteral("8000"),
          QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), QStringLiteral("-f"), QStringLiteral("s16le"),
          QStringLiteral("pipe:1")};
}

}  // namespace toolkit
