#include "common/amr.h"

#include <opencore-amrnb/interf_enc.h>

#include <cmath>
#include <utility>

namespace toolkit {
namespace {
constexpr int kFrameBytes = AmrEncoder::kFrameSamples * 2;
}  // namespace

AmrEncoder::AmrEncoder(double kbps) {
  static const double rates[] = {4.75, 5.15, 5.9, 6.7, 7.4, 7.95, 10.2, 12.2};
  static const Mode modes[] = {MR475, MR515, MR59, MR67, MR74, MR795, MR102, MR122};
  mode_ = MR122;
  for (int i = 0; i < 8; ++i)
    if (std::abs(rates[i] - kbps) < 1e-6) mode_ = modes[i];
  state_ = Encoder_Interface_init(0);
  if (!state_) failure_ = QStringLiteral("the AMR encoder cannot start");
}

AmrEncoder::~AmrEncoder() {
  if (state_) Encoder_Interface_exit(state_);
}

QByteArray AmrEncoder::frame(const char* samples) {
  if (!failure_.isEmpty()) return {};
  short speech[kFrameSamples];
  for (int i = 0; i < kFrameSamples; ++i) {
    const auto lo = static_cast<unsigned char>(samples[2 * i]);
    const auto hi = static_cast<unsigned char>(samples[2 * i + 1]);
    speech[i] = static_cast<short>(lo | (hi << 8));
  }
  unsigned char out[64];
  const int n = Encoder_Interface_Encode(state_, static_cast<Mode>(mode_), speech, out, 0);
  // A frame is a header byte and the speech bits; anything else is an error.
  if (n < 2 || n > int(sizeof out)) {
    failure_ = QStringLiteral("the AMR encoder failed on a frame (%1)").arg(n);
    return {};
  }
  return QByteArray(reinterpret_cast<const char*>(out), n);
}

QList<QByteArray> AmrEncoder::encode(const QByteArray& pcm) {
  pending_ += pcm;
  QList<QByteArray> out;
  qsizetype pos = 0;
  for (; failure_.isEmpty() && pos + kFrameBytes <= pending_.size(); pos += kFrameBytes)
    if (QByteArray coded = frame(pending_.constData() + pos); !coded.isEmpty()) out << coded;
  pending_.remove(0, pos);
  return out;
}

QByteArray AmrEncoder::finish() {
  if (pending_.isEmpty()) return {};
  pending_.append(QByteArray(kFrameBytes - pending_.size(), '\0'));
  const QByteArray out = frame(pending_.constData());
  pending_.clear();
  return out;
}

AmrThread::AmrThread(double kbps) : encoder_(kbps), failure_(encoder_.failure()), thread_([this] { loop(); }) {}

AmrThread::~AmrThread() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void AmrThread::put(QByteArray pcm) {
  {
    std::lock_guard lock(mutex_);
    samples_.push_back(std::move(pcm));
  }
  wake_.notify_one();
}

QList<QByteArray> AmrThread::take() {
  std::lock_guard lock(mutex_);
  return std::exchange(frames_, {});
}

QList<QByteArray> AmrThread::finish() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  QList<QByteArray> rest = std::exchange(frames_, {});
  if (const QByteArray last = encoder_.finish(); !last.isEmpty()) rest << last;
  failure_ = encoder_.failure();
  return rest;
}

QString AmrThread::failure() {
  std::lock_guard lock(mutex_);
  return failure_;
}

void AmrThread::loop() {
  for (;;) {
    QByteArray pcm;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return closing_ || !samples_.empty(); });
      if (samples_.empty()) return;
      pcm = std::move(samples_.front());
      samples_.pop_front();
    }
    const QList<QByteArray> coded = encoder_.encode(pcm);
    std::lock_guard lock(mutex_);
    frames_ += coded;
    failure_ = encoder_.failure();
  }
}

}  // namespace toolkit
