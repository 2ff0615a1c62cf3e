// conv: the first-stage encoder, taking mencoder-style options.
#include "common/dialects.h"
#include "common/encode.h"

int main(int argc, char** argv) {
  return toolkit::toolMain(argc, argv, QStringLiteral("conv"), toolkit::ProgressStyle::Mencoder,
                           toolkit::parseMencoderStyle);
}
