#include "ReaderSupport.h"

#include "Exceptions.h"

#include <new>
#include <string>

void PrepareBitmap(TBitmap& bitmap, TPixelFormat format, std::int64_t width, std::int64_t height,
                   const TPalette& palette, const char* message)
{
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
        throw Exception(message);
    CheckPixelBudget(width, height);
    bitmap.SetSize(0, 0);
    bitmap.SetPixelFormat(format);
    if (format == pf1bit || format == pf4bit || format == pf8bit)
        bitmap.SetPalette(palette);
    bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
}

void CheckEncodable(TStream& stream, std::uint64_t rawBytes, std::uint64_t maxExpansion, const char* message)
{
    const std::int64_t left = stream.Remaining();
    const std::uint64_t bytesLeft = left > 0 ? static_cast<std::uint64_t>(left) : 0;
    // bytesLeft x maxExpansion, saturating: only a shortfall refuses.
    if (maxExpansion != 0 && bytesLeft > UINT64_MAX / maxExpansion)
        return;
    if (rawBytes > bytesLeft * maxExpansion)
        throw Exception(message);
}

TPalette GreyPalette(int count, int step)
{
    TPalette palette(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        const auto v = static_cast<std::uint8_t>(k * step);
        palette[static_cast<std::size_t>(k)] = TPaletteEntry{v, v, v, 0};
    }
    return palette;
}

std::size_t ReadUpTo(TStream& stream, std::uint8_t* buffer, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = stream.Read(buffer + done, count - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

std::vector<std::uint8_t> MakeBuffer(std::size_t size, std::uint8_t fill)
{
    try {
        return std::vector<std::uint8_t>(size, fill);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    } catch (const std::length_error&) {
        OutOfMemoryError();
    }
}

void ShortFileError(const char* formatName)
{
    throw EReadError(ShortFileMessage(formatName));
}

std::string ShortFileMessage(const char* formatName)
{
    return std::string(formatName) + ": the file ends before the picture does.";
}

void ReadOrShortFileError(TStream& stream, void* buffer, std::size_t count, const char* formatName)
{
    if (stream.Remaining() < 0 || static_cast<std::uint64_t>(stream.Remaining()) < count)
        ShortFileError(formatName);
    stream.ReadBuffer(buffer, count);
}

void RefuseSave(const char* formatName)
{
    throw Exception(std::string(formatName) + " images cannot be saved.");
}

void RefuseLoad(const char* formatName)
{
    throw Exception(std::string(formatName) + " images cannot be read by this version.");
}
