#pragma once
// The images of the frame's tool buttons and menu items: the desktop's icon
// theme where it has a fitting picture, else the program's own drawings.

#include <QIcon>
#include <QString>

// The icon of a command by its component name; a null icon for a command
// that has none (most menu items).
QIcon CommandIcon(const QString& name);

// The program's icon, for its frame and its About box: a capital C, the
// first letter of its name, in the navy of the name in the About box, so
// that the icon and the rest of the name beside it read "Corvinel".
QIcon ProgramIcon();

// The icon of a document window.
QIcon DocumentWindowIcon();

// The program's own drawing of a command, whatever the theme holds; null
// for a name without one.
QIcon DrawnIcon(const QString& name);

// The theme's picture named themeName from the Adwaita theme's PNG files,
// or null when the theme is not installed.
QIcon ThemeIcon(const QString& themeName);
