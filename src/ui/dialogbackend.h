#pragma once
#include <QString>
#include <optional>

class QWidget;

// The platform dialogs the program opens, behind one interface so that tests
// can answer them. An empty optional means the user cancelled.
class DialogBackend {
 public:
  virtual ~DialogBackend() = default;
  // One existing file. `filter` is in Qt's form ("desc (*.*)").
  virtual std::optional<QString> openFile(QWidget* owner, const QString& title,
                                          const QString& startFolder, const QString& filter,
                                          const QString& initialName) = 0;
  virtual std::optional<QString> existingFolder(QWidget* owner, const QString& prompt,
                                                const QString& startFolder) = 0;
};

// The real dialogs (QFileDialog).
DialogBackend& defaultDialogBackend();
