#pragma once
#include <QString>
#include <optional>

// Reading the encoders' console text into the progress display. Pure
// functions over (chunk, state): they return what to show, or nothing when the
// display stays as it is.
namespace Progress {

struct View {
  int value = 0;    // progress bar, 0 to 100
  QString caption;  // progress label
  bool operator==(const View&) const = default;
};

struct State {
  int fileDuration = 0;         // seconds; 0 while not yet read
  QString busyChar = QStringLiteral("-");
};

// "-" → "\" → "|" → "/" → "-"; anything else becomes "-".
QString nextBusyChar(const QString& busy);

// The leading number of a text: leading spaces skipped, then digits with at
// most one decimal point (spaces between them skipped); 0 when there is none.
double leadingNumber(const QString& text);
// To the nearest integer, halves to the even neighbour.
long long roundHalfEven(double value);
// Plain decimal notation, at most 15 significant digits, no trailing zeros.
QString numberText(double value);

// The first-stage tool's chunk: its first percentage in parentheses.
// Advances state.busyChar.
std::optional<View> stageOne(const QString& chunk, State& state);
// A second-runner chunk: the duration (read once per file into
// state.fileDuration) and the position reached. Advances state.busyChar.
std::optional<View> stageTwo(const QString& chunk, State& state);

}  // namespace Progress
