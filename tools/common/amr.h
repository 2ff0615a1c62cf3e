#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

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
  // complete so far; none once failure() tells why it cannot.
  QList<QByteArray> encode(const QByteArray& pcm);
  // The last, zero-padded frame, if any samples are left.
  QByteArray finish();
  // Why the encoder could not start or code a frame; empty while it works.
  const QString& failure() const { return failure_; }

 private:
  QByteArray frame(const char* samples);
  void* state_ = nullptr;
  QString failure_;
  int mode_ = 0;
  QByteArray pending_;
};

// An AmrEncoder on a thread of its own, so that the sound is coded while the
// picture is.
class AmrThread {
 public:
  explicit AmrThread(double kbps);
  ~AmrThread();
  AmrThread(const AmrThread&) = delete;
  AmrThread& operator=(const AmrThread&) = delete;

  // Hands on samples as AmrEncoder::encode takes them.
  void put(QByteArray pcm);
  // The frames coded so far, in order.
  QList<QByteArray> take();
  // Waits until every sample handed on is coded; the frames not yet taken,
  // the last one padded.
  QList<QByteArray> finish();
  // As AmrEncoder::failure(), for what was coded so far.
  QString failure();

 private:
  void loop();

  AmrEncoder encoder_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<QByteArray> samples_;
  QList<QByteArray> frames_;
  QString failure_;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace toolkit
