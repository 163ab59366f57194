#pragma once
// Helpers shared by the codec's own source files.

#include "PngCodec.h"
#include "ByteOrder.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pngimpl {

template <class E> [[noreturn]] void Raise(const std::string& message)
{
    throw E(message);
}

// Reads until count bytes or the end; answers how many were read.
std::size_t ReadFully(TStream& stream, void* buffer, std::size_t count);
// Reads exactly count bytes or raises EPngUnexpectedEnd.
void ReadOrEnd(TStream& stream, void* buffer, std::size_t count);
std::uint32_t ReadBigEndian32(TStream& stream);
// Refuses a chunk length above 2^31 - 1 or one whose data and CRC would run
// past the end of the stream (EPngUnexpectedEnd).
void CheckChunkLength(TStream& stream, std::uint32_t length);
void WriteIdatChunk(TStream& stream, const std::uint8_t* bytes, std::size_t count);
// Deflate levels outside 0..9 are taken as the nearest one.
int ClampLevel(int level);

// Copies pixels of three bytes, exchanging the first and the third (B, G, R
// to R, G, B and back). The buffers do not overlap.
void SwapRedBlue(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels);

// The bytes of the raw (filtered) image data: every row with its filter
// byte, over the seven passes when interlaced.
std::size_t RawImageSize(const TChunkIHDR& header, int interlaceMode);
// Deflate makes at most about 1032 bytes of output from one byte of input:
// raw data larger than this many times the bytes left cannot be there.
constexpr std::size_t MaxInflateRatio = 1032;

// Marks, in the header's alpha plane, the pixels of a grey or RGB image whose
// stored samples equal the colour key: all 16 bits of a sample, before gamma,
// so that levels gamma merges on the screen keep their own transparency.
// Does nothing for other images and for a key no pixel can have.
class KeyMasker {
public:
    explicit KeyMasker(TPngPicture& owner);
    // A whole row of raw samples of image row y.
    void Row(const std::uint8_t* src, std::size_t y);
    // The pixels of one Adam7 pass row, at columns first, first + step, ...
    void PassRow(const std::uint8_t* src, std::size_t passWidth, std::size_t y, std::size_t first, std::size_t step);

private:
    bool Keyed(const std::uint8_t* src, std::size_t i) const;

    TChunkIHDR& FHeader;
    bool FActive = false;
    std::uint16_t FKey[3] = {0, 0, 0};
};

// The Adam7 passes.
constexpr int Adam7FirstRow[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr int Adam7FirstColumn[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int Adam7RowStep[7] = {8, 8, 8, 4, 4, 2, 2};
constexpr int Adam7ColumnStep[7] = {8, 8, 4, 4, 2, 2, 1};

inline std::size_t PassWidth(std::size_t width, int pass)
{
    const auto step = static_cast<std::size_t>(Adam7ColumnStep[pass]);
    const auto first = static_cast<std::size_t>(Adam7FirstColumn[pass]);
    return (width + step - first - 1) / step;
}

} // namespace pngimpl
