#include "Kavrel.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Jpeg.h"
#include "MessageBoxes.h"
#include "Numeric.h"
#include "Parallel.h"
#include "PhotoMetadata.h"
#include "Picture.h"
#include "PixelMemory.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

const char* const BadDimensionText = "Dimension incorrecte !";
const char* const NonPositiveSizeText = "La dimension doit être d'au moins 1 pixel !";
const char* const NoSelectionText = "Aucune image sélectionnée !";

const TKernel3x3 KavrelKernel = TKernel3x3::FromRows({
    {-4, 0, -4},
    {0, 40, 0},
    {-4, 0, -4},
});

std::optional<int> ParseInteger(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > static_cast<long long>(INT_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<TSizeRule> ReadSizeRule(TSizeMode mode, const std::string& text, std::string& message)
{
    message.clear();
    if (mode == smOriginal)
        return TSizeRule{smOriginal, 0};
    const std::optional<int> n = ParseInteger(text);
    if (!n) {
        message = BadDimensionText;
        return std::nullopt;
    }
    if (*n <= 0) {
        message = NonPositiveSizeText;
        return std::nullopt;
    }
    return TSizeRule{mode, *n};
}

float PictureRatio(int width, int height)
{
    return StoreSingle(static_cast<Extended>(height) / width);
}

namespace {

// A side from a product or quotient with the Single ratio, worked out in
// single precision as all pixel arithmetic, then rounded half to even.
int Side(Extended value)
{
    const float single = StoreSingle(value);
    if (!(single < static_cast<float>(INT_MAX)))
        return INT_MAX;
    const std::int64_t n = Round(single);
    return static_cast<int>(std::clamp<std::int64_t>(n, 1, INT_MAX));
}

} // namespace

TSize OutputSize(const TSizeRule& rule, int width, int height)
{
    if (rule.Mode == smOriginal || width <= 0 || height <= 0)
        return {width, height};
    const float ratio = PictureRatio(width, height);
    const int n = rule.Pixels;
    const bool byHeight = rule.Mode == smHeight || (rule.Mode == smMaximum && ratio > 1);
    if (byHeight)
        return {Side(static_cast<Extended>(n) / ratio), n};
    return {n, Side(static_cast<Extended>(n) * ratio)};
}

TSize PreviewSize(int width, int height, int box)
{
    if (width <= 0 || height <= 0)
        return {0, 0};
    const float ratio = PictureRatio(width, height);
    if (ratio > 1)
        return {Side(static_cast<Extended>(box) / ratio), box};
    return {box, Side(ratio * static_cast<Extended>(box))};
}

std::string OutputFolder(const std::string& folder)
{
    std::string out = folder;
    if (out.empty() || out.back() != '/')
        out += '/';
    return out + "kavrel/";
}

namespace {

// The copy of one loaded picture, compressed in memory.
std::unique_ptr<TJPEGImage> EncodeCopy(const TPicture& picture, const TSizeRule& size, bool sharpen, int quality)
{
    TGraphic* graphic = picture.Graphic();
    if (!graphic || graphic->Empty() || graphic->Width() <= 0 || graphic->Height() <= 0)
        throw EInvalidGraphic("Image vide");
    const int width = graphic->Width();
    const int height = graphic->Height();
    TBitmap work(width, height, pf24bit);
    work.Canvas().Draw(0, 0, *graphic);
    if (size.Mode != smOriginal) {
        const TSize out = OutputSize(size, width, height);
        ResizeBitmap(work, out.Width, out.Height);
    }
    if (sharpen)
        Convolve3x3(work, KavrelKernel);
    auto jpeg = std::make_unique<TJPEGImage>();
    jpeg->Assign(work);
    jpeg->SetCompressionQuality(quality);
    // Encoded in memory first: the file is written only with a whole picture.
    jpeg->Compress();
    return jpeg;
}

std::string SourcePath(const TConversion& job, const std::string& name)
{
    std::string source = job.Folder;
    if (!source.empty() && source.back() != '/')
        source += '/';
    return source + name;
}

std::string TargetName(const std::string& name) { return std::filesystem::path(name).filename().string(); }

// One file at a time, all on the calling thread.
TConversionResult ConvertOneByOne(const TConversion& job, const TConversionHooks& hooks, const std::string& folder)
{
    TConversionResult result;
    const int total = static_cast<int>(job.Files.size());
    for (int i = 0; i < total; ++i) {
        if (hooks.Cancel && hooks.Cancel()) {
            result.Stopped = true;
            break;
        }
        const std::string& name = job.Files[static_cast<std::size_t>(i)];
        try {
            // A batch never stalls on a small file that describes a huge picture.
            const TThumbnailBudgetScope budget;
            TPicture picture;
            picture.LoadFromFile(SourcePath(job, name));
            if (hooks.Loaded)
                hooks.Loaded(name, picture);
            ConvertPicture(picture, job.Size, job.Sharpen, job.Quality, folder + TargetName(name));
            ++result.Converted;
            if (!picture.Graphic()->ReadWarning().empty())
                result.Incomplete.push_back(name);
        } catch (...) {
            result.Failed.push_back(name);
        }
        if (hooks.Progress)
            hooks.Progress(i + 1, total);
    }
    return result;
}

// Several files at once: the pool's threads load and convert them in memory,
// a few files ahead, while the calling thread takes them in list order:
// asks Cancel, shows the picture, writes the copy and reports progress, as
// ConvertOneByOne does. So the hooks run on the calling thread in the same
// order, and the same files are written; when the run is stopped, the files
// converted ahead are dropped unwritten.
TConversionResult ConvertSeveralAtOnce(const TConversion& job, const TConversionHooks& hooks,
                                       const std::string& folder)
{
    struct Slot {
        std::unique_ptr<TPicture> Picture;  // set once loaded
        std::unique_ptr<TJPEGImage> Copy;   // set once converted
        bool Finished = false;              // loaded and converted, or failed
    };
    const int total = static_cast<int>(job.Files.size());
    const int ahead = static_cast<int>(parallel::ThreadCount()) + 1;
    // The budget of the calling thread, for the pool's threads: a batch
    // never stalls on a small file that describes a huge picture.
    const std::size_t budget = std::min(PixelBudget(), ThumbnailPixelBudget);
    std::vector<Slot> slots(static_cast<std::size_t>(total));
    std::mutex lock;
    std::condition_variable changed;
    int taken = 0; // files the calling thread has taken so far
    bool stop = false;

    auto work = [&](std::size_t first, std::size_t end) {
        for (std::size_t i = first; i < end; ++i) {
            {
                // Not too far ahead of the calling thread, and nothing after a stop.
                std::unique_lock<std::mutex> guard(lock);
                changed.wait(guard, [&] { return stop || static_cast<int>(i) < taken + ahead; });
                if (stop)
                    return;
            }
            Slot& slot = slots[i];
            std::unique_ptr<TPicture> picture;
            std::unique_ptr<TJPEGImage> copy;
            bool loaded = false;
            try {
                const TPixelBudgetScope budgetScope(budget);
                picture = std::make_unique<TPicture>();
                picture->LoadFromFile(SourcePath(job, job.Files[i]));
                loaded = true;
                copy = EncodeCopy(*picture, job.Size, job.Sharpen, job.Quality);
            } catch (...) {
                copy.reset();
                if (!loaded)
                    picture.reset();
            }
            std::lock_guard<std::mutex> guard(lock);
            slot.Picture = std::move(picture);
            slot.Copy = std::move(copy);
            slot.Finished = true;
            changed.notify_all();
        }
    };
    std::thread workers([&] {
        try {
            parallel::For(static_cast<std::size_t>(total), 1, work);
        } catch (...) {
            // The files not finished then count as failed.
        }
        std::lock_guard<std::mutex> guard(lock);
        stop = true; // nothing more will come
        changed.notify_all();
    });

    TConversionResult result;
    auto finish = [&] {
        {
            std::lock_guard<std::mutex> guard(lock);
            stop = true;
        }
        changed.notify_all();
        workers.join();
    };
    try {
        for (int i = 0; i < total; ++i) {
            if (hooks.Cancel && hooks.Cancel()) {
                result.Stopped = true;
                break;
            }
            const std::string& name = job.Files[static_cast<std::size_t>(i)];
            Slot& slot = slots[static_cast<std::size_t>(i)];
            {
                std::unique_lock<std::mutex> guard(lock);
                changed.wait(guard, [&] { return slot.Finished || stop; });
            }
            try {
                if (!slot.Picture)
                    throw EInvalidGraphic("Image illisible");
                if (hooks.Loaded)
                    hooks.Loaded(name, *slot.Picture);
                if (!slot.Copy)
                    throw EInvalidGraphic("Conversion impossible");
                SaveJpegFile(*slot.Copy, TPhotoMetadata::Of(slot.Picture->Graphic()).get(), folder + TargetName(name));
                ++result.Converted;
                if (!slot.Picture->Graphic()->ReadWarning().empty())
                    result.Incomplete.push_back(name);
            } catch (...) {
                result.Failed.push_back(name);
            }
            slot.Picture.reset();
            slot.Copy.reset();
            {
                std::lock_guard<std::mutex> guard(lock);
                taken = i + 1;
            }
            changed.notify_all();
            if (hooks.Progress)
                hooks.Progress(i + 1, total);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return result;
}

} // namespace

void ConvertPicture(const TPicture& picture, const TSizeRule& size, bool sharpen, int quality,
                    const std::string& path)
{
    // The copy carries what the camera recorded about the original.
    SaveJpegFile(*EncodeCopy(picture, size, sharpen, quality), TPhotoMetadata::Of(picture.Graphic()).get(), path);
}

TConversionResult ConvertFiles(const TConversion& job, const TConversionHooks& hooks)
{
    const std::string folder = OutputFolder(job.Folder);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec); // a failure shows as failed saves
    // The pixel memory kept for reuse goes back to the system after the batch.
    struct TrimAfter {
        ~TrimAfter() { pixelmemory::Trim(); }
    } trim;
    if (parallel::ThreadCount() <= 1 || job.Files.size() <= 1 || parallel::InWorker())
        return ConvertOneByOne(job, hooks, folder);
    return ConvertSeveralAtOnce(job, hooks, folder);
}

std::string FailureText(int failed)
{
    if (failed <= 0)
        return std::string();
    if (failed == 1)
        return "1 photo n'a pas pu être convertie.";
    return std::to_string(failed) + " photos n'ont pas pu être converties.";
}

std::string IncompleteText(const std::vector<std::string>& names)
{
    if (names.empty())
        return std::string();
    if (names.size() == 1)
        return "La photo " + names[0] + " est incomplète : sa copie ne montre que la partie lue.";
    return ListMessage("Ces photos sont incomplètes, leurs copies ne montrent que la partie lue :", names);
}

std::string RunReportText(const TConversionResult& result)
{
    const std::string failed = FailureText(static_cast<int>(result.Failed.size()));
    const std::string incomplete = IncompleteText(result.Incomplete);
    if (failed.empty() || incomplete.empty())
        return failed + incomplete;
    return failed + "\n\n" + incomplete;
}
