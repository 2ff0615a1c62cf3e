#pragma once

class QCoreApplication;

// The program speaks Chinese whatever the system's language: Qt's own texts
// (the buttons of message boxes, the file and folder dialogs, the context
// menus of text boxes) come from Qt's Chinese translation.
namespace Chinese {

// Installs Qt's Chinese translation (qtbase_zh_CN) from Qt's translations
// folder, or from a "translations" folder beside the program, and makes
// Chinese the default locale. False when no translation could be loaded; the
// program then runs with Qt's English texts.
bool installQtTranslation(QCoreApplication* app);

// Qt's own file, folder, colour and font dialogs, which carry that
// translation, rather than a desktop's, which follow the system language.
// Windows keeps its own dialogs: they speak the system's language there.
void useQtDialogs();

}  // namespace Chinese
