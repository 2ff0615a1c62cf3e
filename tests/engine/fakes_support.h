#pragma once
// Stand-ins for the desktop: a prompter that records and answers message
// boxes, a shell that records folder and sound requests, and fake tools.
#include <QDir>
#include <QFile>
#include <QStringList>
#include <functional>

#include "engine/batchhost.h"
#include "runner/prompter.h"

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
