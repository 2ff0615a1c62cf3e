#pragma once
// The conversion's parts, shared by its stages: reading and decoding
// (transcode_decode.cpp), the filters (transcode_filters.cpp), the encoders
// (transcode_encode.cpp) and writing (transcode_mux.cpp); transcode.cpp runs
// them.

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
#include "common/transcode.h"
#include "common/avowners.h"
#include "common/ffcompat.h"
#include "common/media.h"

namespace toolkit::conversion {

// A failure inside the conversion; caught at its top.
struct Failed {
  Reason reason;
  QString why;
};

struct Stopped {};

// Why writing failed, from FFmpeg's error code.
Reason writeReason(int code);

using av::Frame;
using av::Packet;

// Throw Failed when there is no memory for them.
Packet newPacket();
Frame newFrame();

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
  int64_t muxShift = AV_NOPTS_VALUE;    // added to the sound's times in AVI, in the output stream's time base
  int64_t firstRead = AV_NOPTS_VALUE, endRead = AV_NOPTS_VALUE;  // packets read, in the stream's time base
  int64_t gap = 0;  // jumps taken out of this stream, in its time base
  Frame held;           // a late sound's first frame, until the next tells whether its times hold
  bool leadIn = false;  // the sound is led in with silence from the start
  int64_t pictures = 0;  // frames decoded, for a picture lane
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
  void releaseHeld(Lane& lane, AVFrame* next);
  void push(Lane& lane, AVFrame* frame);
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
  int64_t stillEnd(const Lane& picture) const;
  int64_t pictureLength(const AVStream& s, int64_t length) const;
};

}  // namespace toolkit::conversion
