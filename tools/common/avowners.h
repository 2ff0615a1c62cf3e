#pragma once
// Owners for FFmpeg's objects, so that each is freed once, on every way out,
// and the text of FFmpeg's error codes. Declared without FFmpeg's headers, so
// that a header holding an owner needs none of them.

#include <QString>
#include <memory>

struct AVCodecContext;
struct AVDictionary;
struct AVFilterGraph;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

namespace toolkit::av {

struct CloseInput {
  void operator()(AVFormatContext* f) const;  // avformat_close_input
};
struct CloseOutput {
  void operator()(AVFormatContext* f) const;  // its file closed, then avformat_free_context
};
struct FreeCodec {
  void operator()(AVCodecContext* c) const;
};
struct FreeFrame {
  void operator()(AVFrame* f) const;
};
struct FreePacket {
  void operator()(AVPacket* p) const;
};
struct FreeGraph {
  void operator()(AVFilterGraph* g) const;
};

// A demuxer's context from avformat_open_input.
using Input = std::unique_ptr<AVFormatContext, CloseInput>;
// A muxer's context from avformat_alloc_output_context2, with its file.
using Output = std::unique_ptr<AVFormatContext, CloseOutput>;
using Codec = std::unique_ptr<AVCodecContext, FreeCodec>;
using Frame = std::unique_ptr<AVFrame, FreeFrame>;
using Packet = std::unique_ptr<AVPacket, FreePacket>;
using Graph = std::unique_ptr<AVFilterGraph, FreeGraph>;

// An option list, handed to FFmpeg by address().
class Dictionary {
 public:
  Dictionary() = default;
  ~Dictionary();
  Dictionary(const Dictionary&) = delete;
  Dictionary& operator=(const Dictionary&) = delete;
  AVDictionary** address() { return &d_; }
  AVDictionary* get() const { return d_; }

 private:
  AVDictionary* d_ = nullptr;
};

// FFmpeg's text for an error code.
QString errorText(int code);

}  // namespace toolkit::av
