#pragma once
// Helpers the readers share: preparing the bitmap a file is read into,
// bounded reads, and the refusals of the classes that do not save.

#include "Bitmap.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Empties the bitmap and gives it a format, a palette (palette formats only)
// and a white picture of width x height. Sizes are checked against the pixel
// budget before anything is allocated; a negative or zero side raises
// Exception(message).
void PrepareBitmap(TBitmap& bitmap, TPixelFormat format, std::int64_t width, std::int64_t height,
                   const TPalette& palette, const char* message);

// Refuses with Exception(message) a picture whose pixel data of rawBytes
// bytes the bytes left in the stream could not hold even at the format's
// best compression: maxExpansion is the most bytes of pixel data one byte of
// the file can give (1 for raw data, 128 for a PackBits run, ...). Keeps a
// file of a few bytes from allocating a huge picture.
void CheckEncodable(TStream& stream, std::uint64_t rawBytes, std::uint64_t maxExpansion, const char* message);

// count grey entries, entry k of value k x step.
TPalette GreyPalette(int count, int step = 1);

// Reads up to count bytes; answers how many were read (short at the end).
std::size_t ReadUpTo(TStream& stream, std::uint8_t* buffer, std::size_t count);

// A buffer of size bytes; raises EOutOfMemory instead of std::bad_alloc.
std::vector<std::uint8_t> MakeBuffer(std::size_t size, std::uint8_t fill = 0);

// Raises the read error of a file that ends before its picture does, named
// by the format's short name ("PCX", "SGI", ...).
[[noreturn]] void ShortFileError(const char* formatName);
// The message of that error.
std::string ShortFileMessage(const char* formatName);

// ReadBuffer that raises ShortFileError(formatName) instead when the stream
// ends before count bytes.
void ReadOrShortFileError(TStream& stream, void* buffer, std::size_t count, const char* formatName);

// The SaveToFile of a class that reads only: raises Exception naming the
// format and leaves any file of that name as it was.
[[noreturn]] void RefuseSave(const char* formatName);

// The LoadFromStream of a reader not provided in this build.
[[noreturn]] void RefuseLoad(const char* formatName);
