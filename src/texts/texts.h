#pragma once
// The product's words for what the engine reports: one table that the window
// and vantrel-cli both read. The engine itself says nothing to a user; it
// gives codes and readings, and these turn them into text.
#include <QString>

#include "engine/batchhost.h"
#include "protocol/progress.h"

namespace Texts {

// The Chinese reason of a failure code (the encoders' codes and the engine's
// own "crashed" and "start-failed"); "编码失败" for a code nobody knows.
QString reason(const QString& code);

// The progress caption of a reading: "转换中\ 45%" and "结束 100%" for the
// percent form, "创建中| 33.3%" and "完成 100%" for the timecode form.
QString progressCaption(const Progress::Reading& reading);
// The caption while a batch runs: the reading's, or the caption as it stands
// when the file has shown none yet.
QString progressCaption(const BatchProgress& progress, const QString& standing);
// The caption a batch ends with: "Done.", "已停止", or the start failure's reason.
QString batchEndCaption(const BatchSummary& summary);

// The questions and warnings of the start button.
QString emptyListWarning();     // "请先添加一个文件"
QString emptyListCaption();     // "添加"
QString stopQuestion();         // "正在转换，要停止吗？"
QString quitQuestion();         // "正在转换，要停止并退出吗？": closing the window mid-batch
QString startButton();          // "立刻开始转换！": the start button while no batch runs
QString stopButton();           // "停止转换": the same button while a batch runs
// The rest of a batch in the window's title: "剩余约 45 秒", "剩余约 3 分钟",
// "剩余约 2 小时 5 分钟" (seconds rounded up to fives, minutes up).
QString timeLeft(qint64 seconds);
// The desktop notice of a batch's end: "已转换 n 个文件，m 个失败", and the
// label of its action that opens the output folder.
QString batchEndNotice(int converted, int failed);
QString openOutputFolder();
QString productName();          // "Vantrel": the title of the window and its boxes

// The feedback form's end: "完毕." when the server took the comment, else
// "发送失败" and why, in a few words.
enum class SendFault { Refused, NoHost, TimedOut, Status, Other };
QString feedbackDone();
QString feedbackFailed(SendFault fault, int httpStatus);

}  // namespace Texts
