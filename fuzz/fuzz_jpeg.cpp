// Loads arbitrary bytes as a JPEG picture and decodes its pixels. Any
// outcome but a picture or one of our exceptions is a finding.
//
// This covers our wrapper around libjpeg (error recovery, the scan and
// memory limits, the pixel budget, the conversions), not libjpeg itself:
// the library is the system's, built without the sanitizers' coverage, and
// fuzzed upstream.

#include "Bitmap.h"
#include "Exceptions.h"
#include "Jpeg.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool budgetSet = [] {
        SetPixelBudget(std::size_t{1} << 22);
        return true;
    }();
    (void)budgetSet;
    try {
        TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
        TJPEGImage jpeg;
        jpeg.LoadFromStream(stream);
        jpeg.DIBNeeded();
        // Grey decoding takes another road through the decoder.
        jpeg.SetGrayscale(true);
        jpeg.DIBNeeded();
    } catch (const Exception&) {
    }
    return 0;
}
