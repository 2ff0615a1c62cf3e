#pragma once
// The lines the encoders conv, coder and coder2 print for the program that runs
// them, and how that program reads them. Both sides include this header (and
// progress.h for the progress lines) and nothing else defines the format.
//
// Grammar (one line per '\n'; a line never holds a control character):
//   progress   conv:          "Pos: ... ( 45%) ..." / "(100%)"
//              coder, coder2: "Duration: HH:MM:SS.cc, ..." once, then
//                             "frame= ... time=SECONDS.cc ..." lines
//   note       "<tool>: <text>"
//   written    "<tool>: wrote: <dev>:<ino> <quoted name>"   after the output got its name
//   reason     "<tool>: reason: <code>"                      a failed run, just before
//   error      "<tool>: error: <text>"                       its last line
// A name inside a line is quoted (quoteName): no name can end a line, start
// one, or hold the markers the progress readers look for ("(", ")", "=", ":").
// Other text is made one line (oneLine), so a reason, written or progress line
// at a line start can only come from the tool itself.
//
// Times: the reader rounds a time and the length to whole seconds, halves to
// the even neighbour (wholeSeconds). A progress line before the last shows at
// most timeBeforeEnd(): its rounding stays below the length's, so only the
// final line reads as 100 %.
#include <QByteArray>
#include <QString>
#include <QStringView>
#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

