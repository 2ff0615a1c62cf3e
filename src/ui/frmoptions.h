#pragma once
#include <QDialog>

#include "ui/formhelpers.h"

class QComboBox;
class QLabel;
class QPushButton;

// The options dialog "选项设置": switches the completion sound on or off.
// Built anew on each opening; modal over the main window.
class frmOptions : public QDialog {
  Q_OBJECT
 public:
  explicit frmOptions(QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;
  QComboBox* cmbSR = nullptr;  // 0 "ON", 1 "OFF": the completion-sound switch
  QPushButton* Command1 = nullptr;  // "确定"
  QPushButton* Command2 = nullptr;  // "返回"

  void Form_Load();
  void Command1_Click() { imgOK_Click(); }
  void Command2_Click() { imgExit_Click(); }
  // Stores the switch (and the cutter values by their rule) in memory and in
  // options.ini, then closes.
  void imgOK_Click();
  // Closes without storing anything.
  void imgExit_Click();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  BodyDrag drag_;
};
