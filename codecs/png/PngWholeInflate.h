#pragma once
// The image data inflated in one call with libdeflate into memory that
// holds the whole filtered image (the memory of the picture's bitmap), the
// runs of rows of the image data, and the choice of the road the image data
// of a picture take.

#include "PngCodec.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pngimpl {

// The compressed image data of a run of IDAT chunks, held in pixel memory
// of their size.
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

    // Pixel memory, whose large blocks come in few page faults, given back
    // to the system as soon as the data are inflated.
    struct Discard {
        std::size_t Size;
        void operator()(std::uint8_t* block) const noexcept;
    };
    std::unique_ptr<std::uint8_t[], Discard> FData;
    std::size_t FSize = 0;
    std::int64_t FStart = 0;
};

// A run of rows of the image data: the whole picture, or one Adam7 pass
// (Pass 0..6; -1 for a plain picture). RowBytes leaves out the filter byte.
struct TRowRun {
    int Pass = -1;
    std::size_t Rows = 0;
    std::size_t RowBytes = 0;
};

// The runs of rows of the image data in stream order: one for a plain
// picture, the passes that hold any pixel for an interlaced one.
std::vector<TRowRun> ImageRowRuns(const TChunkIHDR& header, std::size_t rowSize, int interlace);

// The filtered bytes of the whole image: every row with its filter byte, the
// seven passes one after the other when interlaced.
std::size_t FilteredImageSize(const TChunkIHDR& header, std::size_t rowSize, int interlace);

// The roads the image data of a picture can take into its bitmap.
enum class TImageDataRoad {
    // The fastest of the others that keeps within the compressed data and
    // one copy of the decoded picture (see ChooseImageDataRoad).
    Chosen,
    // Inflated whole with libdeflate into the end of the bitmap's memory,
    // then unfiltered row by row into its rows (plain pictures only; the
    // bitmap is made with room for the data).
    InPlace,
    // Inflated with zlib on a thread of its own, a batch of rows at a time,
    // while the caller unfilters and converts the batches already inflated.
    Overlapped,
    // Inflated with zlib and unfiltered a batch of rows at a time on the
    // caller's thread.
    Streamed,
};

// The road of a picture of filteredSize bytes of image data whose bitmap
// takes dibBytes: in place where those data fit in the memory the bitmap
// has anyway (no room for them kept after opening, and no more memory than
// the compressed data and the bitmap at any time); otherwise overlapped
// when the data are large enough to be worth a thread and there is more
// than one (not on a thread of the shared pool, whose work already fills
// the cores); streamed for the rest.
TImageDataRoad ChooseImageDataRoad(std::size_t filteredSize, std::size_t dibBytes, int interlace);

// Any other road than Chosen is taken wherever it can be (a picture the
// in-place road does not take goes streamed), for tests and benchmarks that
// compare them.
void SetImageDataRoad(TImageDataRoad road);
TImageDataRoad ImageDataRoad();

} // namespace pngimpl
