#pragma once

class QAction;
class QLineEdit;
class QMenu;
class frmMain;

// Carries the pop-up menus of the main window; never shown itself. It reaches
// the window only through its handlers and the command box and keeps no state
// of its own; the menus belong to the window.
class frmMenu {
 public:
  // `command` is the window's hidden command box txtAction.
  frmMenu(frmMain& main, QLineEdit* command);
  ~frmMenu();

  QMenu* menuRemove = nullptr;             // "Remove"; a child of the main window
  QAction* menuRemoveSelected = nullptr;  // "移除选择项": "RemoveSelected" into txtAction
  QAction* menuRemoveAll = nullptr;       // "移除全部"
};
