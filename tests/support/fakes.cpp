#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "settings/core/appdirs.h"
#include "settings/core/options.h"

RecordingPrompter::RecordingPrompter() { setPrompter(this); }
RecordingPrompter::~RecordingPrompter() { setPrompter(nullptr); }

void RecordingPrompter::critical(const QString& text) { messages << "critical:" + text; }

void RecordingPrompter::warning(const QString& text, const QString& caption) {
  messages << "warning:" + caption + ":" + text;
}

void RecordingPrompter::information(const QString& text, const QString& caption) {
  messages << "information:" + caption + ":" + text;
}

bool RecordingPrompter::question(const QString& text, const QString& caption) {
  messages << "question:" + caption + ":" + text;
  if (onQuestion) onQuestion();
  return answer;
}

QStringList RecordingPrompter::said(const QString& kind) const {
  QStringList found;
  const QString prefix = kind + QLatin1Char(':');
  for (const QString& m : messages)
    if (m.startsWith(prefix)) found << m.mid(prefix.size());
  return found;
}

QString writeScript(const QString& path, const QString& body) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  f.open(QIODevice::WriteOnly | QIODevice::Truncate);
  f.write("#!/bin/sh\n");
  f.write(body.toUtf8());
  f.write("\n");
  f.close();
  f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return path;
}

const char* const kFakeTool = R"SH(
log="$(dirname "$0")/../calls.log"
in=""; out=""; prev=""; last=""
for a in "$@"; do
  [ "$prev" = "-i" ] && in="$a"
  [ "$prev" = "-o" ] && out="$a"
  prev="$a"; last="$a"
done
[ -z "$out" ] && out="$last"
[ -z "$in" ] && in="$1"
[ -e "$out" ] && echo "STALE $out" >> "$log"
tool="$(basename "$0")"
echo "$tool|$in|$out" >> "$log"
body="$in"
[ -f "$in" ] && body="$(cat "$in")"
partial="$(dirname "$out")/.vantrel-$$.part"
case "$body" in *slow*) echo "Duration: 01:00:00.00, start: 0"; echo "Pos: 1s (10%)"; echo partial > "$partial"; sleep 30;; esac
case "$body" in *wait*) echo "Pos: 0.1s 1f ( 0%) 0.00fps"; while [ ! -e "$in.go" ]; do sleep 0.05; done;; esac
case "$body" in *bad*) echo partial > "$partial"; echo "Error: not a media file"; exit 1;; esac
case "$body" in *reason:*)
  code="${body#*reason:}"; code="${code%%[!a-z-]*}"
  echo "Pos: 0.1s 1f ( 0%) 0.00fps"
  echo "$tool: reason: $code"; echo "$tool: error: the $code happened"; exit 1;; esac
case "$body" in *crash*)
  echo partial > "$partial"
  echo "Pos: 0.1s 1f ( 0%) 0.00fps"; kill -9 $$;; esac
echo "Duration: 00:00:02.00, start: 0"
echo "Pos: 1.0s 25f (50%)  time=1.00 bitrate"
echo "$body" > "$out"
echo "(100%)"
)SH";

FakeProgramFolder::FakeProgramFolder() {
  qputenv("XDG_CACHE_HOME", cache.toUtf8());
  QDir().mkpath(app + "/data");
  for (const char* tool : {"conv", "coder", "coder2"}) writeScript(app + "/data/" + tool, kFakeTool);
  AppDirs::setProgramFolder(app);
  options() = OptionValues{};
}

FakeProgramFolder::~FakeProgramFolder() { AppDirs::setProgramFolder(QString()); }

QString FakeProgramFolder::source(const QString& name, const QByteArray& body) {
  QFile f(root.filePath(name));
  f.open(QIODevice::WriteOnly);
  f.write(body.isEmpty() ? QFileInfo(name).fileName().toUtf8() : body);
  return f.fileName();
}

QStringList FakeProgramFolder::calls() const {
  QFile f(app + "/calls.log");
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

QStringList FakeProgramFolder::outputs() const {
  return QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}
