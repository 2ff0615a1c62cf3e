#pragma once
#include <QString>

// Every message box of the program goes through this interface, so that tests
// can answer them. The widget side installs a QMessageBox implementation; the
// captions are "Vantrel" unless a caption is given.
class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual void critical(const QString& text) = 0;
  virtual void warning(const QString& text, const QString& caption) = 0;
  virtual void information(const QString& text, const QString& caption) = 0;
  // A yes/no question; true for yes.
  virtual bool question(const QString& text, const QString& caption) = 0;
  // A warning whose long part (one entry per file, say) is shown below the
  // text, scrollable, so that the box fits the screen whatever its length.
  virtual void warningDetails(const QString& text, const QString& caption,
                              const QString& details) {
    warning(details.isEmpty() ? text : text + QStringLiteral("\n\n") + details, caption);
  }
};

// The process-wide prompter. Without one installed, texts go to the log and
// questions are answered no.
Prompter& prompter();
void setPrompter(Prompter* p);
