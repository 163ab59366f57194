#include "UiTest.h"

#include <gtest/gtest.h>

namespace uitest {

namespace {

TApplication* TheApp = nullptr;

// Qt's own globals go at the program's exit: the application object must
// go before them, at the end of the tests.
class TAppEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        delete TheApp;
        TheApp = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new TAppEnvironment);

} // namespace

TApplication& App()
{
    if (!TheApp) {
        static int argc = 1;
        static char name[] = "ui_tests";
        static char* argv[] = {name, nullptr};
        TheApp = new TApplication(argc, argv);
        TheApp->SetTitle("Corvinel");
        TheApp->SetMessageBoxes(&Boxes());
        TheApp->SetFileDialogs(&Dialogs());
    }
    return *TheApp;
}

TScriptedMessageBoxes& Boxes()
{
    static TScriptedMessageBoxes boxes;
    return boxes;
}

TScriptedFileDialogs& Dialogs()
{
    static TScriptedFileDialogs dialogs;
    return dialogs;
}

void ResetScripts()
{
    Boxes().Calls.clear();
    Boxes().Answers.clear();
    Dialogs().Filters.clear();
    Dialogs().Answers.clear();
}

} // namespace uitest
