#pragma once
// The batch resizer's work: the size rule and the conversion of a list of
// JPEG files into resized, optionally sharpened copies in the "kavrel/"
// sub-folder of their folder.

#include "photo.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class TPicture;

// How the copies are sized: unchanged, by width, by height, or by the
// longer side, in pixels.
enum class TSizeMode { smOriginal, smWidth, smHeight, smMaximum };
using enum TSizeMode;

struct TSizeRule {
    TSizeMode Mode = smOriginal;
    int Pixels = 0; // unused for smOriginal
};

// The message shown for a size text that is not an integer.
extern const char* const BadDimensionText;     // "Dimension incorrecte !"
// The message shown for a size of 0 or less.
extern const char* const NonPositiveSizeText;
extern const char* const NoSelectionText;      // "Aucune image sélectionnée !"

// The integer of a size text as the size field takes it: optional blanks
// before, an optional sign, decimal digits or a "$" / "0x" hexadecimal
// number. Nothing for anything else, an empty text included.
std::optional<int> ParseInteger(const std::string& text);

// Reads the size rule of the form's fields. For smOriginal the text is not
// looked at. Otherwise a text that is not an integer gives BadDimensionText
// and a size of 0 or less NonPositiveSizeText in message, and nothing.
std::optional<TSizeRule> ReadSizeRule(TSizeMode mode, const std::string& text, std::string& message);

// Height / width of a picture in single precision, as the preview and the
// size rule use it.
float PictureRatio(int width, int height);

struct TSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TSize&) const = default;
};

// The size of the copy of a width x height picture: by width n the height
// is Round(n * ratio), by height n the width is Round(n / ratio), by the
// longer side a picture taller than wide goes by height and any other by
// width; the product or quotient is a Single, rounded half to even. A side
// that would round to 0 is 1.
TSize OutputSize(const TSizeRule& rule, int width, int height);

// The size of the preview image of a picture inside a box of side `box`:
// the longer side takes the box, the other Round(box * ratio) or
// Round(box / ratio).
TSize PreviewSize(int width, int height, int box = 153);

// The batch program's sharpening kernel.
extern const TKernel3x3 KavrelKernel;

// What one run converts, taken when it starts.
struct TConversion {
    std::string Folder;              // the source folder
    std::vector<std::string> Files;  // file names in that folder, in list order
    TSizeRule Size;
    bool Sharpen = true;
    int Quality = 85;
};

// The folder the copies go to: Folder + "/kavrel/".
std::string OutputFolder(const std::string& folder);

struct TConversionResult {
    int Converted = 0;
    std::vector<std::string> Failed; // the names that could not be converted
    // The names of damaged files converted with the part they hold (a file
    // that ends early); their copies show the rest filled.
    std::vector<std::string> Incomplete;
    bool Stopped = false;            // Cancel answered true before the end
};

struct TConversionHooks {
    // Called with each picture once loaded, before it is converted (the
    // form shows it as the preview and lets the window repaint).
    std::function<void(const std::string& name, const TPicture& picture)> Loaded;
    // Called after each file, converted or not: (files done, files in all).
    std::function<void(int done, int total)> Progress;
    // Asked before each file; true ends the run there.
    std::function<bool()> Cancel;
};

// Converts the files one by one: load, draw into a 24-bit bitmap, resize by
// the rule, sharpen when asked, encode as JPEG at the quality and write
// into the output folder under the same name. The output folder is created
// when missing; a copy that exists is replaced only once its new content is
// complete on disk, so a failure never destroys it. A file that fails is
// counted and the run goes on. When the output folder cannot be created
// every file fails.
TConversionResult ConvertFiles(const TConversion& job, const TConversionHooks& hooks = {});

// Converts one loaded picture into the JPEG copy at path (the work of one
// file after loading). A copy of a JPEG photo keeps its metadata.
void ConvertPicture(const TPicture& picture, const TSizeRule& size, bool sharpen, int quality,
                    const std::string& path);

// The report of failed files: "" when none failed.
std::string FailureText(int failed);
// The report of incomplete files, by name: "" when there is none.
std::string IncompleteText(const std::vector<std::string>& names);
// What the user is told after a run: the failures, then the incomplete
// files, in one message; "" when all went well.
std::string RunReportText(const TConversionResult& result);
