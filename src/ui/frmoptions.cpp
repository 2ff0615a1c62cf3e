#include "ui/frmoptions.h"

#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "settings/core/options.h"
#include "settings/core/settingsfiles.h"
#include "ui/pixellayout.h"
#include "ui/formhelpers.h"

frmOptions::frmOptions(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("选项设置"));
  setFixedSize(305, 120);

  Label1 = new QLabel(QStringLiteral("转换完毕声音提示"), this);
  Label1->setGeometry(102, 16, 108, 14);
  cmbSR = new QComboBox(this);
  cmbSR->addItems({QStringLiteral("ON"), QStringLiteral("OFF")});
  cmbSR->setGeometry(74, 38, 163, 20);
  Command1 = new QPushButton(QStringLiteral("确定"), this);
  Command1->setGeometry(54, 76, 87, 25);
  Command1->setDefault(true);
  Command2 = new QPushButton(QStringLiteral("返回"), this);
  Command2->setGeometry(164, 76, 87, 25);

  connect(Command1, &QPushButton::clicked, this, &frmOptions::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &frmOptions::Command2_Click);
  Form_Load();
}

void frmOptions::Form_Load() {
  applyFixedPixelLayout(this);
  // A stored switch other than 0 or 1 shows no entry.
  const int sound = options().soundSwitch;
  cmbSR->setCurrentIndex(sound == 0 || sound == 1 ? sound : -1);
}

void frmOptions::imgOK_Click() {
  // Memory first: the new values hold for this run even if the file cannot be written.
  options() = SettingsFiles::confirmOptions(options(), cmbSR->currentIndex());
  SettingsFiles::storeOptions();
  accept();
}

void frmOptions::imgExit_Click() { reject(); }

void frmOptions::mouseMoveEvent(QMouseEvent* event) {
  // Dragging the body moves the dialog, as its caption would.
  drag_.move(this, event->buttons());
  QDialog::mouseMoveEvent(event);
}

void frmOptions::mousePressEvent(QMouseEvent* event) {
  drag_.press(event->button());
  QDialog::mousePressEvent(event);
}
