#include "runner/dosoutputs.h"

#include <algorithm>

#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>

#include "runner/processgroup.h"
#include "runner/prompter.h"

DOSOutputs::DOSOutputs(QObject* parent) : QObject(parent) {}

DOSOutputs::~DOSOutputs() {
  if (process_) {
    process_->disconnect(this);
    terminateAndWait(2000);
  }
}

bool DOSOutputs::ExecuteCommand(const ToolCommand& command) {
  if (!command.isEmpty()) commandLine_ = command;
  if (commandLine_.isEmpty()) {
    prompter().critical(QStringLiteral("Command Line empty"));
    return false;
  }
  const QFileInfo program(commandLine_.program);
  if (!program.exists() || program.isDir() || !program.isExecutable()) {
    prompter().critical(QStringLiteral("File or command not found"));
    return false;
  }

  auto* p = new QProcess(this);
  p->setProgram(commandLine_.program);
  p->setArguments(commandLine_.args);
  p->setProcessChannelMode(QProcess::MergedChannels);
  p->setStandardInputFile(QProcess::nullDevice());  // the tool reads nothing
  ProcessGroup::prepare(*p);
  errno = 0;
  p->start(QIODevice::ReadOnly);
  const int code = errno;  // what the system said when a pipe could not be made
  if (!p->waitForStarted(10000)) {
    const QString why = p->errorString();
    p->kill();
    p->waitForFinished(1000);
    delete p;
    // Out of descriptors or memory: the output pipe could not be made.
    const bool pipeFailed = code == EMFILE || code == ENFILE || code == ENOMEM ||
                            why.contains(QStringLiteral("pipe"), Qt::CaseInsensitive);
    if (pipeFailed)
      prompter().critical(QStringLiteral("CreatePipe failed. Error: ") + QString::number(code));
    else
      prompter().critical(QStringLiteral("File or command not found"));
    return false;
  }

  process_ = p;
  pid_ = p->processId();
  outputs_.clear();
  exitCode_ = 0;
  crashed_ = false;
  stopped_ = false;
  decoder_ = std::make_unique<QStringDecoder>(QStringConverter::System);
  connect(p, &QProcess::readyReadStandardOutput, this, &DOSOutputs::readAvailable);
  connect(p, &QProcess::finished, this, &DOSOutputs::onFinished);
  return true;
}

void DOSOutputs::emitChunk(const QByteArray& bytes) {
  const QString text = decoder_->decode(bytes);
  outputs_ += text;
  keepTail();
  Q_EMIT ReceiveOutputs(text);
}

void DOSOutputs::keepTail() {
  // Cut only once twice the tail has gathered, so a long run moves the text
  // once per kTailChars characters, not once per chunk.
  if (outputs_.size() <= 2 * kTailChars) return;
  qsizetype cut = outputs_.size() - kTailChars;
  // Start at a line where one starts within the first half of the tail; else
  // never between the two halves of a character outside the basic plane.
  qsizetype lineStart = -1;
  for (qsizetype i = cut; i < cut + kTailChars / 2; ++i) {
    const QChar c = outputs_.at(i - 1);
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
      lineStart = i;
      break;
    }
  }
  if (lineStart >= 0)
    cut = lineStart;
  else if (outputs_.at(cut).isLowSurrogate())
    ++cut;
  outputs_.remove(0, cut);
}

void DOSOutputs::readAvailable() {
  if (!process_) return;
  const QByteArray data = process_->readAllStandardOutput();
  // A chunk ends at a line end: the progress readers take the first mark in
  // a chunk, and a loaded machine may deliver several lines at once (a
  // short file's first and last progress lines), each of which must count.
  for (qsizetype at = 0; at < data.size();) {
    qsizetype end = std::min(data.size(), at + kChunkBytes);
    for (qsizetype i = at; i < end; ++i) {
      if (data[i] == '\n' || data[i] == '\r') {
        end = i + 1;
        break;
      }
    }
    emitChunk(data.mid(at, end - at));
    at = end;
  }
}

void DOSOutputs::onFinished(int exitCode, QProcess::ExitStatus status) {
  if (!process_) return;
  readAvailable();
  exitCode_ = exitCode;
  crashed_ = crashed_ || status == QProcess::CrashExit;
  QProcess* p = process_;
  process_ = nullptr;
  p->disconnect(this);
  p->deleteLater();
  Q_EMIT CommandOver();
}

void DOSOutputs::terminate() {
  if (!process_) return;
  stopped_ = true;
  ProcessGroup::terminate(*process_);
}

void DOSOutputs::terminateAndWait(int ms) {
  if (!process_) return;
  QProcess* p = process_;
  process_ = nullptr;
  p->disconnect(this);
  stopped_ = true;
  ProcessGroup::terminate(*p, ms);
  if (!p->waitForFinished(ms)) {
    ProcessGroup::terminate(*p, 0);
    p->waitForFinished(1000);
  }
  delete p;
}

QString DOSOutputs::lastLine() const {
  static const QRegularExpression breaks(QStringLiteral("[\r\n]+"));
  const QStringList lines = outputs_.split(breaks, Qt::SkipEmptyParts);
  for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
    const QString t = it->trimmed();
    if (!t.isEmpty()) return t;
  }
  return {};
}
