// Feeds a scanned page built from arbitrary bytes: each frame's parameters
// (format, depth, sizes, the last-frame flag) and then its data in pieces of
// arbitrary length, as a faulty scanner might send them. Only the
// graphics layer's exceptions are expected; anything else is a finding.

#include "Sane.h"

#include <cstddef>
#include <cstdint>

namespace {

class TReader {
public:
    TReader(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
    bool Empty() const { return FPos >= FSize; }
    std::uint32_t Take(int bytes)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | (FPos < FSize ? FData[FPos++] : 0);
        return v;
    }
    const std::uint8_t* Span(std::size_t& count)
    {
        count = std::min(count, FSize - std::min(FPos, FSize));
        const std::uint8_t* p = FData + std::min(FPos, FSize);
        FPos += count;
        return p;
    }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SetPixelBudget(std::size_t{1} << 20);
    TReader in(data, size);
    try {
        TPageAssembler page("fuzz");
        for (int frame = 0; frame < 4 && !in.Empty(); ++frame) {
            TFrameParameters p;
            const std::uint32_t head = in.Take(1);
            p.Format = static_cast<SANE_Frame>(head % 6);
            p.LastFrame = (head & 0x80) != 0;
            static const int depths[] = {1, 8, 16, 4};
            p.Depth = depths[(head >> 3) & 3];
            p.PixelsPerLine = static_cast<std::int16_t>(in.Take(2));
            p.BytesPerLine = static_cast<std::int16_t>(in.Take(2));
            p.Lines = static_cast<std::int16_t>(in.Take(2));
            page.BeginFrame(p);
            const int pieces = static_cast<int>(in.Take(1) % 16);
            for (int i = 0; i < pieces; ++i) {
                std::size_t count = in.Take(2);
                const std::uint8_t* bytes = in.Span(count);
                page.Add(bytes, count);
            }
            page.EndFrame();
            if (p.LastFrame)
                break;
        }
        const auto bitmap = page.Result();
        if (bitmap)
            bitmap->SetPixelFormat(pf24bit);
    } catch (const Exception&) {
    }
    return 0;
}
