#pragma once
// Animations built in memory for the rendering and painter tests, two
// small files whose frames the buffered paint leaves out, and a small file
// whose screen is far larger than its data.

#include "GifPainter.h"

#include "../common/TestUtil.h"
#include "Bitmap.h"
#include "Canvas.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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

// Two files, 2 x 2 pixels and looping for ever, whose first frame is red
// with a blue last pixel and whose frames the buffered paint leaves out.
// A damaged file: frame 0 with disposal method 6, then a graphic control
// extension asking for method 2 whose image is missing.
inline std::vector<std::uint8_t> DamagedDisposalsGif()
{
    return {'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0, // screen, global table of 2
            0xFF, 0, 0, 0, 0, 0xFF,                                // red, blue
            0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', // loop count 0
            3, 1, 0, 0, 0,
            0x21, 0xF9, 4, 6 << 2, 10, 0, 0, 0,                      // disposal 6, 10 units
            0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 2, 0x84, 0x53, 0,    // indices 0 0 0 1
            0x21, 0xF9, 4, 2 << 2, 10, 0, 0, 0,                      // disposal 2
            0x3B};
}

// The script with which python3 and PIL write the other file at the path
// given as its argument: disposal methods 4 then 3, the second frame green.
inline std::string PilDisposalsGifScript()
{
    return "import sys\n"
           "from PIL import Image\n"
           "a = Image.new('RGB', (2, 2), (255, 0, 0))\n"
           "a.putpixel((1, 1), (0, 0, 255))\n"
           "b = Image.new('RGB', (2, 2), (0, 255, 0))\n"
           "a.save(sys.argv[1], save_all=True, append_images=[b], disposal=[4, 3], loop=0, optimize=False)\n";
}

// Writes both files into dir and answers their paths, PIL's first.
inline std::vector<std::string> WriteDisposalsGifs(const testutil::TempDir& dir)
{
    const std::string pil = dir.File("pil.gif");
    const auto made = testutil::Run(testutil::PythonWithPil() + " -c " + testutil::Quote(PilDisposalsGifScript()) +
                                    " " + testutil::Quote(pil));
    EXPECT_EQ(made.ExitCode, 0) << made.Output;
    const std::string damaged = dir.File("damaged.gif");
    testutil::WriteFile(damaged, DamagedDisposalsGif());
    return {pil, damaged};
}

// 62 bytes: a 1024 x 1024 screen with a table of red and black, a graphic
// control extension, a comment and one red 1 x 1 frame at 0, 0 (code size 2:
// clear 4, index 0, end 5 in 3 bits each, 0x144). The screen is no data: 62
// bytes could fill at most 62 x 8 / 2 x 4096 = 1015808 pixels at LZW's best,
// and that says nothing of it.
inline std::vector<std::uint8_t> ScreenPastItsDataGif()
{
    std::vector<std::uint8_t> gif{'G', 'I', 'F', '8', '9', 'a', 0x00, 0x04, 0x00, 0x04, 0x80, 0, 0,
                                  255, 0,   0,   0,   0,   0};
    const std::string comment = "1x1 / 1024x1024";
    gif.insert(gif.end(), {0x21, 0xF9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0xFE,
                           static_cast<std::uint8_t>(comment.size())});
    gif.insert(gif.end(), comment.begin(), comment.end());
    gif.insert(gif.end(), {0x00, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B});
    return gif;
}

} // namespace gifanim
