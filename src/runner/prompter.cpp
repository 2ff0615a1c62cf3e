#include "runner/prompter.h"

#include <QDebug>

namespace {
class LogPrompter : public Prompter {
 public:
  void critical(const QString& text) override { qWarning().noquote() << "[critical]" << text; }
  void warning(const QString& text, const QString& caption) override {
    qWarning().noquote() << "[warning]" << caption << text;
  }
  void information(const QString& text, const QString& caption) override {
    qInfo().noquote() << "[information]" << caption << text;
  }
  bool question(const QString& text, const QString& caption) override {
    qInfo().noquote() << "[question]" << caption << text;
    return false;
  }
};

LogPrompter g_log;
Prompter* g_current = nullptr;
}  // namespace

Prompter& prompter() { return g_current ? *g_current : g_log; }
void setPrompter(Prompter* p) { g_current = p; }
