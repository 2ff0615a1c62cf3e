#pragma once
// Stand-ins for the desktop: a prompter that records and answers message
// boxes, a shell that records folder and sound requests, and fake tools.
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QFileInfo>
#include <functional>

#include "engine/batchhost.h"
#include "runner/prompter.h"
#include "settings/core/appdirs.h"
#include "settings/core/options.h"

class RecordingPrompter : public Prompter {
 public:
  RecordingPrompter() { setPrompter(this); }
  ~RecordingPrompter() override { setPrompter(nullptr); }
  void critical(const QString& text) override { messages << "critical:" + text; }
  void warning(const QString& text, const QString& caption) override {
    messages << "warning:" + caption + ":" + text;
  }
  void information(const QString& text, const QString& caption) override {
    messages << "information:" + caption + ":" + text;
  }
  bool question(const QString& text, const QString& caption) override {
    messages << "question:" + caption + ":" + text;
    if (onQuestion) onQuestion();
    return answer;
  }
  QStringList messages;
  bool answer = false;
  std::function<void()> onQuestion;
};

// Writes an executable shell script; returns its path.
inline QString writeScript(const QString& path, const QString& body) {
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

// The fake encoder: logs its call, finds its input and output like the real
// ones, and behaves by the source's text:
//   "slow"          keeps running (after a progress line and a partial output)
//   "bad"           fails after writing part of its output, with no reason line
//   "reason:<code>" prints progress, then the two failure lines, exits 1
//   "crash"         writes its output and the partial file beside it, then
//                   dies by SIGKILL
//   anything else   converts (the output holds the source's text)
inline const char* kFakeTool = R"SH(
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
case "$body" in *slow*) echo "Duration: 01:00:00.00, start: 0"; echo "Pos: 1s (10%)"; echo partial > "$out"; sleep 30;; esac
case "$body" in *bad*) echo partial > "$out"; echo "Error: not a media file"; exit 1;; esac
case "$body" in *reason:*)
  code="${body#*reason:}"; code="${code%%[!a-z-]*}"
  echo "Pos: 0.1s 1f ( 0%) 0.00fps"
  echo "$tool: reason: $code"; echo "$tool: error: the $code happened"; exit 1;; esac
case "$body" in *crash*)
  echo partial > "$out"; echo partial > "$(dirname "$out")/.vantrel-$$.part"
  echo "Pos: 0.1s 1f ( 0%) 0.00fps"; kill -9 $$;; esac
echo "Duration: 00:00:02.00, start: 0"
echo "Pos: 1.0s 25f (50%)  time=1.00 bitrate"
echo "$body" > "$out"
echo "(100%)"
)SH";

// A program folder whose data/ holds the fake encoder under every tool name,
// an output folder and a private cache, all in one temporary folder.
struct FakeProgramFolder {
  QTemporaryDir root;
  QString app = root.filePath("app");
  QString out = root.filePath("out");
  QString cache = root.filePath("cache");

  FakeProgramFolder() {
    qputenv("XDG_CACHE_HOME", cache.toUtf8());
    QDir().mkpath(app + "/data");
    for (const char* tool : {"conv", "coder", "coder2"}) writeScript(app + "/data/" + tool, kFakeTool);
    AppDirs::setProgramFolder(app);
    options() = OptionValues{};
  }
  ~FakeProgramFolder() { AppDirs::setProgramFolder(QString()); }

  // A source file below the root holding `body` (its own name when empty).
  QString source(const QString& name, const QByteArray& body = {}) {
    QFile f(root.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(body.isEmpty() ? QFileInfo(name).fileName().toUtf8() : body);
    return f.fileName();
  }
  // The fake encoders' calls, "tool|input|output" each.
  QStringList calls() const {
    QFile f(app + "/calls.log");
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
  }
  // Every file of the output folder, partial files included.
  QStringList outputs() const {
    return QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  }
};
