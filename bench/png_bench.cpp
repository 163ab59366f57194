// PNG decoding and encoding speed beside libpng (same zlib), on a generated
// photo and a generated screenshot.
//
// Decoding: files written by libpng with its defaults (level 6, adaptive
// filters), read by TPngPicture::LoadFromStream into its bitmap, and by
// libpng into 8-bit rows (16-bit samples stripped, palettes kept).
// Encoding: the same pixels at the same deflate level with the filter the
// editor writes (Sub) and zlib's default strategy in both; the file sizes are
// reported as the "bytes" counter. libpng's own adaptive filtering is shown
// beside them for reference. The ratios to libpng are printed at the end
// (picture 0 is the photo, 1 the screenshot).

#include "BenchRatios.h"
#include "PngCodec.h"

#include "Bitmap.h"
#include "Streams.h"

#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A photo-like picture: smooth light and shade, a few soft shapes and a
// little sensor noise.
std::unique_ptr<TBitmap> MakePhoto(int w, int h)
{
    auto bmp = std::make_unique<TBitmap>(w, h, pf24bit);
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = bmp->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const double u = static_cast<double>(x) / w, v = static_cast<double>(y) / h;
            const double sky = 0.5 + 0.5 * std::sin(3.1 * u + 1.7 * v);
            const double hill = 0.5 + 0.5 * std::cos(7.0 * u * v + 2.0 * std::sin(5.0 * v));
            const double blob = std::exp(-((u - 0.6) * (u - 0.6) + (v - 0.4) * (v - 0.4)) * 18.0);
            const double c[3] = {40 + 150 * sky + 60 * blob, 60 + 120 * hill + 40 * blob, 90 + 100 * sky * hill};
            for (int k = 0; k < 3; ++k) {
                const double value = c[k] + noise(rng);
                row[3 * x + (2 - k)] = static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
            }
        }
    }
    return bmp;
}

// A screenshot-like picture: flat panels, a gradient title bar and lines of
// small glyph-like marks.
std::unique_ptr<TBitmap> MakeScreenshot(int w, int h)
{
    auto bmp = std::make_unique<TBitmap>(w, h, pf24bit);
    std::mt19937 rng(7);
    auto fill = [&](int x0, int y0, int x1, int y1, TColor c) {
        for (int y = std::max(0, y0); y < std::min(h, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(w, x1); ++x)
                bmp->SetPixelColor(x, y, c);
    };
    fill(0, 0, w, h, RGB(236, 236, 236));
    for (int y = 0; y < 28; ++y)
        fill(0, y, w, y + 1, RGB(30 + y * 3, 60 + y * 4, 140 + y * 3));
    fill(0, 28, 220, h, RGB(250, 250, 250));
    fill(240, 48, w - 20, h - 20, RGB(255, 255, 255));
    std::uniform_int_distribution<int> glyph(2, 7), gap(0, 9);
    for (int line = 60; line + 12 < h - 30; line += 18) {
        int x = 260;
        while (x < w - 60) {
            if (gap(rng) == 0) {
                x += 12;
                continue;
            }
            const int gw = glyph(rng);
            fill(x, line + 2 + glyph(rng) / 3, x + gw, line + 11, RGB(20, 20, 20));
            x += gw + 2;
        }
    }
    for (int i = 0; i < 30; ++i)
        fill(12, 40 + i * 22, 200, 56 + i * 22, i % 3 ? RGB(250, 250, 250) : RGB(210, 225, 245));
    return bmp;
}

struct Picture {
    std::unique_ptr<TBitmap> Bitmap;
    Bytes Rgb;         // rows of R, G, B
    Bytes LibpngFile;  // written by libpng with its defaults
};

Bytes RgbRows(const TBitmap& bmp)
{
    Bytes rgb(static_cast<std::size_t>(bmp.Width()) * bmp.Height() * 3);
    for (int y = 0; y < bmp.Height(); ++y) {
        const std::uint8_t* row = bmp.ScanLine(y);
        std::uint8_t* out = &rgb[static_cast<std::size_t>(y) * bmp.Width() * 3];
        for (int x = 0; x < bmp.Width(); ++x) {
            out[3 * x] = row[3 * x + 2];
            out[3 * x + 1] = row[3 * x + 1];
            out[3 * x + 2] = row[3 * x];
        }
    }
    return rgb;
}

// ---- libpng

void WriteToVector(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

// Encodes RGB rows; filters < 0 keeps libpng's adaptive choice and strategy.
Bytes LibpngEncode(const Bytes& rgb, int w, int h, int level, int filters)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng write failed");
    }
    png_set_write_fn(png, &out, WriteToVector, FlushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, level);
    if (filters >= 0) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
        png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
    }
    png_write_info(png, info);
    for (int y = 0; y < h; ++y)
        png_write_row(png, const_cast<png_bytep>(&rgb[static_cast<std::size_t>(y) * w * 3]));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct MemoryReader {
    const Bytes* Data;
    std::size_t Pos;
};

