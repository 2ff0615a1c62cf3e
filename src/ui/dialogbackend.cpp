#include "ui/dialogbackend.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

std::optional<QString> DialogBackend::pickOpenFile(QWidget* owner, const FileRequest& r) {
  return openFile(owner, r.title, r.startFolder, r.filter, r.initialName);
}
std::optional<QString> DialogBackend::pickSaveFile(QWidget*, const FileRequest&) {
  return std::nullopt;
}
std::optional<QColor> DialogBackend::pickColor(QWidget*, const QColor&, bool) {
  return std::nullopt;
}
std::optional<QFont> DialogBackend::pickFont(QWidget*, const QFont&) { return std::nullopt; }
bool DialogBackend::pickPrinter(QWidget*) { return false; }
bool DialogBackend::printerProperties(QWidget*) { return false; }

namespace {

std::optional<QString> runFileDialog(QWidget* owner, const DialogBackend::FileRequest& r,
                                     bool save) {
  QFileDialog dialog(owner, r.title, r.startFolder, r.filter);
  // The descriptions already name their patterns.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  if (save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
  } else {
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (!r.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(r.defaultSuffix);
  const QStringList filters = dialog.nameFilters();
  if (!filters.isEmpty()) dialog.selectNameFilter(filters.first());
  if (!r.initialName.isEmpty()) dialog.selectFile(r.initialName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(files.first());
}

class QtDialogs : public DialogBackend {
 public:
  std::optional<QString> openFile(QWidget* owner, const QString& title, const QString& startFolder,
                                  const QString& filter, const QString& initialName) override {
    return pickOpenFile(owner, {title, startFolder, filter, initialName, {}});
  }
  std::optional<QString> existingFolder(QWidget* owner, const QString& prompt,
                                        const QString& startFolder) override {
    const QString d = QFileDialog::getExistingDirectory(owner, prompt, startFolder);
    if (d.isEmpty()) return std::nullopt;
    return QDir::toNativeSeparators(d);
  }
  std::optional<QString> pickOpenFile(QWidget* owner, const FileRequest& r) override {
    return runFileDialog(owner, r, false);
  }
  std::optional<QString> pickSaveFile(QWidget* owner, const FileRequest& r) override {
    return runFileDialog(owner, r, true);
  }
  std::optional<QColor> pickColor(QWidget* owner, const QColor& initial, bool) override {
    // Qt's colour dialog always shows its custom colours; they start black
    // each time and are not kept.
    for (int i = 0; i < 16; ++i) QColorDialog::setCustomColor(i, Qt::black);
    const QColor c = QColorDialog::getColor(initial, owner);
    for (int i = 0; i < 16; ++i) QColorDialog::setCustomColor(i, Qt::black);
    if (!c.isValid()) return std::nullopt;
    return c;
  }
  std::optional<QFont> pickFont(QWidget* owner, const QFont& initial) override {
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, initial, owner);
    if (!ok) return std::nullopt;
    return f;
  }
  bool pickPrinter(QWidget* owner) override {
    QPrinter printer;
    QPrintDialog dialog(&printer, owner);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dialog.exec() == QDialog::Accepted;
  }
  bool printerProperties(QWidget* owner) override {
    QPrinter printer;
    if (!printer.isValid()) return false;
    QPageSetupDialog dialog(&printer, owner);
    return dialog.exec() == QDialog::Accepted;
  }
};

}  // namespace

DialogBackend& defaultDialogBackend() {
  static QtDialogs dialogs;
  return dialogs;
}
