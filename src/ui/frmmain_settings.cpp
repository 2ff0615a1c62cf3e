// Start-up, shut-down and the settings panel's presets.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>

#include "settings/core/appdirs.h"
#include "settings/core/formats.h"
#include "ui/combo.h"
#include "ui/frmmain.h"

struct frmMain::SettingsState {};
void frmMain::Drop::operator()(SettingsState* p) const {
  delete p;
}


void frmMain::setupSettings() {
  settings_ = decltype(settings_)(new SettingsState());
  connect(cmbOF, &QComboBox::currentIndexChanged, this, &frmMain::cmbOF_Click);
}

void frmMain::Form_Load() {
  cmbOF->setCurrentIndex(0);
  cmbOF_Click();
  txtPath->setText(AppDirs::defaultOutputFolder());
  lblWeb->setText(QStringLiteral("Vantrel"));
  setWindowTitle(QStringLiteral("Vantrel"));
}

void frmMain::cmbOF_Click() {
  const auto preset = Formats::presetFor(cmbOF->currentIndex());
  if (!preset) return;
  if (preset->videoBitrate) setBoxText(cmbVB, *preset->videoBitrate);
  if (preset->frameRate) setBoxText(cmbF, *preset->frameRate);
  if (preset->size) setBoxText(cmbS, *preset->size);
  setBoxText(cmbR, preset->sampleRate);
  setBoxText(cmbBR, preset->audioBitrate);
  setListPosition(cmbChannel, preset->channel);
}

void frmMain::imgExit_Click() { Form_Unload(); }

void frmMain::showOptionsDialog() {}

void frmMain::Form_Unload() {
  driver.abort();
  QCoreApplication::quit();
}

void frmMain::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}
