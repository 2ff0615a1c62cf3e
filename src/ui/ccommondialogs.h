#pragma once
#include <QString>
#include <QtGlobal>
#include <optional>

class QWidget;
class DialogBackend;

// The common dialogs behind a few properties and one method per dialog. Each
// Show... returns true when the user confirmed; a cancelled dialog leaves every
// property as it was. FileTitle, Path, FileName and Title read back only up to
// their first NUL.
class CCommonDialogs {
 public:
  explicit CCommonDialogs(DialogBackend& backend) : backend_(backend) {}
  // Every dialog is owned by this window.
  void Init(QWidget* OwnerForm) { owner_ = OwnerForm; }

  // File name without folder of the last file picked.
  QString FileTitle() const;
  void setFileTitle(const QString& v) { fileTitle_ = v; }
  // Starting folder of ShowSave; the folder picked by ShowOpen, ShowSave and
  // ShowFolder.
  QString Path() const;
  void setPath(const QString& v) { path_ = v; }
  // Description and pattern pieces separated by "|": "Videos|*.avi;*.mp4|All|*.*".
  QString Filter() const { return filter_; }
  void setFilter(const QString& v) { filter_ = v; }
  // Full path: the name ShowOpen shows at first, the file picked on return.
  QString FileName() const;
  void setFileName(const QString& v) { fileName_ = v; }
  // Colour of ShowColor and ShowFont, laid out as 0x00BBGGRR.
  quint32 Color() const { return color_; }
  void setColor(quint32 v) { color_ = v; }
  // Caption of ShowOpen, prompt of ShowFolder.
  QString Title() const;
  void setTitle(const QString& v) { title_ = v; }
  // Default extension of ShowOpen.
  QString DefExt() const { return defExt_; }
  void setDefExt(const QString& v) { defExt_ = v; }
  QString FontName() const { return fontName_; }
  void setFontName(const QString& v) { fontName_ = v; }
  qint16 FontSize() const { return fontSize_; }  // points
  void setFontSize(qint16 v) { fontSize_ = v; }
  bool FontBold() const { return fontBold_; }
  void setFontBold(bool v) { fontBold_ = v; }
  bool FontItalic() const { return fontItalic_; }
  void setFontItalic(bool v) { fontItalic_ = v; }
  bool FontUnderline() const { return fontUnderline_; }
  void setFontUnderline(bool v) { fontUnderline_ = v; }

  // One existing file. Starts in the process's current folder (Path is not
  // read) and moves it to the folder of the file picked, so the next ShowOpen
  // starts there.
  bool ShowOpen();
  // A file to save to, starting in Path (or the program folder when Path is
  // empty or no existing folder); an existing file is not asked about.
  bool ShowSave();
  // A folder, with Title as the prompt: Path is the folder, FileName and
  // FileTitle are emptied.
  bool ShowFolder();
  bool ShowColor(bool FullOpen = false);
  // Reads back FontName, FontBold, FontItalic and FontSize (whole points).
  bool ShowFont();
  bool ShowPrinter();
  bool ShowPrinterProperties();

  // Filter in Qt's form: "desc (pattern pattern);;...". On systems where
  // "*.*" would miss names without a dot it becomes "*".
  static QString qtFilter(const QString& filter);

 private:
  bool readBackFile(const std::optional<QString>& picked);

  DialogBackend& backend_;
  QWidget* owner_ = nullptr;
  QString fileTitle_, path_, filter_, fileName_, title_, defExt_, fontName_;
  quint32 color_ = 0;
  qint16 fontSize_ = 0;
  bool fontBold_ = false, fontItalic_ = false, fontUnderline_ = false;
};
