#pragma once
#include <QStringList>

#include "common/plan.h"

// The two option dialects of the command lines the main program builds.
// Each throws ToolError (usage) on an option or value it does not take.
namespace toolkit {

// conv: source -oac mp3lame|lavc -lameopts preset=N -ovc lavc
//       -lavcopts vcodec=..:vbitrate=..:acodec=..:abitrate=..:vpass=1 (repeatable)
//       -ofps F -of avi|lavf -lavfopts format=F -o output
Request parseMencoderStyle(const QStringList& args);

// coder, coder2: -i source -y -vn -s WxH -vcodec C -acodec C -b N -ab N -ar N
//                -ac N -f F output
Request parseFfmpegStyle(const QStringList& args);

}  // namespace toolkit
