#include "BrowserTest.h"

#include "QtTestApp.h"
#include "Formats.h"
#include "MessageBoxes.h"
#include "FileDialogs.h"
#include "TestUtil.h"
#include "photo.h"

#include <QElapsedTimer>
#include <QThread>

namespace browsertest {

void InitOnce()
{
    testqt::InitOnce();
}

TScriptedMessageBoxes& Boxes()
{
    return testqt::Boxes();
}

TScriptedFileDialogs& Dialogs()
{
    return testqt::Dialogs();
}

TApplication& App()
{
    return testqt::App("Corvinel");
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    return testqt::WaitFor(pred, timeoutMs);
}

TBitmap Halves(int width, int height)
{
    TBitmap b(width, height, pf24bit);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const bool left = x < width / 2;
            row[3 * x] = left ? 0 : 255;   // blue
            row[3 * x + 1] = 0;             // green
            row[3 * x + 2] = left ? 255 : 0; // red
        }
    }
    return b;
}

void SaveBmp(const TBitmap& bitmap, const std::string& path)
{
    bitmap.SaveToFile(path);
}

bool Convert(const std::string& arguments, const std::string& path)
{
    return testutil::Run(testutil::Tool("convert") + " " + arguments + " " + testutil::Quote(path)).ExitCode == 0;
}

} // namespace browsertest
