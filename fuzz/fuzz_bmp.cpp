// Loads arbitrary bytes as a BMP file and as a clipboard DIB. Only the
// graphics layer's exceptions are expected; anything else is a finding.

#include "Bitmap.h"
#include "Exceptions.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SetPixelBudget(std::size_t{1} << 22);
    try {
        TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
        TBitmap bitmap;
        bitmap.LoadFromStream(stream);
        // Writing back touches every row of what was read.
        TMemoryStream out;
        bitmap.SaveToStream(out);
    } catch (const Exception&) {
    }
    try {
        TBitmap bitmap;
        ReadDib(data, size, bitmap);
        if (!bitmap.Empty())
            bitmap.SetPixelFormat(pf24bit);
    } catch (const Exception&) {
    }
    return 0;
}
