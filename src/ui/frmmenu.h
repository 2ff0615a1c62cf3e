#pragma once

class QAction;
class QMenu;
class frmMain;

// Carries the pop-up menus of the main window; never shown itself. It reaches
// the window only through its public controls and keeps no state of its own;
// the menus belong to the window.
class frmMenu {
 public:
  explicit frmMenu(frmMain& main);
  ~frmMenu();

  QMenu* menuRemove = nullptr;             // "Remove"; a child of the main window
  QAction* menuRemoveSelected = nullptr;  // "移除选择项": "RemoveSelected" into txtAction
  QAction* menuRemoveAll = nullptr;       // "移除全部"
};
