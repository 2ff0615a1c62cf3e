#include "common/amr.h"

#include <opencore-amrnb/interf_enc.h>

#include <cmath>

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
}

AmrEncoder::~AmrEncoder() {
  if (state_) Encoder_Interface_exit(state_);
}

QByteArray AmrEncoder::frame(const char* samples) {
  short speech[kFrameSamples];
  for (int i = 0; i < kFrameSamples; ++i) {
    const auto lo = static_cast<unsigned char>(samples[2 * i]);
    const auto hi = static_cast<unsigned char>(samples[2 * i + 1]);
    speech[i] = static_cast<short>(lo | (hi << 8));
  }
  unsigned char out[64];
  const int n = Encoder_Interface_Encode(state_, static_cast<Mode>(mode_), speech, out, 0);
  return QByteArray(reinterpret_cast<const char*>(out), n > 0 ? n : 0);
}

QList<QByteArray> AmrEncoder::encode(const QByteArray& pcm) {
  pending_ += pcm;
  QList<QByteArray> out;
  qsizetype pos = 0;
  for (; pos + kFrameBytes <= pending_.size(); pos += kFrameBytes) out << frame(pending_.constData() + pos);
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

}  // namespace toolkit
