// coder: an encoder taking ffmpeg-style options.
#include "common/dialects.h"
#include "common/encode.h"

int main(int argc, char** argv) {
  return toolkit::toolMain(argc, argv, QStringLiteral("coder"), toolkit::ProgressStyle::Ffmpeg,
                           toolkit::parseFfmpegStyle);
}
