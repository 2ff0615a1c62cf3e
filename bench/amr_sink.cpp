// Codes 8000 Hz mono 16-bit PCM, read from the file named (a named pipe), to
// AMR-NB with the encoders' own coder and drops the frames: the AMR coding
// that bench_encoders gives ffmpeg's side of the AMR road, which Debian's
// ffmpeg cannot do itself.
#include <QFile>

#include "common/amr.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  QFile in(QFile::decodeName(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) return 1;
  toolkit::AmrEncoder coder(12.2);
  qint64 bytes = 0;
  for (;;) {
    const QByteArray chunk = in.read(1 << 16);
    if (chunk.isEmpty()) break;
    for (const QByteArray& frame : coder.encode(chunk)) bytes += frame.size();
  }
  bytes += coder.finish().size();
  return bytes > 0 ? 0 : 1;
}
