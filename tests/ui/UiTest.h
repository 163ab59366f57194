#pragma once
// The one application object of the ui tests, with scripted message boxes
// and file dialogs in place of the real ones.

#include "Application.h"

namespace uitest {

// Created on first use and kept for the whole test program.
TApplication& App();
TScriptedMessageBoxes& Boxes();
TScriptedFileDialogs& Dialogs();

// Empties the recorded calls and preset answers.
void ResetScripts();

} // namespace uitest
