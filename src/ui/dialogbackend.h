#pragma once
#include <QColor>
#include <QFont>
#include <QString>
#include <optional>

class QWidget;

// The platform dialogs the program opens, behind one interface so that tests
// can answer them. An empty optional (or false) means the user cancelled.
// Everything past the first two calls has a default that answers "cancelled",
// so a test backend overrides only what it needs.
class DialogBackend {
 public:
  // One file dialog. `filter` is in Qt's form: "desc (*.a *.b);;desc2 (*)".
  struct FileRequest {
    QString title;
    QString startFolder;
    QString filter;
    QString initialName;    // file name (or full path) shown at first
    QString defaultSuffix;  // added to a typed name without one
  };

  virtual ~DialogBackend() = default;
  // One existing file.
  virtual std::optional<QString> openFile(QWidget* owner, const QString& title,
                                          const QString& startFolder, const QString& filter,
                                          const QString& initialName) = 0;
  virtual std::optional<QString> existingFolder(QWidget* owner, const QString& prompt,
                                                const QString& startFolder) = 0;

  // One existing file, with every setting; defaults to openFile().
  virtual std::optional<QString> pickOpenFile(QWidget* owner, const FileRequest& request);
  // A file name to save to; an existing file is not asked about.
  virtual std::optional<QString> pickSaveFile(QWidget* owner, const FileRequest& request);
  // `fullOpen`: show the custom-colour part at once.
  virtual std::optional<QColor> pickColor(QWidget* owner, const QColor& initial, bool fullOpen);
  // Only fonts that exist can be picked.
  virtual std::optional<QFont> pickFont(QWidget* owner, const QFont& initial);
  // The print dialog without page range, selection and print-to-file.
  virtual bool pickPrinter(QWidget* owner);
  // The settings of the default printer.
  virtual bool printerProperties(QWidget* owner);
};

// The real dialogs (QFileDialog and friends).
DialogBackend& defaultDialogBackend();
