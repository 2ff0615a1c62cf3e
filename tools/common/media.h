#pragma once
#include <QSize>
#include <QString>
#include <memory>

#include "common/avowners.h"
#include "common/values.h"

struct AVStream;

// What FFmpeg's libraries tell about a source, read in the tool itself.
namespace toolkit {

struct MediaInfo {
  double duration = 0;  // seconds, 0 when unknown
  double kbps = 0;      // overall bitrate, 0 when unknown
  bool hasVideo = false;
  int videoIndex = -1;  // stream index in the file
  QSize size;          // as shown: a picture stored on its side counts upright
  Rational frameRate;
  double videoDuration = 0;           // the stream's own length, 0 when unknown
  double declaredVideoDuration = 0;  // frame count of the header / frame rate
  bool hasAudio = false;
  int audioIndex = -1;
  int sampleRate = 0;
  int channels = 0;
  double audioDuration = 0;
  bool otherStreams = false;  // subtitles, a second audio track, data, ...
  bool steadyClock = true;    // its times run on (not an MPEG-TS that may restart its clock)
};

// How far a stream's pictures are to be turned clockwise to be shown
// upright (0, 90, 180 or 270), as its display matrix says; phones store
// portrait video on its side with such a matrix.
int displayRotation(const AVStream& stream);

// The largest picture decoded or encoded here, each side; a source beyond it
// is refused before a frame is decoded.
constexpr int kMaxPictureSide = 8192;
constexpr qint64 kMaxPicturePixels = qint64(kMaxPictureSide) * kMaxPictureSide;
bool pictureFits(const QSize& size);
// Whether a decoder of this process refused a picture over kMaxPicturePixels.
bool pictureRefused();

// The files a playlist source names, links resolved, read from its content
// before anything else reads it: a playlist is one whatever it is called,
// and nothing else is, whatever it is called. Each must be a media file
// beneath the playlist's own folder that is no list of other files itself;
// the playlists of its variants are followed. Empty for any other source.
// Throws ToolError (opens-other-file) when the playlist names anything else:
// another protocol, a query, a file outside, a key, a list.
QStringList playlistParts(const QString& path);

// How FFmpeg is handed a local path so that it can only be that file.
QByteArray fileUrl(const QString& path);

// A source opened and probed with libavformat, in this process, and kept
// open for its conversion. Throws ToolError with a one-line reason when it is
// missing, empty, not a file, not media FFmpeg can read, or holds neither
// video nor audio, has a picture beyond kMaxPictureSide, or asks to open any
// other file (opens-other-file): only a playlist may open the `parts` it
// names (playlistParts). A header that promises more than the file holds is
// told by refuseIfTruncated(), so that a source that lacks what the output
// needs can be told that first.
class Source {
 public:
  explicit Source(const QString& path, const QStringList& parts = {});
  ~Source();
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  const MediaInfo& info() const { return info_; }
  AVFormatContext* context() const { return context_.get(); }
  // The first other file the source asked for and did not get, later while
  // it is read as well; empty when none.
  QString refusedOpen() const;
  // Throws ToolError (source-incomplete) when the header promises more
  // than the file holds.
  void refuseIfTruncated() const;

  struct Guard;

 private:
  std::unique_ptr<Guard> guard_;
  av::Input context_;
  MediaInfo info_;
  QString truncated_;  // why the source is cut short; empty when it is not
};

}  // namespace toolkit
