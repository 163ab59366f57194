// Kodak Photo-CD reading: one of the three lower resolutions of an image
// pack, from its luminance and chrominance planes to 24-bit colour, turned
// upright as the pack's orientation says. Reading only.

#include "ImageReaders.h"
#include "ReaderSupport.h"

#include "Exceptions.h"
#include "Numeric.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t SignatureOffset = 2048;
// The image attributes byte of the pack information sector: its low two bits
// are the orientation, in quarter turns.
constexpr std::int64_t OrientationOffset = 0x0E02;
// A second orientation byte some packs carry; it counts only where the
// attributes byte says the picture is upright.
constexpr std::int64_t LegacyOrientationOffset = 194635;

struct TPCDImage {
    std::int64_t Offset;
    std::size_t Width; // landscape
    std::size_t Height;
};

constexpr TPCDImage Images[] = {{0x2000, 192, 128}, {0xB800, 384, 256}, {0x30000, 768, 512}};

std::uint8_t Clamp(std::int64_t v)
{
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
}

// Chrominance of one row pair, W / 2 samples with a copy of the last one
// behind them, doubled to W samples for the upper row and, with the next
// pair's samples, for the lower one.
void Upsample(const std::uint8_t* c, const std::uint8_t* next, std::size_t half, std::uint8_t* upper,
              std::uint8_t* lower)
{
    for (std::size_t k = 0; k < half; ++k) {
        const unsigned c0 = c[k], c1 = k + 1 < half ? c[k + 1] : c[k];
        const unsigned n0 = next[k], n1 = k + 1 < half ? next[k + 1] : next[k];
        upper[2 * k] = static_cast<std::uint8_t>(c0);
        upper[2 * k + 1] = static_cast<std::uint8_t>((c0 + c1) / 2);
        lower[2 * k] = static_cast<std::uint8_t>((c0 + n0) / 2);
        lower[2 * k + 1] = static_cast<std::uint8_t>((c0 + c1 + n0 + n1) / 4);
    }
}

} // namespace

TPCDGraphic::TPCDGraphic() = default;

void TPCDGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    const std::int64_t start = stream.Position();
    char signature[7];
    stream.SetPosition(start + SignatureOffset);
    ReadOrShortFileError(stream, signature, sizeof signature, "PCD");
    if (std::memcmp(signature, "PCD_IPI", 7) != 0)
        throw Exception("PCD: wrong image format.");
    stream.SetPosition(start + OrientationOffset);
    std::uint8_t attributes = 0;
    ReadOrShortFileError(stream, &attributes, 1, "PCD");
    int orientation = attributes & 3;
    if (orientation == 0 && stream.Size() - start > LegacyOrientationOffset) {
        stream.SetPosition(start + LegacyOrientationOffset);
        orientation = stream.ReadU8() & 3;
    }
    if (Resolution > 2)
        throw Exception("PCD: image size currently not supported");
    const TPCDImage& image = Images[Resolution];
    const std::size_t w = image.Width, h = image.Height, half = w / 2;
    const bool portrait = orientation == 1 || orientation == 3;

    // The image is read whole before the picture is made.
    const std::size_t size = h / 2 * 3 * w;
    stream.SetPosition(start + image.Offset);
    if (stream.Remaining() < static_cast<std::int64_t>(size))
        ShortFileError("PCD");
    std::vector<std::uint8_t> data = MakeBuffer(size);
    stream.ReadBuffer(data.data(), data.size());
    PrepareBitmap(*this, pf24bit, static_cast<std::int64_t>(portrait ? h : w),
                  static_cast<std::int64_t>(portrait ? w : h), {}, "PCD: image size currently not supported");

    std::vector<std::uint8_t> chroma = MakeBuffer(4 * w);
    std::uint8_t* c1Upper = chroma.data();
    std::uint8_t* c1Lower = c1Upper + w;
    std::uint8_t* c2Upper = c1Lower + w;
    std::uint8_t* c2Lower = c2Upper + w;
    for (std::size_t y = 0; y < h; y += 2) {
        const std::uint8_t* record = data.data() + y / 2 * 3 * w;
        const std::uint8_t* next = y + 2 < h ? record + 3 * w : record;
        Upsample(record + 2 * w, next + 2 * w, half, c1Upper, c1Lower);
        Upsample(record + 2 * w + half, next + 2 * w + half, half, c2Upper, c2Lower);
        for (std::size_t dy = 0; dy < 2; ++dy) {
            const std::uint8_t* luma = record + dy * w;
            const std::uint8_t* c1 = dy == 0 ? c1Upper : c1Lower;
            const std::uint8_t* c2 = dy == 0 ? c2Upper : c2Lower;
            const std::size_t ly = y + dy;
            for (std::size_t x = 0; x < w; ++x) {
                const Extended l = 1.3584L * luma[x];
                const Extended cb = static_cast<Extended>(c1[x]) - 156;
                const Extended cr = static_cast<Extended>(c2[x]) - 137;
                // Where the landscape pixel (x, ly) lands once the picture is upright.
                std::size_t row, column;
                switch (orientation) {
                case 0:
                    row = ly, column = x;
                    break;
                case 1: // a quarter turn to the left
                    row = w - 1 - x, column = ly;
                    break;
                case 2: // a half turn
                    row = h - 1 - ly, column = w - 1 - x;
                    break;
                default: // a quarter turn to the right
                    row = x, column = h - 1 - ly;
                    break;
                }
                std::uint8_t* pixel = ScanLine(static_cast<int>(row)) + 3 * column;
                pixel[0] = Clamp(Round(l + 2.2179L * cb));
                pixel[1] = Clamp(Round(l - 0.9271435L * cr - 0.4302726L * cb));
                pixel[2] = Clamp(Round(l + 1.8215L * cr));
            }
        }
    }
}

void TPCDGraphic::SaveToStream(TStream&) const {}

void TPCDGraphic::SaveToFile(const std::string&) const
{
    RefuseSave("Kodak Photo-CD");
}
