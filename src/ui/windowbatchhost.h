#pragma once
#include <QList>

#include <functional>

#include "engine/batchhost.h"
#include "engine/timeleft.h"

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QWidget;
class DesktopShell;
class QueueRows;

// The window's side of a batch: gives the job (the settings panel, the
// program's folders and options), locks the controls while the batch runs,
// shows where it stands (bar, caption, title, the row being converted) in the
// product's words, asks and warns through the prompter, shows the failures at
// the end and hands the desktop actions to the desktop services.
class WindowBatchHost : public BatchHost, public Shell {
 public:
  // The window's parts the batch reads and shows; the window owns them all.
  struct Controls {
    QWidget* window = nullptr;
    FileQueue* queue = nullptr;
    QueueRows* rows = nullptr;
    QWidget* listHint = nullptr;
    QComboBox *format = nullptr, *videoBitrate = nullptr, *frameRate = nullptr, *size = nullptr,
              *sampleRate = nullptr, *audioBitrate = nullptr, *channel = nullptr;
    QLineEdit* outputFolder = nullptr;
    QProgressBar* bar = nullptr;
    QLabel* caption = nullptr;
    QList<QWidget*> locked;  // disabled while a batch runs
    QAbstractButton* start = nullptr;  // reads "停止转换" while a batch runs
  };
  WindowBatchHost(const Controls& controls, DesktopShell& shell);
  // The clock the time left is judged by, in milliseconds (tests set their own).
  void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }

  // The panel's values as the command lines read them.
  PanelValues panelValues() const;

  // BatchHost
  FileQueue& queue() override { return *c_.queue; }
  BatchJob batchJob() const override;
  QString outputFolderText() const override;
  void setOutputFolderText(const QString& text) override;
  void setBatchLock(bool locked) override;
  void batchProgress(const BatchProgress& progress) override;
  void warnEmptyList() override;
  bool confirmStop() override;
  void batchFinished(const BatchSummary& summary) override;

  // Shell
  void openFolder(const QString& folder) override;
  void playSound(const QString& file, std::function<void()> done) override;

 private:
  Controls c_;
  DesktopShell& shell_;
  std::function<qint64()> clock_;
  TimeLeft timeLeft_;
  struct StopQuestion {
    bool open = false;        // "正在转换，要停止吗？" is waiting for an answer
    bool batchEnded = false;  // the batch ended while it was open
  } stopQuestion_;
};
