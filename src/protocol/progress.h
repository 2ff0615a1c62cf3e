#pragma once
// The progress lines the encoders print and how the program reads them; the
// one definition of both sides (toolprotocol.h has the grammar).
//   percent form   conv:          "Pos: ... ( 45%) ..." lines, "(100%)" last
//   timecode form  coder, coder2: "Duration: HH:MM:SS.cc, ..." once, then
//                                 "frame= ... time=SECONDS.cc ..." lines
#include <QString>
#include <optional>

namespace Progress {

// ---- the writer (the encoders) ----

// One line of the percent form.
struct PercentLine {
  double seconds = 0;    // of the output written so far
  long long frames = 0;
  int percent = 0;       // clamped to 0..100
  double fps = 0;
  int remainMinutes = 0, sizeMB = 0;  // estimates; negative shows as 0
  int videoKbps = 0, audioKbps = 0;
};
QString percentLine(const PercentLine& line);

// One line of the timecode form.
struct TimeLine {
  long long frames = 0;
  double fps = 0, q = 0, sizeKB = 0;
  double seconds = 0;  // the time reached
  double kbps = 0;
};
QString timeLine(const TimeLine& line);
// The header of the timecode form: the length ("N/A" when unknown) and the
// bit rate ("N/A" when unknown).
QString durationLine(double seconds, double kbps);

// ---- the reader (the program) ----

enum class Form { Percent, Timecode };

// What one chunk of a run's output says for the display.
struct Reading {
  Form form = Form::Percent;
  int value = 0;         // progress bar, 0 to 100
  QString shown;         // the percentage as the caption shows it: "45", "33.3"
  bool finished = false; // the run's final line: 100 %
  QString busyChar;      // the busy indicator at this chunk
  bool operator==(const Reading&) const = default;
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

// A percent-form chunk: its first percentage in parentheses. Advances
// state.busyChar.
std::optional<Reading> stageOne(const QString& chunk, State& state);
// A timecode-form chunk: the duration (read once per file into
// state.fileDuration) and the position reached. Advances state.busyChar.
std::optional<Reading> stageTwo(const QString& chunk, State& state);

}  // namespace Progress
