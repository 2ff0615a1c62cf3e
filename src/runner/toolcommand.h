#pragma once
#include <QString>
#include <QStringList>

// One run of an encoder: the program and its arguments, passed as they are
// (never through a shell), and the classic one-line form of the same run, in
// which the source and output paths stand in double quotes.
struct ToolCommand {
  QString program;
  QStringList args;
  QString displayText;  // the exact line text

  bool isEmpty() const { return program.isEmpty(); }
};

// Builds a command from the pieces of its classic line, in order. Literal
// pieces are split at their spaces; a value piece always makes (or extends) one
// argument, even when it is empty or holds spaces; a quoted piece is one
// argument of its own. The display text is the pieces joined as they are.
class LineBuilder {
 public:
  explicit LineBuilder(const QString& program);
  LineBuilder& lit(const QString& text);
  LineBuilder& val(const QString& text);
  LineBuilder& quoted(const QString& path);
  ToolCommand command() const;

 private:
  void flush();
  ToolCommand cmd_;
  QString current_;
  bool open_ = false;
};
