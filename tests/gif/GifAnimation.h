#pragma once
// Animations built in memory for the rendering and painter tests.

#include "GifPainter.h"

#include "Bitmap.h"
#include "Canvas.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace gifanim {

struct FramePlan {
    int Left = 0;
    int Top = 0;
    int Width = 1;
    int Height = 1;
    std::vector<std::uint8_t> Pixels; // one index per pixel; empty: all 0
    int Disposal = -1;                // -1: no graphic control extension
    int Delay = 0;
    int Transparent = -1;
};

// Screen width x height, the global table, the frames in order; loops >= 0
// puts a looping extension with that count before frame 0.
inline std::unique_ptr<TGifPicture> MakeAnimation(int width, int height, const std::vector<TColor>& global,
                                                  const std::vector<FramePlan>& frames, int loops = -1)
{
    auto image = std::make_unique<TGifPicture>();
    image->SetWidth(width);
    image->SetHeight(height);
    for (TColor c : global)
        image->Header.GlobalTable.AppendColor(c);
    bool first = true;
    for (const FramePlan& plan : frames) {
        auto frame = std::make_unique<TGIFSubImage>(image.get());
        if (first && loops >= 0) {
            auto loop = std::make_unique<TGIFAppExtNSLoop>(frame.get());
            loop->LoopCount = static_cast<std::uint16_t>(loops);
            frame->Extensions().Append(std::move(loop));
        }
        first = false;
        if (plan.Disposal >= 0 || plan.Delay != 0 || plan.Transparent >= 0) {
            auto control = std::make_unique<TGIFGraphicControlExtension>(frame.get());
            TGIFGraphicControlExtension* raw = control.get();
            frame->Extensions().Append(std::move(control));
            raw->SetDisposalMethod(std::max(plan.Disposal, 0));
            raw->SetDelayTime(static_cast<std::uint16_t>(plan.Delay));
            if (plan.Transparent >= 0) {
                raw->SetTransparentIndex(plan.Transparent);
                raw->SetTransparentFlag(true);
            }
        }
        frame->PlaceFrame(plan.Left, plan.Top, plan.Width, plan.Height);
        if (!plan.Pixels.empty())
            std::copy(plan.Pixels.begin(), plan.Pixels.end(), frame->PixelData());
        image->AddFrame(std::move(frame));
    }
    return image;
}

// Runs the calls painter threads queue for this thread until done() holds
// (at most ten seconds of real time); false on time-out.
inline bool PumpUntil(const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        GIFPumpSynchronizedFor(2);
    }
    return true;
}

// Colours of a bitmap's row as TColor values.
inline std::vector<TColor> Row(const TBitmap& bitmap, int y)
{
    std::vector<TColor> row;
    for (int x = 0; x < bitmap.Width(); ++x)
        row.push_back(ColorToRGB(bitmap.GetPixelColor(x, y)));
    return row;
}

} // namespace gifanim
