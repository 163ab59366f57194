#pragma once
// The system beep. Picture code below the windows sounds it through a hook
// that the application object sets, so that it needs no windowing system;
// without a hook the beep is silent (tools without windows, tests).

#include <functional>

// Sounds the beep through the hook, if one is set.
void Beep();

// Makes hook the beep (an empty function: silence) and answers the hook it
// replaces, so that a caller can put that one back.
std::function<void()> SetBeepHook(std::function<void()> hook);
