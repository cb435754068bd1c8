// What the window program sets up on its QApplication before the main window
// is created: names, version, font, the window icon and Qt's own Russian
// texts for its standard dialogs and buttons. GUI thread only.
#pragma once

#include <QIcon>

// The program's icon (drawn in SVG, kept in the resources).
QIcon ProgramIcon();

// Loads Qt's Russian translations ("qtbase_ru" from Qt's translation
// directory) into the application; false when they are not installed, in
// which case the standard dialogs stay in English.
bool LoadQtTranslations();

void SetUpApplication();
