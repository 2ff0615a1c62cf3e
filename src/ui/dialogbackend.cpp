#include "ui/dialogbackend.h"

#include <QFileDialog>

namespace {
class QtDialogs : public DialogBackend {
 public:
  std::optional<QString> openFile(QWidget* owner, const QString& title, const QString& startFolder,
                                  const QString& filter, const QString& initialName) override {
    QString start = startFolder;
    if (!initialName.isEmpty()) start = QDir(startFolder).filePath(initialName);
    const QString f = QFileDialog::getOpenFileName(owner, title, start, filter);
    if (f.isEmpty()) return std::nullopt;
    return QDir::toNativeSeparators(f);
  }
  std::optional<QString> existingFolder(QWidget* owner, const QString& prompt,
                                        const QString& startFolder) override {
    const QString d = QFileDialog::getExistingDirectory(owner, prompt, startFolder);
    if (d.isEmpty()) return std::nullopt;
    return QDir::toNativeSeparators(d);
  }
};
}  // namespace

DialogBackend& defaultDialogBackend() {
  static QtDialogs dialogs;
  return dialogs;
}
