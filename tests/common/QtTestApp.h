#pragma once
// The one application object of a GUI test program, with scripted message
// boxes and file dialogs, and the helpers that wait on Qt's event loop.

#include "Application.h"
#include "FileDialogs.h"
#include "MessageBoxes.h"

#include <functional>

namespace testqt {

// Photo tables and every picture format, set up once.
void InitOnce();
// Made on first use with this title (later titles are ignored); deleted after
// the last test, before Qt's own globals go.
TApplication& App(const char* title = "Corvinel");
TScriptedMessageBoxes& Boxes();
TScriptedFileDialogs& Dialogs();
// Forgets the recorded calls and the answers not used yet.
void ResetScripts();
// Runs the event loop until pred holds or timeoutMs passed; answers pred.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs);
// Runs the event loop for ms milliseconds.
void Pump(int ms);

} // namespace testqt
