#include "engine/failurereasons.h"

#include <QRegularExpression>
#include <QStringList>

#include "protocol/toolprotocol.h"

namespace FailureReasons {

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
      return {source, *code, detail};
    }
  }
  const QString how = run.crashed ? run.tool + QStringLiteral(" ended abnormally (killed by a signal)")
                                  : run.tool + QStringLiteral(" exited with status ") +
                                        QString::number(run.exitCode) + QStringLiteral(" without saying why");
  return {source, QStringLiteral("crashed"), how};
}

}  // namespace FailureReasons
