#pragma once
#include <QString>

class QWidget;
class DialogBackend;

// The common dialogs behind a few properties and one method per dialog.
class CCommonDialogs {
 public:
  explicit CCommonDialogs(DialogBackend& backend) : backend_(backend) {}
  void Init(QWidget* OwnerForm) { owner_ = OwnerForm; }

  QString Title, Path, Filter, FileName, FileTitle, DefExt;

  // One existing file; true when one was picked.
  bool ShowOpen();

 private:
  DialogBackend& backend_;
  QWidget* owner_ = nullptr;
};
