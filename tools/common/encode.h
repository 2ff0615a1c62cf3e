#pragma once
#include <QString>
#include <QStringList>
#include <functional>

#include "common/media.h"
#include "common/plan.h"
#include "common/platform.h"
#include "common/transcode.h"

namespace toolkit {

// How a tool shows its progress: mencoder's "Pos: ... ( 45%)" lines, or
// FFmpeg's "Duration: ..." once and "frame= ... time=SECONDS ..." lines.
enum class ProgressStyle { Mencoder, Ffmpeg };

// The progress lines as the tools print them.
QString mencoderLine(const ProgressState& s, int percent, double elapsed, double expected,
                     const Plan& plan);
QString ffmpegLine(const ProgressState& s);
QString durationLine(const MediaInfo& source);

// Runs the plan on the open source into `partial` and reads it back. Prints
// the progress (FFmpeg style against `shownDuration`, the length the
// "Duration:" line gave) and, on failure, the reason and a last line saying
// why. Returns the exit code: ExitOk when the file may get its name.
int encode(const Source& source, const Plan& plan, const QString& tool, ProgressStyle style,
           double shownDuration, platform::PartialFile& partial);

// What each tool does with its command line: the arguments after the
// program name into a request. Throws ToolError on an option it does not take.
using RequestParser = std::function<Request(const QStringList& args)>;
// The whole life of a tool. Returns its exit code.
int toolMain(int argc, char** argv, const QString& tool, ProgressStyle style,
             const RequestParser& parse);

}  // namespace toolkit
