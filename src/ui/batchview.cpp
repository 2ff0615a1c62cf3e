#include "ui/batchview.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "filelist/filequeue.h"
#include "texts/texts.h"

namespace {
const QString kTitle = Texts::productName();
}

QString batchWindowTitle(const BatchProgress& progress, std::optional<qint64> secondsLeft) {
  if (progress.source.isEmpty()) return kTitle;
  const QString name = QFileInfo(QDir::fromNativeSeparators(progress.source)).fileName();
  if (progress.fileIndex <= 0 || progress.fileCount <= 0)
    return QStringLiteral("%1 \u2014 %2").arg(kTitle, name);
  QString title = QStringLiteral("%1 \u2014 %2/%3 %4")
                      .arg(kTitle)
                      .arg(progress.fileIndex)
                      .arg(progress.fileCount)
                      .arg(name);
  if (secondsLeft) title += QStringLiteral("  ") + Texts::timeLeft(*secondsLeft);
  return title;
}

QString failureSummary(const BatchSummary& summary) {
  const qsizetype failed = summary.failures.size();
  const QString back = QStringLiteral("%1 个文件转换失败，已放回列表末尾。").arg(failed);
  if (summary.converted <= 0) return back;
  return QStringLiteral("已转换 %1 个文件，").arg(summary.converted) + back;
}

QString failureDetails(const QList<FileFailure>& failures) {
  QStringList entries;
  for (const FileFailure& f : failures) {
    QStringList lines{f.source};
    lines << QStringLiteral("原因：") + Texts::reason(f.code);
    if (!f.detail.isEmpty()) lines << QStringLiteral("编码程序：") + f.detail;
    entries << lines.join(QLatin1Char('\n'));
  }
  return entries.join(QStringLiteral("\n\n"));
}

void markFailedRows(FileQueue& queue, const QList<FileFailure>& failures) {
  int row = queue.count() - 1;
  for (qsizetype k = failures.size() - 1; k >= 0; --k) {
    int at = row;
    while (at >= 0 && queue.at(at) != failures[k].source) --at;
    if (at < 0) continue;  // not in the list (removed meanwhile): nothing to mark
    queue.setFailure(at, Texts::reason(failures[k].code));
    row = at - 1;
  }
}
