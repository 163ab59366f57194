#pragma once
// The image data inflated in one call with libdeflate, straight into a
// buffer of the whole filtered image.

#include "PngCodec.h"

#include <cstddef>
#include <cstdint>

namespace pngimpl {

// Reads the run of IDAT chunks whose first body starts at the stream's
// position (its type and length already read) and inflates it into exactly
// size bytes at out. Answers false, with the stream back where it was, when
// anything is not as it should be: a CRC, a chunk, the compressed data, or a
// size other than size. The streamed reader then decodes the chunks again
// and gives the precise error, or succeeds where only the parts it does not
// need (trailing data, the Adler-32 sum) are off.
bool InflateWholeIdatRun(TStream& stream, const TChunkType& type, std::uint32_t length, std::uint8_t* out,
                         std::size_t size);

// The filtered bytes of the whole image: every row with its filter byte, the
// seven passes one after the other when interlaced.
std::size_t FilteredImageSize(const TChunkIHDR& header, std::size_t rowSize, int interlace);

// Off, the image data is always read through the streamed reader, for tests
// that compare the two.
void SetWholeInflate(bool enabled);
bool WholeInflateEnabled();

} // namespace pngimpl
