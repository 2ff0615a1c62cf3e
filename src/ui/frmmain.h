#pragma once
#include <QWidget>
#include <array>
#include <memory>

#include "engine/batchdriver.h"
#include "filelist/filequeue.h"
#include "ui/windowbatchhost.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTreeView;
class DialogBackend;
class DesktopShell;
class Prompter;
class CCommonDialogs;
class QueueRows;

// The main window. Its handlers carry the names the rest of the program knows
// them by and hand the work to the logic objects (queue, batch driver and its
// host, settings); the widgets only show and collect, and only the window
// reaches them.
class frmMain : public QWidget {
  Q_OBJECT
 public:
  // The desktop services the window uses; null members take the real ones.
  struct Services {
    DialogBackend* dialogs;
    DesktopShell* shell;
  };
  explicit frmMain(QWidget* parent = nullptr) : frmMain(Services{nullptr, nullptr}, parent) {}
  explicit frmMain(Services services, QWidget* parent = nullptr);
  ~frmMain() override;

  FileQueue lstFile;  // the queue; LV shows it

  // The batch of this window and the window's side of it.
  BatchDriver& batchDriver() { return *driver_; }
  WindowBatchHost& batchHost() { return *host_; }

  DialogBackend& dialogs() const { return *dialogs_; }
  DesktopShell& shell() const { return *shell_; }

  // ---- conversion ----------------------------------------------------------
  void Command3_Click();
  void imgStart_Click();

  // ---- file list -----------------------------------------------------------
  void AppendFile(const QString& path);
  // The step of a drop: each path joins the end of the queue (also behind a
  // running batch, which converts it in turn) and the hint goes.
  void AppendFiles(const QStringList& paths);
  // Files a second copy was started with: appended as dropped, and the
  // window comes to the front.
  void takeHandedFiles(const QStringList& paths);
  void RefreshListHint();
  void imgAdd_Click();
  void imgRemove_Click();
  void menuRemoveAll_Click();
  void txtAction_Change();
  void AddFolder();
  QString ParsePath(const QString& sPathIn) const;
  CCommonDialogs& commonDialogs();
  void showRemoveMenu();  // the pop-up menu "Remove" at the mouse pointer
  bool folderScanRunning() const;  // an Add folder is still filling the list

 Q_SIGNALS:
  void folderScanFinished();  // the list holds every file of the last Add folder

 public:

  // ---- settings, start-up and shut-down --------------------------------------
  void Form_Load();
  void cmbOF_Click();
  void imgExit_Click();  // the × of the window; asks first while a batch runs
  void Form_Unload();
  void showOptionsDialog();  // frmOptions, modal
  // How Form_Unload ends the program at last (QCoreApplication::quit when
  // empty); tests record the request instead.
  std::function<void()> endProgram;

  // ---- chrome --------------------------------------------------------------
  void CmdToolsBar_Click(int index);
  void imgToolbar_Click(int index);
  void imgHelp_Click();
  void imgMin_Click();
  void lblFeed_Click();
  void lblWeb_Click();
  void cmdBrowse_Click();
  void imgBrowse_Click();
  void Form_MouseMove();  // moving the window by its body; resets the hover states

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void buildLayout();
  static int toolbarCommand(int buttonIndex);  // command of a tool-bar button, -1 for none
  void setupList();      // frmmain_list.cpp
  void setupSettings();  // frmmain_settings.cpp
  void setupChrome();    // frmmain_chrome.cpp
  bool listEvent(QObject* watched, QEvent* event);    // drops on the list
  bool chromeEvent(QObject* watched, QEvent* event);  // hover of hot spots and links

  void nameControls();
  // True when the window may close: no batch runs, or the user said "是" to
  // stopping it.
  bool mayLeave();

  // The controls, named as everywhere in the program; each carries its name as
  // its object name (the tool-bar buttons "CmdToolsBar0" to "CmdToolsBar5").
  std::array<QToolButton*, 7> CmdToolsBar{};  // entries 0, 1, 2, 4, 5 exist
  QLabel* imgHelp = nullptr;
  QLabel* imgMin = nullptr;
  QLabel* imgExit = nullptr;
  QLabel* lblFeed = nullptr;
  QLabel* lblWeb = nullptr;

  QTreeView* LV = nullptr;
  QFrame* picText = nullptr;
  QLabel* lblText = nullptr;
  QLineEdit* txtAction = nullptr;  // hidden command box

  QLabel* lblOF = nullptr;
  QComboBox* cmbOF = nullptr;
  QLabel* lblVB = nullptr;
  QComboBox* cmbVB = nullptr;
  QLabel* lblF = nullptr;
  QComboBox* cmbF = nullptr;
  QLabel* lblS = nullptr;
  QComboBox* cmbS = nullptr;
  QLabel* lblR = nullptr;
  QComboBox* cmbR = nullptr;
  QLabel* lblBR = nullptr;
  QComboBox* cmbBR = nullptr;
  QLabel* lblChannel = nullptr;
  QComboBox* cmbChannel = nullptr;
  QLabel* lblPath = nullptr;
  QLineEdit* txtPath = nullptr;
  QPushButton* cmdBrowse = nullptr;

  QPushButton* Command3 = nullptr;  // "立刻开始转换！"
  QLabel* lblPB = nullptr;
  QProgressBar* pb = nullptr;


  DialogBackend* dialogs_;
  DesktopShell* shell_;
  QueueRows* rows_ = nullptr;  // what LV shows of lstFile
  std::unique_ptr<DesktopShell> ownShell_;
  std::unique_ptr<WindowBatchHost> host_;
  std::unique_ptr<BatchDriver> driver_;  // owns the runners and the deferred start

  // State of each area, defined in its own source file.
  // Each area's source file defines its State and the deleter's operator().
  struct ListState;
  struct SettingsState;
  struct ChromeState;
  struct Drop {
    void operator()(ListState* p) const;
    void operator()(SettingsState* p) const;
    void operator()(ChromeState* p) const;
  };
  std::unique_ptr<ListState, Drop> list_;
  std::unique_ptr<SettingsState, Drop> settings_;
  std::unique_ptr<ChromeState, Drop> chrome_;
};
