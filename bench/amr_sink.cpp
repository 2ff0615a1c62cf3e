// Codes 8000 Hz mono 16-bit PCM, read from the file named (a named pipe or a
// plain file), to AMR-NB with the encoders' own coder: the AMR coding that the
// benches give ffmpeg's side of the AMR road, which Debian's ffmpeg cannot do
// itself. The frames are dropped, or written to the second file named as an
// AMR file ("#!AMR\n" and the frames) that ffmpeg then muxes.
#include <QFile>

#include "common/amr.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  QFile in(QFile::decodeName(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) return 1;
  QFile out;
  if (argc > 2) {
    out.setFileName(QFile::decodeName(argv[2]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write("#!AMR\n") != 6) return 1;
  }
  toolkit::AmrEncoder coder(12.2);
  qint64 bytes = 0;
  const auto keep = [&](const QByteArray& frame) {
    bytes += frame.size();
    return !out.isOpen() || out.write(frame) == frame.size();
  };
  for (;;) {
    const QByteArray chunk = in.read(1 << 16);
    if (chunk.isEmpty()) break;
    for (const QByteArray& frame : coder.encode(chunk))
      if (!keep(frame)) return 1;
  }
  if (!keep(coder.finish())) return 1;
  if (out.isOpen() && !out.flush()) return 1;
  return bytes > 0 ? 0 : 1;
}
