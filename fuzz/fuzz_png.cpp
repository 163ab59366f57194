// Loads arbitrary bytes as a PNG picture, draws it plainly and stretched,
// saves it and loads the result again. Any outcome but a picture or one of
// our exceptions is a finding.
//
// The first byte chooses the mode. With its low bit set the rest is taken as
// a PNG stream whose chunk CRCs are put right first (and the signature put in
// front when missing), so that mutations reach the chunk bodies instead of
// stopping at the CRC check.

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "PngCodec.h"
#include "Streams.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void FixCrcs(std::vector<std::uint8_t>& d)
{
    std::size_t p = 8;
    while (p + 12 <= d.size()) {
        const std::uint32_t len = (std::uint32_t{d[p]} << 24) | (std::uint32_t{d[p + 1]} << 16) |
                                  (std::uint32_t{d[p + 2]} << 8) | d[p + 3];
        if (len > d.size() - p - 12)
            break;
        const uLong crc = crc32(0, &d[p + 4], static_cast<uInt>(len + 4));
        for (int i = 0; i < 4; ++i)
            d[p + 8 + len + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        p += 12 + len;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool budgetSet = [] {
        SetPixelBudget(std::size_t{1} << 22);
        return true;
    }();
    (void)budgetSet;
    if (size == 0)
        return 0;
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    if (data[0] & 1) {
        if (bytes.size() < 8 || std::memcmp(bytes.data(), Signature, 8) != 0)
            bytes.insert(bytes.begin(), Signature, Signature + 8);
        FixCrcs(bytes);
    }
    try {
        TPngPicture png;
        TMemoryStream stream(bytes);
        png.LoadFromStream(stream);
        const int w = png.Width(), h = png.Height();
        TBitmap target(std::min(w, 64) + 3, std::min(h, 64) + 3, pf24bit);
        target.Canvas().Draw(1, 1, png);
        target.Canvas().StretchDraw(Rect(0, 0, 7, 5), png);
        (void)png.PixelColor(w - 1, h - 1);
        if (static_cast<std::size_t>(w) * static_cast<std::size_t>(h) <= (std::size_t{1} << 16)) {
            png.CompressionLevel = static_cast<std::uint8_t>(data[0] >> 1);
            png.RowFilters = static_cast<TFilterSet>(data[0]);
            // What loaded must save, and load again.
            try {
                TMemoryStream out;
                png.SaveToStream(out);
                TPngPicture again;
                out.SetPosition(0);
                again.LoadFromStream(out);
                if (again.Width() != w || again.Height() != h)
                    __builtin_trap();
            } catch (const Exception&) {
                __builtin_trap();
            }
        }
    } catch (const Exception&) {
    }
    return 0;
}
