#include "cli/clifront.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>

#include "cli/console.h"
#include "filelist/pathhelpers.h"
#include "settings/core/appdirs.h"
#include "texts/texts.h"

namespace {
void writeTo(FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
  std::fflush(stream);
}
}  // namespace

CliFront::CliFront(const CliRequest& request, QObject* parent)
    : QObject(parent), request_(request), folder_(request.outputFolder), driver_(*this) {
  files_.appendFiles(request_.sources);
  fileCount_ = files_.count();
  terminal_ = !request_.quiet && Console::stderrIsTerminal();
  setPrompter(this);
}

CliFront::~CliFront() { setPrompter(nullptr); }

int CliFront::run() {
  // Each copy of the program keeps its work files in a folder of its own, so
  // copies started side by side never share one.
  QTemporaryDir work(JoinPath(AppDirs::workFolder(), QStringLiteral("cli-XXXXXX")));
  if (!work.isValid()) {
    writeTo(stderr, QStringLiteral("vantrel-cli: cannot make a work folder in ") + AppDirs::workFolder() + QLatin1Char('\n'));
    return 1;
  }
  workFolder_ = work.path();
  driver_.setStartDelay(0);  // no window to show first

  Console::catchInterrupts();
  int stoppedBy = 0;
  signalWatch_.setInterval(50);
  connect(&signalWatch_, &QTimer::timeout, this, [this, &stoppedBy] {
    if (stoppedBy || !Console::pendingSignal()) return;
    stoppedBy = Console::pendingSignal();
    clearProgressLine();
    if (!request_.quiet) writeTo(stderr, QStringLiteral("vantrel-cli: stopping\n"));
    driver_.requestStop();
  });
  signalWatch_.start();

  QEventLoop loop;
  connect(&driver_, &BatchDriver::batchEnded, &loop, &QEventLoop::quit);
  driver_.start();
  if (driver_.isRunning()) loop.exec();
  signalWatch_.stop();
  clearProgressLine();

  if (!summary_) return 1;
  for (const FileFailure& f : summary_->failures)
    writeTo(stderr, QStringLiteral("vantrel-cli: failed: ") + f.source + QStringLiteral(": ") + Texts::reason(f.code) +
                        QStringLiteral(" [") + f.code + QStringLiteral("] ") + f.detail + QLatin1Char('\n'));
  if (summary_->startFailed)
    writeTo(stderr, QStringLiteral("vantrel-cli: %1; %2 file(s) not converted\n")
                        .arg(Texts::batchEndCaption(*summary_))
                        .arg(files_.count() - summary_->failures.size()));
  if (summary_->stopped && stoppedBy) return Console::exitStatusFor(stoppedBy);
  if (summary_->startFailed || !summary_->failures.isEmpty()) return 1;
  return 0;
}

BatchJob CliFront::batchJob() const {
  BatchJob job;
  job.panel = request_.panel;
  job.toolFolder = AppDirs::toolFolder();
  job.dataFolder = AppDirs::dataFolder();
  job.workFolder = workFolder_;
  job.defaultOutputFolder = AppDirs::defaultOutputFolder();
  job.jobs = request_.jobs;
  return job;
}

void CliFront::clearProgressLine() {
  if (!progressShown_) return;
  writeTo(stderr, QStringLiteral("\r\x1b[K"));
  progressShown_ = false;
}

void CliFront::batchProgress(const BatchProgress& p) {
  auto& clock = stageClocks_[p.fileIndex];
  if (clock.first != p.stage) {
    clock.first = p.stage;
    clock.second.start();
  }
  if (!terminal_) return;
  // A name never goes through a format string: "%1" in it stays as it is.
  QString line = QLatin1Char('[') + QString::number(p.fileIndex) + QLatin1Char('/') + QString::number(p.fileCount) +
                 QStringLiteral("] ") + QFileInfo(p.source).fileName() + QStringLiteral("  stage ") +
                 QString::number(p.stage) + QLatin1Char('/') + QString::number(p.stageCount);
  if (p.percent >= 0) line += QStringLiteral("  %1%").arg(p.percent);
  const double seconds = static_cast<double>(clock.second.elapsed()) / 1000.0;
  if (p.percent > 0 && p.stageSeconds > 0 && seconds > 0.2)
    line += QStringLiteral("  %1x").arg(p.percent / 100.0 * p.stageSeconds / seconds, 0, 'f', 1);
  writeTo(stderr, QStringLiteral("\r\x1b[K") + line);
  progressShown_ = true;
}

void CliFront::fileFinished(const FileResult& r) {
  clearProgressLine();
  const double seconds = static_cast<double>(r.milliseconds) / 1000.0;
  if (request_.json) {
    QJsonObject o;
    o[QStringLiteral("source")] = r.source;
    o[QStringLiteral("output")] = r.converted ? QJsonValue(r.output) : QJsonValue(QJsonValue::Null);
    o[QStringLiteral("status")] = r.converted ? QStringLiteral("converted") : QStringLiteral("failed");
    o[QStringLiteral("reason")] = r.converted ? QJsonValue(QJsonValue::Null) : QJsonValue(r.failure.code);
    if (!r.converted) {
      o[QStringLiteral("message")] = Texts::reason(r.failure.code);
      o[QStringLiteral("detail")] = r.failure.detail;
    }
    o[QStringLiteral("seconds")] = qRound(seconds * 1000) / 1000.0;
    writeTo(stdout, QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    return;
  }
  if (request_.quiet) return;
  if (r.converted)
    writeTo(stdout, QStringLiteral("converted: ") + r.source + QStringLiteral(" -> ") + r.output +
                        QStringLiteral(" (") + QString::number(seconds, 'f', 1) + QStringLiteral(" s)\n"));
  else
    writeTo(stdout, QStringLiteral("failed: ") + r.source + QStringLiteral(": ") + Texts::reason(r.failure.code) + QLatin1Char('\n'));
}

void CliFront::warnEmptyList() { writeTo(stderr, QStringLiteral("vantrel-cli: no files to convert\n")); }

void CliFront::batchFinished(const BatchSummary& summary) { summary_ = summary; }

void CliFront::critical(const QString& text) { writeTo(stderr, QStringLiteral("vantrel-cli: ") + text + QLatin1Char('\n')); }
void CliFront::warning(const QString& text, const QString&) { critical(text); }
void CliFront::information(const QString& text, const QString&) {
  if (!request_.quiet) critical(text);
}
bool CliFront::question(const QString&, const QString&) { return false; }
