#pragma once
// Helpers shared by the tests: temporary folders, outside tools, PPM files.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class TBitmap;

namespace testutil {

// A fresh folder removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

struct CommandResult {
    int ExitCode = -1;
    std::string Output; // standard output and error together
};

// Runs a shell command line (test files and outside tools only).
CommandResult Run(const std::string& commandLine);

// The Debian path of an outside tool ("convert" -> "/usr/bin/convert"). A
// tool that is missing or cannot run fails the test with its name: the tests
// never skip for want of an oracle (scripts/install-deps.sh installs them).
std::string Tool(const std::string& name);
// /usr/bin/python3, failing the test when it cannot import PIL.
std::string PythonWithPil();
// Every outside tool the tests run, by name.
const std::vector<std::string>& OracleTools();
// Quotes a string for the shell.
std::string Quote(const std::string& s);

// Guards of process-wide settings a test changes: each puts the old value
// back when it goes, also when the test stops early at a failed ASSERT.
// (For the calling thread alone, TPixelBudgetScope.)
class PixelBudgetGuard {
public:
    // The budget of every thread, until the guard goes.
    explicit PixelBudgetGuard(std::size_t pixels);
    ~PixelBudgetGuard();
    PixelBudgetGuard(const PixelBudgetGuard&) = delete;
    PixelBudgetGuard& operator=(const PixelBudgetGuard&) = delete;

private:
    std::size_t FSaved;
};

class CurrentDirGuard {
public:
    // Makes dir the current directory until the guard goes.
    explicit CurrentDirGuard(const std::string& dir);
    ~CurrentDirGuard();
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

private:
    std::string FSaved;
};

class EnvGuard {
public:
    // Sets an environment variable (value nullptr: removes it) until the
    // guard goes.
    EnvGuard(const std::string& name, const char* value);
    ~EnvGuard();
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::string FName;
    bool FHadOld = false;
    std::string FOld;
};

class LocaleGuard {
public:
    // Switches LC_ALL to the first of the locales the system has (none:
    // it stays) until the guard goes.
    explicit LocaleGuard(const std::vector<std::string>& locales);
    ~LocaleGuard();
    LocaleGuard(const LocaleGuard&) = delete;
    LocaleGuard& operator=(const LocaleGuard&) = delete;

private:
    std::string FSaved;
};

class HookGuard {
public:
    using Hook = std::function<void()>;
    // Makes hook the one a setter sets (the setter answers the hook it
    // replaces) until the guard goes, so that nothing calls a hook whose
    // test is over: the beep's hook or the application's beep sound.
    HookGuard(std::function<Hook(Hook)> set, Hook hook) : FSet(std::move(set)), FSaved(FSet(std::move(hook))) {}
    ~HookGuard() { FSet(std::move(FSaved)); }
    HookGuard(const HookGuard&) = delete;
    HookGuard& operator=(const HookGuard&) = delete;

private:
    std::function<Hook(Hook)> FSet;
    Hook FSaved;
};

// A 256-colour run-length BMP of the given size in a few hundred bytes: its
// data ends the picture at once, leaving every pixel colour 0.
std::vector<std::uint8_t> TinyRleBmp(int width, int height);

std::vector<std::uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<std::uint8_t>& data);

// A picture as 8-bit RGB triples, rows top to bottom.
struct RgbImage {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Rgb;
    const std::uint8_t* At(int x, int y) const { return &Rgb[(static_cast<std::size_t>(y) * Width + x) * 3]; }
};

// Reads a binary PPM (P6, maxval 255); fails the test on anything else.
RgbImage ReadPpm(const std::string& path);
void WritePpm(const std::string& path, const RgbImage& image);
// The 24-bit pixels of a bitmap (any format, converted on a copy).
RgbImage FromBitmap(const TBitmap& bitmap);
// A deep copy of a bitmap.
TBitmap Copy(const TBitmap& bitmap);
// Same size and the same colour at every pixel, whatever the pixel formats.
bool SamePixels(const TBitmap& a, const TBitmap& b);

// Largest difference of one channel between two pictures of one size. A
// size mismatch fails the test and answers 256, more than any difference.
int MaxDifference(const RgbImage& a, const RgbImage& b);

// Decodes a file with picdump into RGB; ok is false when picdump failed and
// then error holds what it printed.
struct DumpResult {
    bool Ok = false;
    RgbImage Image;
    std::string Error;
};
// With frame 0 or above, picdump --frame: that frame of an animation.
DumpResult PicDump(const std::string& path, int frame = -1);

// Writes a 320 x 240 noisy JPEG with ImageMagick at whole, and at cut a copy
// that ends after half its bytes (a file the copying stopped in); answers
// the cut copy's bytes. Fails the test when ImageMagick fails.
std::vector<std::uint8_t> MakeJpegAndCutCopy(const std::string& whole, const std::string& cut, int seed = 1);

} // namespace testutil
