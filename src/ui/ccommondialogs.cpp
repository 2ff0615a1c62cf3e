#include "ui/ccommondialogs.h"

#include <QDir>
#include <QFileInfo>

#include "ui/dialogbackend.h"

bool CCommonDialogs::ShowOpen() {
  const auto picked = backend_.openFile(owner_, Title, QDir::currentPath(), QString(), FileName);
  if (!picked) return false;
  FileName = *picked;
  FileTitle = QFileInfo(*picked).fileName();
  Path = QFileInfo(*picked).absolutePath();
  QDir::setCurrent(Path);
  return true;
}
