#include "UiTest.h"

#include "QtTestApp.h"
#include <gtest/gtest.h>

namespace uitest {

TApplication& App()
{
    return testqt::App("Corvinel");
}

TScriptedMessageBoxes& Boxes()
{
    return testqt::Boxes();
}

TScriptedFileDialogs& Dialogs()
{
    return testqt::Dialogs();
}

void ResetScripts()
{
    testqt::ResetScripts();
}

} // namespace uitest
