// Start-up, shut-down, the settings panel's presets and the options dialog.
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QThread>

#include "filelist/pathhelpers.h"
#include "protocol/names.h"
#include "settings/core/appdirs.h"
#include "settings/core/formats.h"
#include "settings/core/settingsfiles.h"
#include "runner/prompter.h"
#include "texts/texts.h"
#include "ui/frmoptions.h"
#include "ui/pixellayout.h"
#include "ui/combo.h"
#include "ui/frmmain.h"

struct frmMain::SettingsState {
  bool unloading = false;  // Form_Unload has begun; closing the window again does nothing
};
void frmMain::Drop::operator()(SettingsState* p) const {
  delete p;
}

namespace {

// The optional skin: a style sheet beside the program.
void applySkin() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app) return;
  QFile sheet(JoinPath(AppDirs::dataFolder(), QStringLiteral("skin.qss")));
  if (!QFileInfo(sheet.fileName()).isFile() || !sheet.open(QIODevice::ReadOnly)) return;
  app->setStyleSheet(QString::fromUtf8(sheet.read(4 * 1024 * 1024)));
}

// Deletes a file, letting pending events run after each attempt. A file that
// cannot be deleted is given up after 20 attempts or one second.
void removeWithRetries(const QString& path) {
  auto present = [&path] {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
  };
  QElapsedTimer clock;
  clock.start();
  for (int attempt = 0; attempt < 20 && present(); ++attempt) {
    if (attempt > 0) {
      if (clock.elapsed() >= 1000) return;
      QThread::msleep(40);
    }
    QFile::remove(path);
    QCoreApplication::processEvents();
  }
}

}  // namespace

void frmMain::setupSettings() {
  settings_ = decltype(settings_)(new SettingsState());
  connect(cmbOF, &QComboBox::currentIndexChanged, this, &frmMain::cmbOF_Click);
}

void frmMain::Form_Load() {
  applySkin();
  // The common-dialog object and both runners were made with the window.
  QCoreApplication::processEvents();

  // Defaults of the panel. Format RMVB is selected from no selection, so its
  // preset runs and overrides the audio defaults.
  setListPosition(cmbBR, 7);
  setListPosition(cmbR, 1);
  setListPosition(cmbChannel, 1);
  setListPosition(cmbOF, -1);
  setListPosition(cmbOF, Formats::RMVB);
  const QString defaultFolder = AppDirs::defaultOutputFolder();
  txtPath->setText(defaultFolder);

  // The last choices; a stored format other than the current one runs its preset.
  if (const auto setupText = SettingsFiles::readFile(SettingsFiles::setupFile())) {
    const SettingsFiles::SetupValues s = SettingsFiles::parseSetup(*setupText);
    if (s.audioBitrate) setListPosition(cmbBR, *s.audioBitrate);
    if (s.sampleRate) setListPosition(cmbR, *s.sampleRate);
    if (s.channel) setListPosition(cmbChannel, *s.channel);
    if (s.outputFolder) txtPath->setText(*s.outputFolder);
    if (s.format) setListPosition(cmbOF, *s.format);
  }
  if (txtPath->text().isEmpty()) txtPath->setText(defaultFolder);

  lblWeb->setText(QStringLiteral("Vantrel"));
  setWindowTitle(QStringLiteral("Vantrel"));
  SettingsFiles::loadOptions();
  applyFixedPixelLayout(this, txtPath);
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

bool frmMain::mayLeave() {
  if (settings_->unloading || !driver_->isRunning()) return true;
  // A batch that ends while the question is open still leaves on "是": the
  // user asked to close the window.
  return prompter().question(Texts::quitQuestion(), Texts::productName());
}

void frmMain::imgExit_Click() {
  if (settings_->unloading || !mayLeave()) return;
  // A folder that cannot be written keeps the old file; the program ends anyway.
  SettingsFiles::writeFile(
      SettingsFiles::setupFile(),
      SettingsFiles::formatSetup(listPosition(cmbBR), listPosition(cmbR), listPosition(cmbChannel),
                                 txtPath->text(), listPosition(cmbOF)));
  Form_Unload();
}

void frmMain::showOptionsDialog() {
  frmOptions dialog(this);
  dialog.exec();
}

void frmMain::Form_Unload() {
  if (settings_->unloading) return;
  settings_->unloading = true;
  // Leaving during a batch: the running tool and its children end and the
  // file it was writing goes, without the batch-end actions.
  if (driver_->isRunning()) driver_->abort();
  const QString work = AppDirs::workFolder();
  for (const QString& name : {QStringLiteral("tmpfile.wav"), QStringLiteral("tmpfile1.mp3"), ToolProtocol::workFileName()})
    removeWithRetries(JoinPath(work, name));
  // Every window of the program closes, then the program ends.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible()) w->close();
  if (endProgram)
    endProgram();
  else
    QCoreApplication::quit();
}

void frmMain::closeEvent(QCloseEvent* event) {
  // Closing the window mid-batch asks first; "否" keeps it and the batch.
  if (!mayLeave()) return event->ignore();
  Form_Unload();
  event->accept();
}
