#pragma once
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>

#include "common/codecs.h"
#include "common/media.h"

// From what a command line asks for to what the tool writes: every value is
// checked against the codec that takes it and replaced by the nearest legal
// one, with one note per change.
namespace toolkit {

// One value of a command line: not on the line, on it but empty, or set.
template <typename T>
struct Setting {
  enum State { Absent, Empty, Set } state = Absent;
  T value{};
  static Setting empty() { return {Empty, T{}}; }
  static Setting of(const T& v) { return {Set, v}; }
};

struct Request {
  QString source, output;
  QString askedFormat;                 // format the options name (-f, -of, format=), if any
  QString askedText;                   // those options as written, for the note
  bool formatDecides = false;          // the named format wins over the extension (the work file)
  bool noVideo = false;                // -vn
  std::optional<VideoCodec> videoCodec;
  std::optional<AudioCodec> audioCodec;
  Setting<double> videoKbps;
  Setting<QSize> size;
  Setting<Rational> frameRate;
  Setting<double> audioKbps;
  std::optional<int> mp3Quality;       // VBR quality of a named lame preset
  Setting<double> sampleRate;
  Setting<int> channels;               // 0: the source's
};

struct Plan {
  QString source, output;
  int videoIndex = -1, audioIndex = -1;  // source streams
  Container container = Container::MP4;
  QString muxer;
  bool video = false;
  VideoCodec videoCodec = VideoCodec::MPEG4;
  double videoKbps = 0;                // 0: the encoder's own quality mode
  // Rate control that keeps every frame below the container's packet limit:
  // a peak rate and a buffer (kbit) that no frame may exceed; 0: none.
  double videoMaxKbps = 0, videoBufferKbits = 0;
  QSize size;                          // picture size written
  bool scale = false;                  // size differs from the source's
  std::optional<Rational> frameRate;   // nothing: the source's
  bool audio = false;
  AudioCodec audioCodec = AudioCodec::MP3;
  double audioKbps = 0;
  std::optional<int> mp3Quality;
  int sampleRate = 0;
  int channels = 0;
  double expectedDuration = 0;         // of the streams written, 0 when unknown
  double videoDuration = 0, audioDuration = 0;  // of the source streams used, 0 when unknown
  // The source's whole length, when nothing but its picture and sound make
  // it up; 0 when unknown. Its packets must reach it, whatever is written.
  double sourceDuration = 0;
  int watchIndex = -1;                 // the source's picture, read but not converted (the MP3 road)
  QStringList notes;                   // one line each
};

// Throws ToolError when the request cannot be met (no video for a video
// container, a codec the container cannot hold, ...).
Plan resolve(const Request& request, const MediaInfo& source);

// FFmpeg's arguments for the plan, writing `target`. With `amrInput` the AMR
// audio comes as a second input on standard input, to be copied.
QStringList ffmpegArgs(const Plan& plan, const QString& target, bool amrInput);
// FFmpeg's arguments that decode the source's audio to 8000 Hz mono 16-bit
// PCM on standard output, for the AMR encoder.
QStringList pcmArgs(const Plan& plan);

}  // namespace toolkit
