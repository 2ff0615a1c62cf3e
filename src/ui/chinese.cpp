#include "ui/chinese.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "filelist/pathhelpers.h"
#include "settings/core/appdirs.h"

namespace {

// Qt's own texts that its Chinese translation of this Qt version lacks: the
// kind of an entry in the file dialogs ("Folder", ...).
class MissingTexts : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char* = nullptr,
                    int = -1) const override {
    static const struct {
      const char *context, *source, *chinese;
    } table[] = {
        {"QAbstractFileIconProvider", "Folder", "文件夹"},
        {"QAbstractFileIconProvider", "File Folder", "文件夹"},
        {"QAbstractFileIconProvider", "Drive", "驱动器"},
        {"QAbstractFileIconProvider", "Shortcut", "快捷方式"},
        {"QAbstractFileIconProvider", "Alias", "替身"},
        {"QAbstractFileIconProvider", "Unknown", "未知"},
    };
    for (const auto& t : table)
      if (qstrcmp(context, t.context) == 0 && qstrcmp(source, t.source) == 0)
        return QString::fromUtf8(t.chinese);
    return {};
  }
};

}  // namespace

namespace Chinese {

bool installQtTranslation(QCoreApplication* app) {
  if (!app) return false;
  // Searched after Qt's own translation, which is installed last.
  QCoreApplication::installTranslator(new MissingTexts(app));
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  auto* translator = new QTranslator(app);
  const QString name = QStringLiteral("qtbase_zh_CN");
  const bool loaded =
      translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      translator->load(name, JoinPath(AppDirs::programFolder(), QStringLiteral("translations")));
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
