// Playing a 200-frame 480 x 360 animation: the painter at speed -1 (no
// delays) composing every frame onto a bitmap, the frame composer alone,
// and the decoding of the same file for comparison; beside ImageMagick's
// `convert -coalesce` of the file (the outside peer) and a memcpy of every
// composed screen into a buffer already mapped (the memory limit).

#include "GifPainter.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Streams.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

constexpr int Width = 480;
constexpr int Height = 360;
constexpr int FrameCount = 200;

// The animation on disk, made once: a full first frame, then frames of a
// quarter of the screen moving about with disposals 1, 2 and 3 in turn,
// every third one with transparent pixels.
const std::string& AnimationFile()
{
    static const std::string path = [] {
        std::mt19937 random(7);
        TGifPicture image;
        image.SetWidth(Width);
        image.SetHeight(Height);
        for (int i = 0; i < 256; ++i)
            image.Header.GlobalTable.AppendColor(RGB(i, (i * 7) & 255, (i * 13) & 255));
        for (int f = 0; f < FrameCount; ++f) {
            auto frame = std::make_unique<TGIFSubImage>(&image);
            const int w = f == 0 ? Width : Width / 2;
            const int h = f == 0 ? Height : Height / 2;
            const int left = f == 0 ? 0 : static_cast<int>(random() % (Width - w));
            const int top = f == 0 ? 0 : static_cast<int>(random() % (Height - h));
            auto control = std::make_unique<TGIFGraphicControlExtension>(frame.get());
            TGIFGraphicControlExtension* raw = control.get();
            frame->Extensions().Append(std::move(control));
            raw->SetDisposalMethod(f == 0 ? 1 : 1 + f % 3);
            raw->SetDelayTime(4);
            frame->PlaceFrame(left, top, w, h);
            std::uint8_t* p = frame->PixelData();
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    p[y * w + x] = static_cast<std::uint8_t>((x / 8 + y / 8 + f) & 255);
            if (f % 3 == 0 && f > 0) {
                raw->SetTransparentIndex(0);
                raw->SetTransparentFlag(true);
            }
            image.AddFrame(std::move(frame));
        }
        const char* tmp = std::getenv("TMPDIR");
        const std::string file = std::string(tmp ? tmp : "/tmp") + "/corvinel-anim-bench.gif";
        image.SaveToFile(file);
        return file;
    }();
    return path;
}

TMemoryStream& AnimationData()
{
    static TMemoryStream* stream = [] {
        auto* s = new TMemoryStream;
        s->LoadFromFile(AnimationFile());
        return s;
    }();
    return *stream;
}

void SetFrames(benchmark::State& state)
{
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * FrameCount, benchmark::Counter::kIsRate);
}

void BM_DecodeFile(benchmark::State& state)
{
    for (auto _ : state) {
        TGifPicture image;
        AnimationData().SetPosition(0);
        image.LoadFromStream(AnimationData());
        benchmark::DoNotOptimize(image.Frames.Count());
    }
    SetFrames(state);
}
BENCHMARK(BM_DecodeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PainterAtSpeedMinusOne(benchmark::State& state)
{
    TGifPicture image;
    AnimationData().SetPosition(0);
    image.LoadFromStream(AnimationData());
    image.PlaybackSpeed = -1;
    TBitmap screen(Width, Height);
    for (auto _ : state) {
        TGIFPainter* painter = image.StartPainter(nullptr, screen.Canvas(), poThreaded | poAnimate | poTransparent,
                                                  TRect{0, 0, Width, Height});
        painter->Run();
        while (!painter->Finished())
            GIFPumpSynchronizedFor(1);
        image.StopAllPainters();
    }
    SetFrames(state);
}
BENCHMARK(BM_PainterAtSpeedMinusOne)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrameComposer(benchmark::State& state)
{
    TGifPicture image;
    AnimationData().SetPosition(0);
    image.LoadFromStream(AnimationData());
    for (auto _ : state) {
        TGIFFrameComposer composer(image);
        while (composer.Advance())
            benchmark::DoNotOptimize(composer.Rgb().data());
    }
    SetFrames(state);
}
BENCHMARK(BM_FrameComposer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImageMagickCoalesce(benchmark::State& state)
{
    const std::string command = "/usr/bin/convert '" + AnimationFile() + "' -coalesce null: 2>/dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("/usr/bin/convert failed");
            break;
        }
    SetFrames(state);
}
BENCHMARK(BM_ImageMagickCoalesce)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_MemcpyLimit(benchmark::State& state)
{
    const std::size_t bytes = static_cast<std::size_t>(Width) * Height * 3;
    std::vector<std::uint8_t> source(bytes, 1);
    std::vector<std::uint8_t> target(bytes, 0);
    for (auto _ : state) {
        for (int f = 0; f < FrameCount; ++f) {
            std::memcpy(target.data(), source.data(), bytes);
            benchmark::ClobberMemory();
        }
    }
    SetFrames(state);
}
BENCHMARK(BM_MemcpyLimit)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
