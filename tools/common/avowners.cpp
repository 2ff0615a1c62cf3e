#include "common/avowners.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

namespace toolkit::av {

void CloseInput::operator()(AVFormatContext* f) const { avformat_close_input(&f); }

void CloseOutput::operator()(AVFormatContext* f) const {
  avio_closep(&f->pb);
  avformat_free_context(f);
}

void FreeCodec::operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
void FreeFrame::operator()(AVFrame* f) const { av_frame_free(&f); }
void FreePacket::operator()(AVPacket* p) const { av_packet_free(&p); }
void FreeGraph::operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }

Dictionary::~Dictionary() { av_dict_free(&d_); }

QString errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return QStringLiteral("error %1").arg(code);
  return QString::fromUtf8(text);
}

}  // namespace toolkit::av
