#include "engine/failurereasons.h"

#include <QRegularExpression>
#include <QStringList>

#include "protocol/toolprotocol.h"

namespace FailureReasons {

namespace {
// The words for each of the encoders' reasons, and for the engine's own.
QString chinese(ToolProtocol::Reason reason) {
  using R = ToolProtocol::Reason;
  switch (reason) {
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
    case R::NoFfmpeg: return QStringLiteral("未找到 FFmpeg，请先安装");
    case R::EncodeFailed: break;
    case R::Usage: return QStringLiteral("编码程序的参数有误");
    case R::Stopped: return QStringLiteral("已停止");
    case R::OpensOtherFile: return QStringLiteral("源文件要求读取其他文件，已拒绝");
    case R::PictureTooLarge: return QStringLiteral("画面尺寸过大，无法转换");
  }
  return QStringLiteral("编码失败");
}
}  // namespace

QString text(const QString& code) {
  if (const auto reason = ToolProtocol::reasonOf(code)) return chinese(*reason);
  if (code == QLatin1String("crashed")) return QStringLiteral("编码程序异常结束");
  if (code == QLatin1String("start-failed")) return QStringLiteral("无法启动编码程序");
  return QStringLiteral("编码失败");
}

FileFailure classify(const QString& source, const RunEnd& run) {
  static const QRegularExpression breaks(QStringLiteral("[\r\n]+"));
  QStringList lines;
  for (const QString& l : run.output.split(breaks, Qt::SkipEmptyParts))
    if (!l.trimmed().isEmpty()) lines << l.trimmed();
  if (!run.crashed) {
    // The reason line stands second to last (last when the error line was
    // lost); one further up belongs to something else. The encoders print
    // no line break of a name, so a line that starts with the tool's reason
    // tag is the tool's own.
    const qsizetype from = qMax<qsizetype>(0, lines.size() - 2);
    for (qsizetype i = lines.size() - 1; i >= from; --i) {
      const auto code = ToolProtocol::readReason(run.tool, lines[i]);
      if (!code) continue;
      const QString detail = i + 1 < lines.size() ? lines[i + 1] : lines[i];
      return {source, *code, text(*code), detail};
    }
  }
  const QString how = run.crashed ? run.tool + QStringLiteral(" ended abnormally (killed by a signal)")
                                  : run.tool + QStringLiteral(" exited with status ") +
                                        QString::number(run.exitCode) + QStringLiteral(" without saying why");
  return {source, QStringLiteral("crashed"), text(QStringLiteral("crashed")), how};
}

FileFailure startFailed(const QString& source, const QString& detail) {
  return {source, QStringLiteral("start-failed"), text(QStringLiteral("start-failed")), detail};
}

}  // namespace FailureReasons
