#pragma once
// Stand-ins for the desktop that need Qt Core only: a prompter that records
// and answers message boxes, a shell that records folder and sound requests,
// and a program folder of fake encoders.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

#include "engine/batchhost.h"
#include "runner/prompter.h"
#include "settings/core/appdirs.h"
#include "settings/core/options.h"

// Installed as the prompter while it lives. Each box is recorded as
// "kind:caption:text" ("critical:text" for a critical box); a question is
// answered with `answer` after running `onQuestion`.
class RecordingPrompter : public Prompter {
 public:
  RecordingPrompter();
  ~RecordingPrompter() override;
  void critical(const QString& text) override;
  void warning(const QString& text, const QString& caption) override;
  void information(const QString& text, const QString& caption) override;
  bool question(const QString& text, const QString& caption) override;
  // The boxes of one kind ("warning", "question", ...) as "caption:text".
  QStringList said(const QString& kind) const;

  QStringList messages;
  bool answer = false;
  std::function<void()> onQuestion;
};

// Records what the engine asks of the desktop; a sound "plays" at once.
// `Base` is the engine's Shell or a richer desktop built on it.
template <class Base>
class RecordingShellOf : public Base {
 public:
  void openFolder(const QString& folder) override { folders << folder; }
  void playSound(const QString& file, std::function<void()> done) override {
    sounds << file;
    if (done) done();
  }
  QStringList folders, sounds;
};
using RecordingShell = RecordingShellOf<Shell>;

// Writes an executable shell script; returns its path.
QString writeScript(const QString& path, const QString& body);

// The fake encoder: logs its call, finds its input and output like the real
// ones, and behaves by the source's text. Like the real ones it writes a
// partial file ".vantrel-<pid>.part" beside the output, never the output's
// own name, until it succeeds:
//   "slow"          keeps running (after a progress line and a partial file)
//   "wait"          converts once a file "<source>.go" exists
//   "bad"           fails after writing a partial file, with no reason line
//   "reason:<code>" prints progress, then the two failure lines, exits 1
//   "crash"         writes its partial file, then dies by SIGKILL
//   anything else   converts (the output holds the source's text)
extern const char* const kFakeTool;

// A program folder whose data/ holds the fake encoder under every tool name,
// an output folder and a private cache, all in one temporary folder.
struct FakeProgramFolder {
  QTemporaryDir root;
  QString app = root.filePath("app");
  QString out = root.filePath("out");
  QString cache = root.filePath("cache");

  FakeProgramFolder();
  ~FakeProgramFolder();

  // A source file below the root holding `body` (its own name when empty).
  QString source(const QString& name, const QByteArray& body = {});
  // The fake encoders' calls, "tool|input|output" each.
  QStringList calls() const;
  // Every file of the output folder, partial files included.
  QStringList outputs() const;
};