namespace ToolProtocol {

// Why a run failed. The codes are stable: front ends show them and scripts
// read them.
enum class Reason {
  SourceMissing,
  NotMedia,
  SourceIncomplete,
  SourceDamaged,
  NeedsVideo,
  NeedsAudio,
  DiskFull,
  OutputUnwritable,
  NameTooLong,
  NameNotUtf8,
  EncodeFailed,
  Usage,
  Stopped,
  OpensOtherFile,   // the source asked to open a file beside itself
  PictureTooLarge,  // beyond what is decoded or encoded here
};

struct ReasonCode {
  Reason reason;
  const char* code;
};
inline constexpr ReasonCode kReasonCodes[] = {
    {Reason::SourceMissing, "source-missing"},
    {Reason::NotMedia, "not-media"},
    {Reason::SourceIncomplete, "source-incomplete"},
    {Reason::SourceDamaged, "source-damaged"},
    {Reason::NeedsVideo, "needs-video"},
    {Reason::NeedsAudio, "needs-audio"},
    {Reason::DiskFull, "disk-full"},
    {Reason::OutputUnwritable, "output-unwritable"},
    {Reason::NameTooLong, "name-too-long"},
    {Reason::NameNotUtf8, "name-not-utf8"},
    {Reason::EncodeFailed, "encode-failed"},
    {Reason::Usage, "usage"},
    {Reason::Stopped, "stopped"},
    {Reason::OpensOtherFile, "opens-other-file"},
    {Reason::PictureTooLarge, "picture-too-large"},
};

inline QString code(Reason reason) {
  for (const ReasonCode& r : kReasonCodes)
    if (r.reason == reason) return QString::fromLatin1(r.code);
  return QStringLiteral("encode-failed");
}

inline std::optional<Reason> reasonOf(QStringView code) {
  for (const ReasonCode& r : kReasonCodes)
    if (code == QLatin1String(r.code)) return r.reason;
  return std::nullopt;
}

inline QString reasonTag() { return QStringLiteral(": reason: "); }
inline QString writtenTag() { return QStringLiteral(": wrote: "); }

namespace detail {
inline void hexByte(QString& to, unsigned char c) {
  static const char digits[] = "0123456789abcdef";
  to += QLatin1String("\\x");
  to += QLatin1Char(digits[c >> 4]);
  to += QLatin1Char(digits[c & 15]);
}
inline int hexValue(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}
// Length of the valid UTF-8 sequence at `at`, 0 when the bytes there are not one.
inline int utf8Length(const QByteArray& s, qsizetype at) {
  const auto b = [&](qsizetype i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(at);
  int n = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2 : (c & 0xf0) == 0xe0 ? 3 : (c & 0xf8) == 0xf0 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  for (int k = 1; k < n; ++k)
    if ((b(at + k) & 0xc0) != 0x80) return 0;
  if (n == 1) return 1;
  // No overlong forms, surrogates or values past U+10FFFF.
  const QString decoded = QString::fromUtf8(s.constData() + at, n);
  if (decoded.size() == 0 || decoded.contains(QChar::ReplacementCharacter)) return 0;
  if (n == 2 && c < 0xc2) return 0;
  if (n == 3 && c == 0xe0 && b(at + 1) < 0xa0) return 0;
  if (n == 4 && (c > 0xf4 || (c == 0xf0 && b(at + 1) < 0x90))) return 0;
  return n;
}
}  // namespace detail

// A name's bytes in double quotes. Bytes that are not printable UTF-8 text and
// the characters  " \ ( ) = :  become \xHH, so the quoted form is one line that
// no reader takes for anything but a name.
inline QString quoteName(const QByteArray& name) {
  QString q = QStringLiteral("\"");
  for (qsizetype i = 0; i < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const int n = detail::utf8Length(name, i);
    if (n == 0 || c < 0x20 || c == 0x7f || c == '"' || c == '\\' || c == '(' || c == ')' || c == '=' ||
        c == ':') {
      detail::hexByte(q, c);
      ++i;
      continue;
    }
    q += QString::fromUtf8(name.constData() + i, n);
    i += n;
  }
  return q + QLatin1Char('"');
}

// The bytes of a quoted name; nothing when `text` is not exactly one.
inline std::optional<QByteArray> unquoteName(QStringView text) {
  if (text.size() < 2 || text.front() != QLatin1Char('"') || text.back() != QLatin1Char('"')) return std::nullopt;
  QByteArray out;
  for (qsizetype i = 1; i + 1 < text.size();) {
    const QChar c = text[i];
    if (c == QLatin1Char('"')) return std::nullopt;
    if (c != QLatin1Char('\\')) {
      qsizetype n = c.isHighSurrogate() ? 2 : 1;
      out += text.mid(i, n).toUtf8();
      i += n;
      continue;
    }
    if (i + 4 > text.size() - 1 || text[i + 1] != QLatin1Char('x')) return std::nullopt;
    const int hi = detail::hexValue(text[i + 2]), lo = detail::hexValue(text[i + 3]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 4;
  }
  return out;
}

// Free text as one line: control characters become \xHH. (A quoted name in
// it passes unchanged.)
inline QString oneLine(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7f)
      detail::hexByte(out, static_cast<unsigned char>(u & 0xff));
    else
      out += c;
  }
  return out;
}

inline QString reasonLine(const QString& tool, Reason reason) { return tool + reasonTag() + code(reason); }

// The file an encoder wrote: its name and, to tell it from any later file of
// that name, its device and inode numbers.
struct Written {
  QByteArray name;  // as the file system holds it
  quint64 device = 0, inode = 0;
  bool operator==(const Written&) const = default;
};

inline QString writtenLine(const QString& tool, const Written& w) {
  return tool + writtenTag() + QString::number(w.device) + QLatin1Char(':') + QString::number(w.inode) +
         QLatin1Char(' ') + quoteName(w.name);
}

// A written line of `tool`, or nothing.
inline std::optional<Written> readWritten(const QString& tool, QStringView line) {
  const QString tag = tool + writtenTag();
  if (!line.startsWith(tag)) return std::nullopt;
  line = line.mid(tag.size());
  const qsizetype colon = line.indexOf(QLatin1Char(':')), space = line.indexOf(QLatin1Char(' '));
  if (colon <= 0 || space <= colon) return std::nullopt;
  bool okDev = false, okIno = false;
  Written w;
  w.device = line.left(colon).toULongLong(&okDev);
  w.inode = line.mid(colon + 1, space - colon - 1).toULongLong(&okIno);
  const auto name = unquoteName(line.mid(space + 1));
  if (!okDev || !okIno || !name || name->isEmpty()) return std::nullopt;
  w.name = *name;
  return w;
}

// The code of a reason line of `tool`, or nothing.
inline std::optional<QString> readReason(const QString& tool, QStringView line) {
  const QString tag = tool + reasonTag();
  if (!line.startsWith(tag)) return std::nullopt;
  const QString c = line.mid(tag.size()).trimmed().toString();
  if (c.isEmpty()) return std::nullopt;
  return c;
}

// A time or length in whole seconds as the reader takes it: to the nearest
// second, halves to the even neighbour. Centiseconds are what the lines carry.
inline long long wholeSeconds(double seconds) {
  if (!std::isfinite(seconds)) return 0;
  if (seconds >= 9.2e18) return LLONG_MAX;
  if (seconds <= -9.2e18) return LLONG_MIN;
  return static_cast<long long>(std::nearbyint(seconds));
}

// The most a progress line before the last may show of a run whose length
// reads as `length`: a time whose whole seconds (as printed, in centiseconds)
// stay below the length's.
inline double timeBeforeEnd(double seconds, double length) {
  const long long end = wholeSeconds(std::round(length * 100) / 100);
  if (end < 1 || wholeSeconds(std::round(seconds * 100) / 100) < end) return seconds;
  // x.49 rounds down whatever the parity of x.
  return static_cast<double>(end - 1) + 0.49;
}

// Whether a length reached falls short of the one expected by more than the
// tolerance both sides allow: half a second, or 5 % of a long one.
inline bool fallsShort(double reached, double expected) {
  return expected > 0 && reached + std::max(0.5, 0.05 * expected) < expected;
}

}  // namespace ToolProtocol
