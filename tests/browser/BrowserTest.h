#pragma once
// Helpers of the browser tests: the application object with scripted boxes,
// the picture formats, a shell namespace over temporary folders, and test
// pictures.

#include "Application.h"
#include "Bitmap.h"
#include "Shell.h"

#include <functional>
#include <string>
#include <vector>

namespace browsertest {

// Picture formats and pixel tables, once per program.
void InitOnce();
TApplication& App();
TScriptedMessageBoxes& Boxes();
TScriptedFileDialogs& Dialogs();

// Handles events until pred holds or timeoutMs passed; answers pred().
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000);

// A picture whose left half is red and right half blue, saved as BMP by
// our writer.
TBitmap Halves(int width, int height);
void SaveBmp(const TBitmap& bitmap, const std::string& path);
// A picture written by ImageMagick (any format it names by extension);
// false when that failed.
bool Convert(const std::string& arguments, const std::string& path);

class TTempNamespace : public TShellNamespace {
public:
    std::string Desktop;
    std::vector<TVolume> Vols;
    std::string DesktopPath() const override { return Desktop; }
    std::vector<TVolume> Volumes() const override { return Vols; }
    std::vector<TVolume> NetworkVolumes() const override { return {}; }
};

} // namespace browsertest
