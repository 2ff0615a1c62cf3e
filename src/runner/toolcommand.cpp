#include "runner/toolcommand.h"

LineBuilder::LineBuilder(const QString& program) {
  cmd_.program = program;
  cmd_.displayText = program;
}

void LineBuilder::flush() {
  if (open_) cmd_.args << current_;
  current_.clear();
  open_ = false;
}

LineBuilder& LineBuilder::lit(const QString& text) {
  cmd_.displayText += text;
  for (QChar c : text) {
    if (c == QLatin1Char(' ')) {
      flush();
    } else {
      current_ += c;
      open_ = true;
    }
  }
  return *this;
}

LineBuilder& LineBuilder::val(const QString& text) {
  cmd_.displayText += text;
  current_ += text;
  open_ = true;
  return *this;
}

LineBuilder& LineBuilder::quoted(const QString& path) {
  flush();
  cmd_.displayText += QLatin1Char('"') + path + QLatin1Char('"');
  cmd_.args << path;
  return *this;
}

ToolCommand LineBuilder::command() const {
  LineBuilder copy = *this;
  copy.flush();
  return copy.cmd_;
}
