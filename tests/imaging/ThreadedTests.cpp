// The routines that split their rows over the shared pool give, bit for bit,
// what they give on one thread: on random pictures of every odd width from 1
// to 67 and on a 24-megapixel photo.

#include "photo.h"

#include "RandomPictures.h"

#include "Parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using imagingtest::RandomBitmap;

using Routine = std::function<void(TBitmap&)>;

struct NamedRoutine {
    const char* Name;
    Routine Run;
};

// Empty when both bitmaps have the same size and bytes (row padding included).
std::string Difference(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return "size " + std::to_string(a.Width()) + "x" + std::to_string(a.Height()) + " against " +
               std::to_string(b.Width()) + "x" + std::to_string(b.Height());
    if (a.PixelFormat() != b.PixelFormat() || a.RowStride() != b.RowStride())
        return "format or stride";
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), a.RowStride()) != 0)
            return "row " + std::to_string(y);
    return "";
}

TBitmap Copy(const TBitmap& b)
{
    TBitmap c;
    c.Assign(b);
    return c;
}

// Runs the routine on one thread and on several, on copies of the picture.
std::string SingleAgainstThreaded(const TBitmap& picture, const Routine& run, unsigned threads)
{
    TBitmap single = Copy(picture);
    TBitmap many = Copy(picture);
    {
        parallel::TThreadCountScope scope(1);
        run(single);
    }
    {
        parallel::TThreadCountScope scope(threads);
        run(many);
    }
    return Difference(single, many);
}

const TKernel3x3 Sharpen = TKernel3x3::FromRows({{-4, 0, -4}, {0, 40, 0}, {-4, 0, -4}});
const TKernel3x3 Fractional = TKernel3x3::FromRows({{0.1f, 0.2f, 0.1f}, {0.2f, 1.3f, 0.2f}, {0.1f, 0.2f, 0.1f}});
const TKernel3x3 Edges = TKernel3x3::FromRows({{0, -1, 0}, {-1, 4, -1}, {0, -1, 0}});

TKernel5x5 Gauss5()
{
    const float g[5] = {1, 4, 6, 4, 1};
    TKernel5x5 k;
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy)
            k.At(dx, dy) = g[dx + 2] * g[dy + 2];
    return k;
}

TKernel5x5 Wide5()
{
    // Partial sums beyond 16 bits: the wide vector path.
    TKernel5x5 k;
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy)
            k.At(dx, dy) = static_cast<float>((dx * 7 + dy * 3) % 5) * 40;
    k.At(0, 0) = 900;
    return k;
}

TKernel5x5 Fractional5()
{
    TKernel5x5 k;
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy)
            k.At(dx, dy) = 0.05f * static_cast<float>(3 - std::abs(dx) - std::abs(dy));
    return k;
}

std::vector<NamedRoutine> Routines()
{
    InitPhotoTables();
    return {
        {"Convolve3x3 sharpen", [](TBitmap& b) { Convolve3x3(b, Sharpen); }},
        {"Convolve3x3 fractional", [](TBitmap& b) { Convolve3x3(b, Fractional); }},
        {"Convolve3x3 edges", [](TBitmap& b) { Convolve3x3(b, Edges); }},
        {"Convolve5x5 gauss", [](TBitmap& b) { Convolve5x5(b, Gauss5()); }},
        {"Convolve5x5 wide", [](TBitmap& b) { Convolve5x5(b, Wide5()); }},
        {"Convolve5x5 fractional", [](TBitmap& b) { Convolve5x5(b, Fractional5()); }},
        {"ConvertToGrey 1", [](TBitmap& b) { ConvertToGrey(b, 1); }},
        {"ConvertToGrey 2", [](TBitmap& b) { ConvertToGrey(b, 2); }},
        {"ConvertToGrey 3", [](TBitmap& b) { ConvertToGrey(b, 3); }},
        {"AutoContrast", [](TBitmap& b) { AutoContrast(b, 2, 1, 0.7f); }},
        {"DitherOrdered3x3", [](TBitmap& b) { DitherOrdered3x3(b); }},
        {"DitherFloydSteinberg", [](TBitmap& b) { DitherFloydSteinberg(b); }},
        {"Rotate90 clockwise", [](TBitmap& b) { Rotate90(b, -1); }},
        {"Rotate90 anticlockwise", [](TBitmap& b) { Rotate90(b, 1); }},
        {"ResizeBitmap half", [](TBitmap& b) { ResizeBitmap(b, b.Width() / 2, b.Height() / 2); }},
        {"ResizeBitmap up", [](TBitmap& b) { ResizeBitmap(b, b.Width() * 3 / 2 + 1, b.Height() * 2 + 1); }},
    };
}

