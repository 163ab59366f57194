// GIF decoding and LZW encoding beside giflib (the reference) in the same run:
// a 12-megapixel single-frame picture (4000 x 3000, 256 colours of a
// photo-like scene with sensor-like noise) and a 200-frame 480 x 360
// animation. Both sides work from memory to memory. The limit beside them is
// a memcpy of the picture's indices into a buffer already mapped.
// Encoded sizes are reported as counters (bytes).

#include "GifPicture.h"

#include <gif_lib.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Indexed {
    int Width = 0;
    int Height = 0;
    int Frames = 1;
    Bytes Pixels; // frames one after the other
    std::vector<GifColorType> Colors;
};

Indexed MakePicture(int width, int height, int frames, unsigned seed)
{
    Indexed p;
    p.Width = width;
    p.Height = height;
    p.Frames = frames;
    for (int i = 0; i < 256; ++i)
        p.Colors.push_back(GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>((i * 7) & 255),
                                        static_cast<GifByteType>(255 - i)});
    p.Pixels.resize(static_cast<std::size_t>(width) * height * frames);
    std::mt19937 rng(seed);
    for (int f = 0; f < frames; ++f) {
        std::uint8_t* out = p.Pixels.data() + static_cast<std::size_t>(f) * width * height;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int dx = x - width * 2 / 3 - f * 2, dy = y - height / 3;
                const bool disc = dx * dx + dy * dy < (height / 4) * (height / 4);
                int v = (x * 96 / width) + (y * 96 / height) + (disc ? 60 : 0);
                // Dither-like noise on about one pixel in three.
                if (rng() % 3 == 0)
                    v += static_cast<int>(rng() % 5) - 2;
                out[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
    }
    return p;
}

const Indexed& Photo()
{
    static const Indexed p = MakePicture(4000, 3000, 1, 77);
    return p;
}

const Indexed& Animation()
{
    static const Indexed p = MakePicture(480, 360, 200, 5);
    return p;
}

// ---- giflib

struct MemoryIn {
    const Bytes* Data;
    std::size_t Pos;
};

int ReadMemory(GifFileType* gif, GifByteType* buffer, int count)
{
    auto* in = static_cast<MemoryIn*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), in->Data->size() - in->Pos);
    std::memcpy(buffer, in->Data->data() + in->Pos, n);
    in->Pos += n;
    return static_cast<int>(n);
}

int WriteMemory(GifFileType* gif, const GifByteType* buffer, int count)
{
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), buffer, buffer + count);
    return count;
}

Bytes GiflibEncode(const Indexed& p)
{
    Bytes out;
    out.reserve(p.Pixels.size());
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteMemory, &error);
    ColorMapObject* map = GifMakeMapObject(256, p.Colors.data());
    EGifPutScreenDesc(gif, p.Width, p.Height, 8, 0, map);
    for (int f = 0; f < p.Frames; ++f) {
        EGifPutImageDesc(gif, 0, 0, p.Width, p.Height, false, nullptr);
        const std::uint8_t* frame = p.Pixels.data() + static_cast<std::size_t>(f) * p.Width * p.Height;
        for (int y = 0; y < p.Height; ++y)
            EGifPutLine(gif, const_cast<GifPixelType*>(frame + static_cast<std::size_t>(y) * p.Width), p.Width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

int GiflibDecode(const Bytes& data)
{
    MemoryIn in{&data, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&in, ReadMemory, &error);
    if (!gif || DGifSlurp(gif) != GIF_OK)
        std::abort();
    const int count = gif->ImageCount;
    DGifCloseFile(gif, &error);
    return count;
}

// ---- ours

std::unique_ptr<TGifPicture> OurPicture(const Indexed& p)
{
    auto image = std::make_unique<TGifPicture>();
    TPalette palette;
    for (const GifColorType& c : p.Colors)
        palette.push_back(TPaletteEntry{c.Red, c.Green, c.Blue, 0});
    image->Header.GlobalTable.LoadPalette(palette);
    for (int f = 0; f < p.Frames; ++f) {
        auto frame = std::make_unique<TGIFSubImage>(image.get());
        frame->PlaceFrame(0, 0, p.Width, p.Height);
        std::memcpy(frame->PixelData(), p.Pixels.data() + static_cast<std::size_t>(f) * p.Width * p.Height,
                    frame->PixelDataSize());
        image->AddFrame(std::move(frame));
    }
    return image;
}

Bytes OurEncode(const TGifPicture& image, std::size_t reserve)
{
    TMemoryStream out;
    out.SetSize(static_cast<std::int64_t>(reserve));
    out.SetSize(0);
    image.SaveToStream(out);
    return out.TakeData();
}

const Indexed& Of(int which)
{
    return which == 0 ? Photo() : Animation();
}

void Label(benchmark::State& state, int which)
{
    state.SetLabel(which == 0 ? "12 MP single frame" : "200 frames 480x360");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(Of(which).Pixels.size()));
}

void BM_DecodeGiflib(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    const Bytes data = GiflibEncode(Of(which));
    for (auto _ : state)
        benchmark::DoNotOptimize(GiflibDecode(data));
    Label(state, which);
}

void BM_DecodeOurs(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    const Bytes data = GiflibEncode(Of(which));
    for (auto _ : state) {
        TGifPicture image;
        TMemoryStream in(data);
        image.LoadFromStream(in);
        benchmark::DoNotOptimize(image.Frames.Count());
    }
    Label(state, which);
}

void BM_EncodeGiflib(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    std::size_t size = 0;
    for (auto _ : state)
        size = GiflibEncode(Of(which)).size();
    state.counters["bytes"] = static_cast<double>(size);
    Label(state, which);
}

void BM_EncodeOurs(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    const auto image = OurPicture(Of(which));
    std::size_t size = 0;
    for (auto _ : state)
        size = OurEncode(*image, Of(which).Pixels.size()).size();
    state.counters["bytes"] = static_cast<double>(size);
    Label(state, which);
}

void BM_EncodeOursRunLength(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    const auto image = OurPicture(Of(which));
    image->EncodingMethod = emRLE;
    std::size_t size = 0;
    for (auto _ : state)
        size = OurEncode(*image, Of(which).Pixels.size() * 2).size();
    state.counters["bytes"] = static_cast<double>(size);
    Label(state, which);
}

void BM_MemcpyLimit(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    const Bytes& source = Of(which).Pixels;
    Bytes target(source.size(), 1);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    Label(state, which);
}

} // namespace

BENCHMARK(BM_DecodeGiflib)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGiflib)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOursRunLength)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyLimit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
