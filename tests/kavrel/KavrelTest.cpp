#include "KavrelTest.h"

#include "QtTestApp.h"
#include "Formats.h"
#include "TestUtil.h"
#include "photo.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kaveltest {

TScriptedMessageBoxes& Boxes()
{
    return testqt::Boxes();
}

TApplication& App()
{
    return testqt::App("Kavrel");
}

bool MakeJpeg(const std::string& path, int width, int height, const std::string& pattern)
{
    const testutil::CommandResult r =
        testutil::Run(testutil::Tool("convert") + " -size " + std::to_string(width) + "x" + std::to_string(height) + " " + pattern +
                      " -quality 95 " + testutil::Quote("jpg:" + path));
    return r.ExitCode == 0;
}

TJpegInfo Identify(const std::string& path)
{
    TJpegInfo info;
    const testutil::CommandResult r = testutil::Run(testutil::Tool("identify") + " -format '%w %h %Q' " + testutil::Quote(path) + " 2>/dev/null");
    if (r.ExitCode != 0)
        return info;
    std::istringstream in(r.Output);
    in >> info.Width >> info.Height >> info.Quality;
    return info;
}

} // namespace kaveltest
