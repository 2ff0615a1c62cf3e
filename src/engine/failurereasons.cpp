#include "engine/failurereasons.h"

#include <QRegularExpression>
#include <QStringList>

namespace FailureReasons {

QString text(const QString& code) {
  static const struct {
    const char* code;
    const char* text;
  } reasons[] = {
      {"source-missing", "源文件不存在"},
      {"not-media", "不是可识别的媒体文件"},
      {"source-incomplete", "源文件不完整，可能已被截断"},
      {"source-damaged", "源文件已损坏，无法解码"},
      {"needs-video", "该格式需要视频，但源文件没有视频"},
      {"needs-audio", "该格式需要音频，但源文件没有音频"},
      {"disk-full", "磁盘空间不足"},
      {"output-unwritable", "无法写入输出文件夹"},
      {"name-too-long", "输出文件名太长"},
      {"no-ffmpeg", "未找到 FFmpeg，请先安装"},
      {"encode-failed", "编码失败"},
      {"usage", "编码程序的参数有误"},
      {"stopped", "已停止"},
      {"opens-other-file", "源文件要求读取其他文件，已拒绝"},
      {"picture-too-large", "画面尺寸过大，无法转换"},
      {"crashed", "编码程序异常结束"},
      {"start-failed", "无法启动编码程序"},
  };
  for (const auto& r : reasons)
    if (code == QLatin1String(r.code)) return QString::fromUtf8(r.text);
  return QStringLiteral("编码失败");
}

FileFailure classify(const QString& source, const RunEnd& run) {
  static const QRegularExpression breaks(QStringLiteral("[\r\n]+"));
  QStringList lines;
  for (const QString& l : run.output.split(breaks, Qt::SkipEmptyParts))
    if (!l.trimmed().isEmpty()) lines << l.trimmed();
  if (!run.crashed) {
    // The reason line stands second to last (last when the error line was
    // lost); one further up belongs to something else.
    const QString prefix = run.tool + QStringLiteral(": reason: ");
    const qsizetype from = qMax<qsizetype>(0, lines.size() - 2);
    for (qsizetype i = lines.size() - 1; i >= from; --i) {
      if (!lines[i].startsWith(prefix)) continue;
      const QString code = lines[i].mid(prefix.size()).trimmed();
      if (code.isEmpty()) break;
      const QString detail = i + 1 < lines.size() ? lines[i + 1] : lines[i];
      return {source, code, text(code), detail};
    }
  }
  const QString how = run.crashed
                          ? QStringLiteral("%1 ended abnormally (killed by a signal)").arg(run.tool)
                          : QStringLiteral("%1 exited with status %2 without saying why")
                                .arg(run.tool)
                                .arg(run.exitCode);
  return {source, QStringLiteral("crashed"), text(QStringLiteral("crashed")), how};
}

FileFailure startFailed(const QString& source, const QString& detail) {
  return {source, QStringLiteral("start-failed"), text(QStringLiteral("start-failed")), detail};
}

}  // namespace FailureReasons
