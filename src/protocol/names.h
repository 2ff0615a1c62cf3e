#pragma once
// The names the program and the encoders agree on: the "(n)" rule that keeps
// an output from replacing a file, the partial file an encoder writes beside
// its output, the work file between two stages, and which names can be passed
// on at all. Both sides include this header and nothing else defines them.
#include <QString>
#include <QStringView>

namespace ToolProtocol {

// A file name may hold at most this many bytes in the file-system encoding.
constexpr int kMaxNameBytes = 255;

// `base` cut at a character boundary so that base + tail fits in `maxBytes`
// bytes of the file-system encoding; unchanged when it fits. A cut takes whole
// user-perceived characters, never half of a surrogate pair, of a multi-byte
// sequence or of a letter with its accent.
QString fitBaseName(const QString& base, const QString& tail, int maxBytes = kMaxNameBytes);

// Copy `copy` of a name made of base, stamp and extension: "(n)" goes between
// the stamp (the output name's "-" and time, kept whole) and the extension,
// and only the base is cut to fit (when the stamp alone would not fit, the
// stamp is cut too). Copy 1 is the name itself.
QString copyName(const QString& base, const QString& stamp, int copy, const QString& extension,
                 int maxBytes = kMaxNameBytes);

// The name a taken file name gives way to, by the same rule: "(2)" before the
// extension, or the next number when the name already carries "(n)"; a
// trailing "-<digits>" counts as the stamp.
QString nextFreeName(const QString& name, int maxBytes = kMaxNameBytes);

// The file stage one writes for stage two to read, inside the work folder.
inline QString workFileName() { return QStringLiteral("tmp.mp4"); }

// The partial file an encoder writes beside its output when the file system
// gives it no unnamed one: ".vantrel-<pid>-<16 hex digits>.part". The process
// id lets the program that ran a tool killed outright find what it left.
QString partialFileName(qint64 pid, quint64 random);
// The name filter that lists the candidates of `pid` ...
QString partialFilePattern(qint64 pid);
// ... and whether one of them is really that process's (".vantrel-12" is not
// a file of process 1).
bool isPartialFileOf(QStringView name, qint64 pid);

// Whether a name, as Qt decoded it, is the name the file system holds: bytes
// that are not UTF-8 decode to U+FFFD, and whatever was passed on would name
// another file, or none.
bool isUtf8Name(QStringView decoded);

}  // namespace ToolProtocol
