#include "ui/chinese.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "settings/core/appdirs.h"

namespace Chinese {

bool installQtTranslation(QCoreApplication* app) {
  if (!app) return false;
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  auto* translator = new QTranslator(app);
  const QString name = QStringLiteral("qtbase_zh_CN");
  const bool loaded =
      translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      translator->load(name, AppDirs::join(AppDirs::programFolder(), QStringLiteral("translations")));
  if (!loaded || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

void useQtDialogs() {
#ifndef Q_OS_WIN
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
#endif
}

}  // namespace Chinese
