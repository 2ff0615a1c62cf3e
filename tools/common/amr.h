#pragma once
#include <QByteArray>

// AMR narrow-band encoding with the opencore library, into the AMR storage
// format ("#!AMR\n" and one frame per 20 ms) that FFmpeg's 3GP muxer takes.
namespace toolkit {

class AmrEncoder {
 public:
  // `kbps` is one of the eight AMR-NB rates (4.75 ... 12.2).
  explicit AmrEncoder(double kbps);
  ~AmrEncoder();
  AmrEncoder(const AmrEncoder&) = delete;
  AmrEncoder& operator=(const AmrEncoder&) = delete;

  static QByteArray header();
  // Takes 8000 Hz mono signed 16-bit little-endian PCM, returns the frames
  // complete so far.
  QByteArray encode(const QByteArray& pcm);
  // The last, zero-padded frame, if any samples are left.
  QByteArray finish();

 private:
  QByteArray frame(const char* samples);
  void* state_ = nullptr;
  int mode_ = 0;
  QByteArray pending_;
};

}  // namespace toolkit
