#pragma once
#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// A warning box with a short text above a long, scrollable part (a list of
// files, the tools' own lines) and one OK button. Unlike a plain message box
// it never grows past the screen it opens on, whatever the length of the
// long part.
class DetailsBox : public QDialog {
  Q_OBJECT
 public:
  DetailsBox(QWidget* parent, const QString& caption, const QString& text,
             const QString& details);

  QLabel* text() const { return text_; }
  QPlainTextEdit* details() const { return details_; }
  QPushButton* okButton() const { return ok_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* text_;
  QPlainTextEdit* details_;
  QPushButton* ok_;
};
