#pragma once
#include <QByteArray>
#include <QList>

// AMR narrow-band encoding with the opencore library: one frame of the AMR
// storage format (a header byte and the speech bits) per 20 ms, as FFmpeg's
// 3GP muxer takes them.
namespace toolkit {

class AmrEncoder {
 public:
  // `kbps` is one of the eight AMR-NB rates (4.75 ... 12.2).
  explicit AmrEncoder(double kbps);
  ~AmrEncoder();
  AmrEncoder(const AmrEncoder&) = delete;
  AmrEncoder& operator=(const AmrEncoder&) = delete;

  static constexpr int kFrameSamples = 160;  // 20 ms at 8000 Hz

  // Takes 8000 Hz mono signed 16-bit little-endian PCM, returns the frames
  // complete so far.
  QList<QByteArray> encode(const QByteArray& pcm);
  // The last, zero-padded frame, if any samples are left.
  QByteArray finish();

 private:
  QByteArray frame(const char* samples);
  void* state_ = nullptr;
  int mode_ = 0;
  QByteArray pending_;
};

}  // namespace toolkit
