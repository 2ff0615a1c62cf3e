#include "ui/ccommondialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>

#include "filelist/pathhelpers.h"
#include "settings/core/appdirs.h"
#include "ui/dialogbackend.h"

namespace {

QString cutAtNul(const QString& s) {
  const qsizetype nul = s.indexOf(QChar(0));
  return nul < 0 ? s : s.left(nul);
}

QColor fromRgbValue(quint32 v) { return QColor(v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff); }
quint32 toRgbValue(const QColor& c) {
  return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

}  // namespace

QString CCommonDialogs::FileTitle() const { return cutAtNul(fileTitle_); }
QString CCommonDialogs::Path() const { return cutAtNul(path_); }
QString CCommonDialogs::FileName() const { return cutAtNul(fileName_); }
QString CCommonDialogs::Title() const { return cutAtNul(title_); }

QString CCommonDialogs::qtFilter(const QString& filter) {
  const QStringList pieces = filter.split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
    const QString& description = pieces[i];
    QStringList patterns;
    for (const QString& p : pieces[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      QString pattern = p.trimmed();
#ifndef Q_OS_WIN
      if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
#endif
      if (!pattern.isEmpty()) patterns.append(pattern);
    }
    if (description.isEmpty() && patterns.isEmpty()) break;  // the list's end
    if (patterns.isEmpty()) patterns.append(QStringLiteral("*"));
    entries.append(QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' '))));
  }
  return entries.join(QStringLiteral(";;"));
}

bool CCommonDialogs::readBackFile(const std::optional<QString>& picked) {
  if (!picked || picked->isEmpty()) return false;
  fileName_ = cutAtNul(*picked);
  fileTitle_ = FileNameFromPath(fileName_);
  const qsizetype sep = fileName_.lastIndexOf(QDir::separator());
  if (sep >= 0) path_ = fileName_.left(sep);
  return true;
}

bool CCommonDialogs::ShowOpen() {
  const DialogBackend::FileRequest request{Title(), QDir::currentPath(), qtFilter(filter_),
                                           FileName(), defExt_};
  if (!readBackFile(backend_.pickOpenFile(owner_, request))) return false;
  // The dialog leaves the current folder where the file was picked.
  const QString folder = QFileInfo(fileName_).absolutePath();
  if (!folder.isEmpty()) QDir::setCurrent(folder);
  return true;
}

bool CCommonDialogs::ShowSave() {
  QString start = Path();
  if (start.isEmpty() || !QFileInfo(start).isDir())
    start = AppDirs::programFolder();
  else if (!start.endsWith(QDir::separator()))
    start += QDir::separator();
  const DialogBackend::FileRequest request{QStringLiteral("Save"), start, qtFilter(filter_), {}, {}};
  return readBackFile(backend_.pickSaveFile(owner_, request));
}

bool CCommonDialogs::ShowFolder() {
  const auto folder = backend_.existingFolder(owner_, Title(), QString());
  if (!folder || folder->isEmpty()) return false;
  path_ = cutAtNul(*folder);
  fileName_.clear();
  fileTitle_.clear();
  return true;
}

bool CCommonDialogs::ShowColor(bool FullOpen) {
  const auto c = backend_.pickColor(owner_, fromRgbValue(color_), FullOpen);
  if (!c || !c->isValid()) return false;
  color_ = toRgbValue(*c);
  return true;
}

bool CCommonDialogs::ShowFont() {
  QFont initial;
  // The face-name field of a font request holds at most 32 characters.
  if (!fontName_.isEmpty()) initial.setFamily(fontName_.left(32));
  if (fontSize_ > 0) initial.setPointSize(fontSize_);
  initial.setWeight(fontBold_ ? QFont::Bold : QFont::Normal);
  initial.setItalic(fontItalic_);
  initial.setUnderline(fontUnderline_);
  const auto f = backend_.pickFont(owner_, initial);
  if (!f) return false;
  fontName_ = cutAtNul(f->family());
  fontBold_ = f->bold();
  fontItalic_ = f->italic();
  // The dialog answers in tenths of a point; whole points are kept.
  if (f->pointSizeF() > 0) fontSize_ = static_cast<qint16>(qRound(f->pointSizeF() * 10) / 10);
  return true;
}

bool CCommonDialogs::ShowPrinter() { return backend_.pickPrinter(owner_); }
bool CCommonDialogs::ShowPrinterProperties() { return backend_.printerProperties(owner_); }