void ReadFromMemory(png_structp png, png_bytep data, png_size_t length)
{
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (r->Pos + length > r->Data->size())
        png_error(png, "read past the end");
    std::memcpy(data, r->Data->data() + r->Pos, length);
    r->Pos += length;
}

// Decodes into 8-bit rows; answers the number of pixel bytes.
std::size_t LibpngDecode(const Bytes& file, Bytes& pixels)
{
    MemoryReader reader{&file, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw std::runtime_error("libpng read failed");
    }
    png_set_read_fn(png, &reader, ReadFromMemory);
    png_read_info(png, info);
    png_set_strip_16(png);
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    pixels.resize(rowBytes * h);
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y)
        rows[y] = &pixels[y * rowBytes];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return pixels.size();
}

Picture& Get(int which)
{
    static Picture pictures[2];
    Picture& p = pictures[which];
    if (!p.Bitmap) {
        p.Bitmap = which == 0 ? MakePhoto(1600, 1200) : MakeScreenshot(1440, 900);
        p.Rgb = RgbRows(*p.Bitmap);
        p.LibpngFile = LibpngEncode(p.Rgb, p.Bitmap->Width(), p.Bitmap->Height(), 6, -1);
        // PNG_BENCH_DUMP=<folder> keeps the decoded files for a look.
        if (const char* dump = std::getenv("PNG_BENCH_DUMP")) {
            const std::string path = std::string(dump) + "/" + (which == 0 ? "photo" : "screenshot") + ".png";
            if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
                std::fwrite(p.LibpngFile.data(), 1, p.LibpngFile.size(), f);
                std::fclose(f);
            }
        }
    }
    return p;
}

const char* Name(int which)
{
    return which == 0 ? "photo" : "screenshot";
}

void BM_DecodeOurs(benchmark::State& state)
{
    Picture& p = Get(static_cast<int>(state.range(0)));
    TMemoryStream stream(p.LibpngFile);
    for (auto _ : state) {
        stream.SetPosition(0);
        TPngPicture png;
        png.LoadFromStream(stream);
        benchmark::DoNotOptimize(png.DibRow(0));
    }
    state.SetLabel(Name(static_cast<int>(state.range(0))));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(p.Rgb.size()));
}

void BM_DecodeLibpng(benchmark::State& state)
{
    Picture& p = Get(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Bytes pixels;
        benchmark::DoNotOptimize(LibpngDecode(p.LibpngFile, pixels));
    }
    state.SetLabel(Name(static_cast<int>(state.range(0))));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(p.Rgb.size()));
}

void BM_EncodeOurs(benchmark::State& state)
{
    Picture& p = Get(static_cast<int>(state.range(0)));
    TPngPicture png;
    png.Assign(*p.Bitmap);
    png.CompressionLevel = static_cast<std::uint8_t>(state.range(1));
    std::size_t size = 0;
    for (auto _ : state) {
        TMemoryStream out;
        png.SaveToStream(out);
        size = static_cast<std::size_t>(out.Size());
    }
    state.SetLabel(Name(static_cast<int>(state.range(0))));
    state.counters["bytes"] = static_cast<double>(size);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(p.Rgb.size()));
}

void BM_EncodeLibpngSub(benchmark::State& state)
{
    Picture& p = Get(static_cast<int>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state)
        size = LibpngEncode(p.Rgb, p.Bitmap->Width(), p.Bitmap->Height(), static_cast<int>(state.range(1)),
                            PNG_FILTER_SUB)
                   .size();
    state.SetLabel(Name(static_cast<int>(state.range(0))));
    state.counters["bytes"] = static_cast<double>(size);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(p.Rgb.size()));
}

void BM_EncodeLibpngAdaptive(benchmark::State& state)
{
    Picture& p = Get(static_cast<int>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state)
        size = LibpngEncode(p.Rgb, p.Bitmap->Width(), p.Bitmap->Height(), static_cast<int>(state.range(1)), -1).size();
    state.SetLabel(Name(static_cast<int>(state.range(0))));
    state.counters["bytes"] = static_cast<double>(size);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(p.Rgb.size()));
}

} // namespace

BENCHMARK(BM_DecodeOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLibpng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->ArgsProduct({{0, 1}, {7, 9}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLibpngSub)->ArgsProduct({{0, 1}, {7, 9}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLibpngAdaptive)->ArgsProduct({{0, 1}, {7}})->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    std::vector<benchratios::TRatio> ratios;
    for (const char* picture : {"0", "1"}) {
        ratios.push_back({std::string("BM_DecodeOurs/") + picture, std::string("BM_DecodeLibpng/") + picture, 0.5});
        for (const char* level : {"7", "9"})
            ratios.push_back({std::string("BM_EncodeOurs/") + picture + "/" + level,
                              std::string("BM_EncodeLibpngSub/") + picture + "/" + level, 0.5});
    }
    return benchratios::RunAndPrintRatios(argc, argv, ratios);
}
