#pragma once
// The application object of the kavrel tests, with scripted message boxes,
// the picture formats and the image tables ready.

#include "Application.h"

#include <string>

namespace kaveltest {

TApplication& App();
TScriptedMessageBoxes& Boxes();
// Makes a JPEG with ImageMagick; false when that failed.
bool MakeJpeg(const std::string& path, int width, int height, const std::string& pattern = "gradient:red-blue");

struct TJpegInfo {
    int Width = 0;
    int Height = 0;
    int Quality = 0;
};
// What ImageMagick's identify says of a JPEG (all 0 when it cannot read it).
TJpegInfo Identify(const std::string& path);

} // namespace kaveltest
