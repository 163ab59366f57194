// Loads arbitrary bytes as a whole GIF file through the picture registry,
// draws it, plays it with painters, composes every frame, saves it with both encoders and loads the
// result again with the same pixels. Any outcome but a picture or one of our exceptions is a
// finding.

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Formats.h"
#include "GifPainter.h"
#include "GifPicture.h"
#include "Picture.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

// The pixel indices of every frame that has pixels, in order.
std::vector<std::vector<std::uint8_t>> PicturePixels(TGifPicture& gif)
{
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < gif.Frames.Count(); ++i) {
        TGIFSubImage& frame = *gif.Frames.Frame(i);
        if (!frame.IsEmpty())
            frames.emplace_back(frame.PixelData(), frame.PixelData() + frame.PixelDataSize());
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        RegisterPictureFormats();
        // Small pictures only: the fuzzer looks for faults, not for memory.
        SetPixelBudget(std::size_t{1} << 20);
        return true;
    }();
    (void)ready;
    TGraphicClass cls = TPicture::FindGraphicClass("gif");
    if (!cls)
        __builtin_trap();
    std::unique_ptr<TGraphic> graphic = cls->Create();
    auto* gif = dynamic_cast<TGifPicture*>(graphic.get());
    if (!gif)
        __builtin_trap();
    try {
        TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
        gif->LoadFromStream(in);
    } catch (const Exception&) {
        return 0;
    }
    try {
        if (gif->Width() > 0 && gif->Height() > 0 && static_cast<std::size_t>(gif->Width()) * gif->Height() < 65536) {
            // The painters play inline on a clock that only moves when they
            // sleep: every frame at once, no real delays.
            TGIFManualClock clock;
            gif->Clock = &clock;
            gif->PaintOptions = poAnimate | poTransparent;
            TBitmap canvas(gif->Width(), gif->Height(), pf24bit);
            canvas.Canvas().Draw(0, 0, *gif);
            // Buffered, scaled, tiled and cleared.
            TBitmap other(gif->Width() / 2 + 1, gif->Height() + 3, pf24bit);
            gif->StartPainter(nullptr, other.Canvas(), poAnimate | poTransparent | poTile | poClearBackground,
                              TRect{0, 0, other.Width(), other.Height()});
            gif->StartPainter(nullptr, other.Canvas(), poAnimate, TRect{1, 2, other.Width(), other.Height()});
            TGIFFrameComposer composer(*gif);
            while (composer.Advance()) {
            }
        }
    } catch (const Exception&) {
    }
    for (std::uint8_t method : {emLZW, emRLE}) {
        TMemoryStream out;
        try {
            gif->EncodingMethod = method;
            gif->SaveToStream(out);
        } catch (const Exception&) {
            continue;
        }
        // What we wrote, we read, and its frames hold the same pixels.
        try {
            out.SetPosition(0);
            TGifPicture back;
            back.LoadFromStream(out);
            if (PicturePixels(*gif) != PicturePixels(back))
                __builtin_trap();
        } catch (const Exception&) {
            __builtin_trap();
        }
    }
    return 0;
}