TEST(Threaded, SameAsOneThreadOnOddWidths)
{
    std::mt19937 rng(19);
    const int heights[] = {1, 2, 3, 5, 17, 40};
    for (const NamedRoutine& r : Routines())
        for (int w = 1; w <= 67; w += 2)
            for (int h : heights) {
                const TBitmap picture = RandomBitmap(w, h, rng);
                for (unsigned threads : {2u, 3u, 8u})
                    ASSERT_EQ(SingleAgainstThreaded(picture, r.Run, threads), "")
                        << r.Name << " on " << w << "x" << h << " with " << threads << " threads";
            }
}

TEST(Threaded, SameAsOneThreadFromEveryPixelFormat)
{
    // The routines take pictures of any format and work on 24 bits.
    std::mt19937 rng(1103);
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf32bit})
        for (const NamedRoutine& r : Routines())
            for (int w = 1; w <= 67; w += 6) {
                TBitmap picture = RandomBitmap(w, 11, rng);
                picture.SetPixelFormat(format);
                ASSERT_EQ(SingleAgainstThreaded(picture, r.Run, 4), "")
                    << r.Name << " on " << w << "x11 of format " << static_cast<int>(format);
            }
}

TEST(Threaded, SameAsOneThreadOnA24MegapixelPhoto)
{
    std::mt19937 rng(2024);
    const TBitmap photo = RandomBitmap(6000, 4000, rng);
    std::vector<NamedRoutine> routines = Routines();
    routines.push_back({"ResizeBitmap to 1024", [](TBitmap& b) { ResizeBitmap(b, 1024, 683); }});
    for (const NamedRoutine& r : routines)
        EXPECT_EQ(SingleAgainstThreaded(photo, r.Run, parallel::ProcessorCount() > 1 ? 0 : 4), "") << r.Name;
}

TEST(Threaded, PoolRunsEveryPieceOnceAndPassesErrorsOn)
{
    parallel::TThreadCountScope scope(4);
    std::vector<int> hits(1000);
    parallel::For(hits.size(), 7, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i)
            ++hits[i];
    });
    EXPECT_EQ(std::count(hits.begin(), hits.end(), 1), 1000);

    // Work started from inside a piece runs on that thread, and completes.
    std::vector<int> inner(64 * 64);
    parallel::For(64, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i)
            parallel::For(64, 1, [&](std::size_t b2, std::size_t e2) {
                for (std::size_t j = b2; j < e2; ++j)
                    ++inner[i * 64 + j];
            });
    });
    EXPECT_EQ(std::count(inner.begin(), inner.end(), 1), 64 * 64);

    EXPECT_THROW(parallel::For(100, 1,
                               [](std::size_t b, std::size_t) {
                                   if (b == 37)
                                       throw std::runtime_error("piece 37");
                               }),
                 std::runtime_error);
    // The pool still works after an error.
    std::atomic<int> sum{0};
    parallel::For(100, 3, [&](std::size_t b, std::size_t e) { sum += static_cast<int>(e - b); });
    EXPECT_EQ(sum.load(), 100);
}

} // namespace
