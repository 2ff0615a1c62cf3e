#include "ui/frmmenu.h"

#include <QLineEdit>
#include <QMenu>

#include "ui/frmmain.h"

frmMenu::frmMenu(frmMain& main, QLineEdit* command) : menuRemove(new QMenu(QStringLiteral("Remove"), &main)) {
  menuRemove->setObjectName(QStringLiteral("menuRemove"));
  menuRemoveSelected = menuRemove->addAction(QStringLiteral("移除选择项"));
  menuRemoveSelected->setObjectName(QStringLiteral("menuRemoveSelected"));
  menuRemoveAll = menuRemove->addAction(QStringLiteral("移除全部"));
  menuRemoveAll->setObjectName(QStringLiteral("menuRemoveAll"));

  QObject::connect(menuRemoveSelected, &QAction::triggered, command,
                   [command] { command->setText(QStringLiteral("RemoveSelected")); });
  QObject::connect(menuRemoveAll, &QAction::triggered, &main, [&main] { main.menuRemoveAll_Click(); });
}

frmMenu::~frmMenu() = default;
