#pragma once
// The image data inflated in one call with libdeflate into memory that
// holds the whole filtered image (the memory of the picture's bitmap).

#include "PngCodec.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pngimpl {

// The compressed image data of a run of IDAT chunks, held in memory of
// exactly its size.
class WholeIdatRun {
public:
    // Reads the run whose first body starts at the stream's position (its
    // type and length already read), checking every chunk's CRC, and leaves
    // the stream after it. False, with the stream back where it was, when a
    // chunk is not as it should be or the memory cannot be had. The streamed
    // reader then decodes the chunks again and gives the precise error.
    bool Gather(TStream& stream, const TChunkType& type, std::uint32_t length);
    // Inflates the data into exactly size bytes at out; false when they are
    // broken or give another size (the streamed reader then decides, and
    // succeeds where only the parts it does not need, such as trailing data
    // or the Adler-32 sum, are off).
    bool Inflate(std::uint8_t* out, std::size_t size) const;
    // Puts the stream back where Gather found it.
    void Rewind(TStream& stream) const { stream.SetPosition(FStart); }
    // Lets the compressed bytes go.
    void Release();

private:
    // Gather's work; false (or an exception) leaves the clean-up to it.
    bool ReadRun(TStream& stream, const TChunkType& type, std::uint32_t length);

    std::unique_ptr<std::uint8_t[]> FData;
    std::size_t FSize = 0;
    std::int64_t FStart = 0;
};

// The filtered bytes of the whole image: every row with its filter byte, the
// seven passes one after the other when interlaced.
std::size_t FilteredImageSize(const TChunkIHDR& header, std::size_t rowSize, int interlace);

// Off, the image data is always read through the streamed reader, for tests
// that compare the two.
void SetWholeInflate(bool enabled);
bool WholeInflateEnabled();

} // namespace pngimpl
