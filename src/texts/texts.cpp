#include "texts/texts.h"

#include <algorithm>

#include "protocol/toolprotocol.h"

namespace Texts {

namespace {
const QString kCrashed = QStringLiteral("crashed");
const QString kStartFailed = QStringLiteral("start-failed");
}  // namespace

QString reason(const QString& code) {
  using R = ToolProtocol::Reason;
  if (const auto r = ToolProtocol::reasonOf(code)) {
    switch (*r) {
      case R::SourceMissing: return QStringLiteral("源文件不存在");
      case R::NotMedia: return QStringLiteral("不是可识别的媒体文件");
      case R::SourceIncomplete: return QStringLiteral("源文件不完整，可能已被截断");
      case R::SourceDamaged: return QStringLiteral("源文件已损坏，无法解码");
      case R::NeedsVideo: return QStringLiteral("该格式需要视频，但源文件没有视频");
      case R::NeedsAudio: return QStringLiteral("该格式需要音频，但源文件没有音频");
      case R::DiskFull: return QStringLiteral("磁盘空间不足");
      case R::OutputUnwritable: return QStringLiteral("无法写入输出文件夹");
      case R::NameTooLong: return QStringLiteral("输出文件名太长");
      case R::NameNotUtf8: return QStringLiteral("文件名不是有效的 UTF-8 编码，请先改名");
      case R::EncodeFailed: break;
      case R::Usage: return QStringLiteral("编码程序的参数有误");
      case R::Stopped: return QStringLiteral("已停止");
      case R::OpensOtherFile: return QStringLiteral("源文件要求读取其他文件，已拒绝");
      case R::PictureTooLarge: return QStringLiteral("画面尺寸过大，无法转换");
    }
    return QStringLiteral("编码失败");
  }
  if (code == kCrashed) return QStringLiteral("编码程序异常结束");
  if (code == kStartFailed) return QStringLiteral("无法启动编码程序");
  return QStringLiteral("编码失败");
}

QString progressCaption(const Progress::Reading& r) {
  const bool percent = r.form == Progress::Form::Percent;
  if (r.finished) return percent ? QStringLiteral("结束 100%") : QStringLiteral("完成 100%");
  return (percent ? QStringLiteral("转换中") : QStringLiteral("创建中")) + r.busyChar + QLatin1Char(' ') + r.shown +
         QLatin1Char('%');
}

QString progressCaption(const BatchProgress& progress, const QString& standing) {
  return progress.reading ? progressCaption(*progress.reading) : standing;
}

QString batchEndCaption(const BatchSummary& summary) {
  if (summary.startFailed) return reason(kStartFailed);
  return summary.stopped ? QStringLiteral("已停止") : QStringLiteral("Done.");
}

QString emptyListWarning() { return QStringLiteral("请先添加一个文件"); }
QString emptyListCaption() { return QStringLiteral("添加"); }
QString stopQuestion() { return QStringLiteral("正在转换，要停止吗？"); }
QString quitQuestion() { return QStringLiteral("正在转换，要停止并退出吗？"); }
QString startButton() { return QStringLiteral("立刻开始转换！"); }
QString stopButton() { return QStringLiteral("停止转换"); }

QString timeLeft(qint64 seconds) {
  const qint64 s = std::max<qint64>(seconds, 1);
  if (s < 60) return QStringLiteral("剩余约 %1 秒").arg((s + 4) / 5 * 5);
  const qint64 minutes = (s + 59) / 60;
  if (minutes < 60) return QStringLiteral("剩余约 %1 分钟").arg(minutes);
  return QStringLiteral("剩余约 %1 小时 %2 分钟").arg(minutes / 60).arg(minutes % 60);
}
QString productName() { return QStringLiteral("Vantrel"); }

QString batchEndNotice(int converted, int failed) {
  return QStringLiteral("已转换 %1 个文件，%2 个失败").arg(converted).arg(failed);
}
QString openOutputFolder() { return QStringLiteral("打开输出文件夹"); }

QString feedbackDone() { return QStringLiteral("完毕."); }

QString feedbackFailed(SendFault fault, int httpStatus) {
  QString why;
  switch (fault) {
    case SendFault::Refused: why = QStringLiteral("无法连接服务器"); break;
    case SendFault::NoHost: why = QStringLiteral("找不到服务器"); break;
    case SendFault::TimedOut: why = QStringLiteral("连接超时"); break;
    case SendFault::Status: why = QStringLiteral("服务器返回 %1").arg(httpStatus); break;
    case SendFault::Other: why = QStringLiteral("网络错误"); break;
  }
  return QStringLiteral("发送失败：\n") + why;
}

}  // namespace Texts
